"""What the benchmarks share: running one child process and a large PNG made without ImageMagick, whose
resource limits refuse pictures of this size."""

import struct
import subprocess
import tempfile
import time
import zlib

import numpy as np


def measure(command):
    """Wall seconds, peak resident bytes and exit status of one child process.

    Started through GNU time: a child forked straight from this process would begin with this process's
    resident pages (numpy arrays included), and its ru_maxrss would count them."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        status = subprocess.run(["/usr/bin/time", "-q", "-f", "%M", "-o", report.name, *command],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        wall = time.monotonic() - start
        peak_kib = int(report.read().split()[-1])
    return wall, peak_kib * 1024, status


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def interlaced_png16(pixels):
    """The Adam7-interlaced 16-bit PNG of an (height, width, 3 or 4) uint16 array, every row Sub-filtered."""
    height, width, bands = pixels.shape
    pixel_bytes = 2 * bands
    big_endian = pixels.astype(">u2")
    compressor = zlib.compressobj(6)
    data = []
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
                           (0, 1, 1, 2)):
        rows = big_endian[y0::dy, x0::dx]
        if rows.size == 0:
            continue
        raw = rows.view(np.uint8).reshape(rows.shape[0], -1)
        filtered = raw.copy()
        filtered[:, pixel_bytes:] = raw[:, pixel_bytes:] - raw[:, :-pixel_bytes]
        data.append(compressor.compress(np.concatenate([np.ones((raw.shape[0], 1), np.uint8), filtered], 1).tobytes()))
    data.append(compressor.flush())
    header = struct.pack(">IIBBBBB", width, height, 16, {3: 2, 4: 6}[bands], 0, 0, 1)
    return b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) + _chunk(b"IDAT", b"".join(data)) + _chunk(b"IEND", b"")


def gradient_rgba16(side):
    """Colour ramps over the whole picture, its top quarter fading from transparent to opaque."""
    y, x = np.mgrid[0:side, 0:side].astype(np.float32) / side
    pixels = np.stack([x, y, 1 - 0.5 * (x + y), np.where(y < 0.25, x, 1.0)], axis=-1)
    return (pixels * 65535 + 0.5).astype(np.uint16)
