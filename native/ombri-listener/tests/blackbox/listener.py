"""Starts the built ombri-listener and talks to it over its pipes."""

import json
import os
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


def audio_world(directory, devices, default_input=None, default_output=None):
    """Writes an audio world file into `directory` and returns its path."""
    world = {"devices": devices}
    if default_input:
        world["defaultInput"] = default_input
    if default_output:
        world["defaultOutput"] = default_output
    path = os.path.join(directory, "audio.json")
    with open(path, "w") as f:
        json.dump(world, f)
    return path
