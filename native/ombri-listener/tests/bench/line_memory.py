#!/usr/bin/env python3
"""Peak memory and time of the listener answering one huge request line.

    tests/bench/line_memory.py [path/to/ombri-listener]

Each line is written piece by piece to a temporary file that becomes the
listener's standard input; the figures are the child's peak resident set
(wait4) and wall time. A child's peak starts at its parent's size when it is
started, so this script never holds a line in memory itself; the first figure,
an empty input, shows what the listener takes without any line.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

MB = 1_000_000
PIECE = 1 << 20


def repeated(unit, total):
    """`unit` repeated up to `total` bytes, in pieces of about a MiB."""
    piece = unit * (PIECE // len(unit))
    left = total
    while left > 0:
        yield piece[:left]
        left -= len(piece)


def empty_objects(total):
    count = (total - 1) // 3  # "[" and "{}" each, "," between
    yield b"[{}"
    yield from repeated(b",{}", 3 * (count - 1))
    yield b"]"


LINES = [
    ("empty input", lambda: iter(())),
    ('50 MB of "["', lambda: repeated(b"[", 50 * MB)),
    ("20 MB of [{},{},...]", lambda: empty_objects(20 * MB)),
]


def measure(listener, pieces):
    with tempfile.TemporaryFile() as requests:
        size = 0
        for piece in pieces:
            requests.write(piece)
            size += len(piece)
        if size:
            requests.write(b"\n")
        requests.seek(0)
        started = time.monotonic()
        child = subprocess.Popen([listener], stdin=requests, stdout=subprocess.PIPE)
        answer = child.stdout.read().decode()
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.monotonic() - started
    return size, os.waitstatus_to_exitcode(status), usage.ru_maxrss * 1024, seconds, answer


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "../../../../build/native/ombri-listener/ombri-listener")
    listener = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else default)
    for name, pieces in LINES:
        size, status, peak, seconds, answer = measure(listener, pieces())
        code = json.loads(answer)["error"]["code"] if answer else None
        ratio = f" ({peak / size:.2f}x the line)" if size else ""
        print(f"{name}: line {size / MB:.1f} MB, peak RSS {peak / MB:.1f} MB{ratio}, "
              f"{seconds:.2f} s, exit {status}, answer {code}")


if __name__ == "__main__":
    main()
