#!/usr/bin/env python3
"""Peak memory and time of fixture mode on a WAV file whose header rate is
tiny: 20 MiB of 8-bit mono samples at 1 Hz, one 250 ms window per sample.

Usage: fixture_memory.py LISTENER [LISTENER...]  (e.g. an older build beside this one)
"""

import os
import struct
import subprocess
import sys
import tempfile
import time


DATA_BYTES = 20 * 1024 * 1024


def write_wav(path):
    # Written piece by piece: the child's peak counts what it shares with this process before exec.
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + DATA_BYTES) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 1, 1, 1, 1, 8) + b"data" + struct.pack("<I", DATA_BYTES))
        for _ in range(DATA_BYTES // 65536):
            f.write(bytes(range(256)) * 256)


def measure(listener, path):
    started = time.monotonic()
    with subprocess.Popen([listener, "--input-wav", path, path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL) as child:
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
    return child.returncode, usage.ru_maxrss / 1024, time.monotonic() - started


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "1hz.wav")
        write_wav(path)
        for listener in sys.argv[1:]:
            status, peak_mib, seconds = measure(listener, path)
            print("%s: exit %d, peak RSS %.1f MiB, %.2f s" % (listener, status, peak_mib, seconds))


if __name__ == "__main__":
    main()
