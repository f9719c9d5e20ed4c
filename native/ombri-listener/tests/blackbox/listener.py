"""Starts the built ombri-listener and talks to it over its pipes, and the inputs the tests give it."""

import json
import math
import os
import resource
import select
import subprocess
import sys
import tempfile
import time
import unittest

LISTENER = os.environ["OMBRI_LISTENER"]
STANDINS = os.environ["OMBRI_STANDINS_DIR"]
TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")
sys.path.insert(0, TOOLS)
from mono_wav import write_wav  # noqa: E402
from process_status import rss_anon_kb, thread_count  # noqa: E402,F401  (for the tests)

SAMPLES = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "..", "samples"))


def run_lines(data: bytes, env=None, args=(), timeout=30):
    """Feeds `data` to a fresh listener; returns (exit status, stdout lines, stderr text)."""
    full_env = dict(os.environ)
    full_env.pop("QIR_MEETING_LISTENER_SMOKE", None)
    full_env.update(env or {})
    done = subprocess.run([LISTENER, *args], input=data, capture_output=True, env=full_env, timeout=timeout)
    lines = done.stdout.decode("utf-8").splitlines()
    return done.returncode, lines, done.stderr.decode("utf-8", "replace")


def request(**fields) -> bytes:
    return json.dumps(fields).encode() + b"\n"


def parsed(lines):
    return [json.loads(line) for line in lines]


def answers_by_id(steps, count, timeout=120):
    """Runs `steps` against a fresh listener, each a request line to send or a
    function to call, and returns its first `count` answers by id, read before
    standard input closes; an answer that never comes fails the read."""
    # Unbuffered, so that no answer waits in a buffer that select cannot see.
    with subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          bufsize=0) as child:
        for step in steps:
            if callable(step):
                step()
            else:
                child.stdin.write(step)
        answers = {}
        deadline = time.monotonic() + timeout
        while len(answers) < count:
            ready, _, _ = select.select([child.stdout], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                child.kill()
                raise AssertionError("no answer within %s s; got %s" % (timeout, sorted(answers)))
            value = json.loads(child.stdout.readline())
            answers[value["id"]] = value
        child.stdin.close()
        child.wait(timeout=30)
    return answers


def audio_world(directory, devices, default_input=None, default_output=None, tap=None):
    """Writes an audio world file into `directory` and returns its path."""
    world = {"devices": devices}
    if tap:
        world["tap"] = tap
    if default_input:
        world["defaultInput"] = default_input
    if default_output:
        world["defaultOutput"] = default_output
    path = os.path.join(directory, "audio.json")
    with open(path, "w") as f:
        json.dump(world, f)
    return path


def world_env(world, tmp, **env_vars):
    """The environment of a listener on the audio world file `world`, with the
    system tools' stand-ins and `tmp` as its temporary directory."""
    env = dict(os.environ, PATH=STANDINS + os.pathsep + os.environ["PATH"], OMBRI_SIM_AUDIO=world, TMPDIR=tmp)
    env.update(env_vars)
    env.pop("QIR_MEETING_LISTENER_SMOKE", None)
    return env


class Meeting:
    """A listener on a world file, fed request lines with pauses between them."""

    def __init__(self, world, tmp, **env_vars):
        self.process = subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=world_env(world, tmp, **env_vars))
        self.read = []

    def send(self, **fields):
        self.process.stdin.write(json.dumps(fields).encode() + b"\n")
        self.process.stdin.flush()

    def wait_for(self, kind, count=1, timeout=30):
        """Reads lines until `count` events of type `kind` have come; returns them."""
        deadline = time.monotonic() + timeout
        while len([l for l in self.read if l.get("type") == kind]) < count:
            if time.monotonic() > deadline:
                raise AssertionError(f"no {count} {kind} events within {timeout} s")
            line = self.process.stdout.readline()
            if not line:
                raise AssertionError(f"the listener ended before {count} {kind} events")
            self.read.append(json.loads(line))
        return [l for l in self.read if l.get("type") == kind]

    def finish(self):
        out, err = self.process.communicate(timeout=30)
        return self.process.returncode, self.read + parsed(out.decode().splitlines()), err.decode()


def start(env=None, unset=(), **popen_args):
    """A running listener with the environment of `run_lines`, without the variables
    named in `unset`; pipes unless given."""
    full_env = dict(os.environ)
    for name in ("QIR_MEETING_LISTENER_SMOKE", *unset):
        full_env.pop(name, None)
    full_env.update(env or {})
    popen_args.setdefault("stdin", subprocess.PIPE)
    popen_args.setdefault("stdout", subprocess.PIPE)
    popen_args.setdefault("stderr", subprocess.PIPE)
    return subprocess.Popen([LISTENER], env=full_env, **popen_args)


def sanitized(pid):
    """True when the process runs under a sanitizer, which reserves address space of its own."""
    with open(f"/proc/{pid}/maps") as maps:
        text = maps.read()
    return "libasan" in text or "libtsan" in text


def limit_address_space(pid, extra_bytes):
    """Lets the running process map at most `extra_bytes` more than it has now."""
    with open(f"/proc/{pid}/status") as status:
        size_kb = next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))
    limit = size_kb * 1024 + extra_bytes
    resource.prlimit(pid, resource.RLIMIT_AS, (limit, limit))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class TinyTranscriptionCase(unittest.TestCase):
    """Tests given the tiny Whisper model (`model`) and 2.75 s of 16 kHz audio (`audio`),
    which the model decodes as one known segment, "w1000", in a directory of their own (`dir`)."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.model = os.path.join(cls.dir.name, "tiny.bin")
        subprocess.run([sys.executable, os.path.join(TOOLS, "make_tiny_whisper_model.py"), cls.model], check=True)
        cls.audio = os.path.join(cls.dir.name, "take.wav")
        write_wav(cls.audio, 16000, (8000 * math.sin(i * 0.05) for i in range(44000)))

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()
