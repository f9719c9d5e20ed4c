"""Starts the built ombri-listener and talks to it over its pipes."""

import json
import os
import resource
import subprocess

LISTENER = os.environ["OMBRI_LISTENER"]


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


def start(env=None, **popen_args):
    """A running listener with the environment of `run_lines`; pipes unless given."""
    full_env = dict(os.environ)
    full_env.pop("QIR_MEETING_LISTENER_SMOKE", None)
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
