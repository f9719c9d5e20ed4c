#!/usr/bin/env python3
"""Anonymous memory of the listener through a meeting that records system audio.

    tests/bench/meeting_memory.py [path/to/ombri-listener] [seconds]

Four meetings run side by side on simulated machines, a 48 kHz and a 16 kHz
float mono tap, each with and without live chunks; every line is read as it
comes, so nothing waits in the listener's queue. Printed: RssAnon (kB) after
3 s and at the end (60 s unless given).
"""

import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from process_status import rss_anon_kb  # noqa: E402

TAP_RATES = (48000, 16000)
WARM_UP_SECONDS = 3


def world(directory, tap_rate):
    path = os.path.join(directory, "audio.json")
    with open(path, "w") as f:
        json.dump({
            "devices": [
                {"uid": "mic", "name": "Built-in Microphone", "input": {"rate": 48000, "channels": 1, "sample": "f32"},
                 "signal": {"kind": "tone", "frequency": 440.0}},
                {"uid": "speakers", "name": "Built-in Output",
                 "output": {"rate": 48000, "channels": 2, "sample": "f32"}},
            ],
            "defaultInput": "mic",
            "defaultOutput": "speakers",
            "tap": {"rate": tap_rate, "channels": 1, "sample": "f32", "signal": {"kind": "tone", "frequency": 300.0}},
        }, f)
    return path


def meeting(listener, standins, directory, tap_rate, streamed):
    env = dict(os.environ, OMBRI_SIM_AUDIO=world(directory, tap_rate), TMPDIR=directory,
               PATH=standins + os.pathsep + os.environ["PATH"])
    process = subprocess.Popen([listener], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=env)
    args = {"meetingDir": os.path.join(directory, "meeting"), "streamSystemAudio": streamed}
    process.stdin.write(json.dumps({"id": "start", "cmd": "start", "args": args}).encode() + b"\n")
    process.stdin.flush()
    for line in process.stdout:
        answer = json.loads(line)
        if answer.get("id") == "start":
            if not answer["ok"]:
                sys.exit(f"the meeting did not start: {answer['error']['message']}")
            break
    threading.Thread(target=lambda: process.stdout.read(), daemon=True).start()
    return process


def main():
    listener = sys.argv[1] if len(sys.argv) > 1 else "build/native/ombri-listener/ombri-listener"
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    standins = os.path.join(os.path.dirname(os.path.abspath(listener)), "..", "..", "standins")
    marks = [WARM_UP_SECONDS, seconds]
    with tempfile.TemporaryDirectory() as tmp:
        runs = {}
        for tap_rate in TAP_RATES:
            for streamed in (False, True):
                directory = os.path.join(tmp, f"{tap_rate}-{streamed}")
                os.mkdir(directory)
                runs[tap_rate, streamed] = (meeting(listener, standins, directory, tap_rate, streamed), [])
        began = time.monotonic()
        for mark in marks:
            time.sleep(max(0.0, began + mark - time.monotonic()))
            for process, figures in runs.values():
                figures.append(rss_anon_kb(process.pid))
        print(f"{'tap':>9} {'live chunks':>11} " + " ".join(f"{f'RssAnon {m} s':>14}" for m in marks))
        for (tap_rate, streamed), (process, figures) in runs.items():
            process.stdin.close()
            process.wait(timeout=30)
            print(f"{tap_rate:>6} Hz {'yes' if streamed else 'no':>11} " + " ".join(f"{kb:>11} kB" for kb in figures))


if __name__ == "__main__":
    main()
