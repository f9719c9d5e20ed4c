"""Runs the built imgfit and makes and reads images with ImageMagick."""

import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

IMGFIT = os.environ["IMGFIT"]


def _imagemagick(tool):
    # The packaged binary itself, not whatever wrapper may come first on PATH.
    packaged = os.path.join("/usr/bin", tool)
    return packaged if os.path.exists(packaged) else shutil.which(tool)


CONVERT = _imagemagick("convert")
IDENTIFY = _imagemagick("identify")


class Run:
    def __init__(self, completed):
        self.status = completed.returncode
        self.stdout = completed.stdout.decode()
        self.stderr = completed.stderr.decode()

    def result(self):
        lines = self.stdout.splitlines(keepends=True)
        assert len(lines) == 1 and lines[0].endswith("\n"), self.stdout
        return json.loads(lines[0])

    def error(self):
        lines = self.stderr.splitlines(keepends=True)
        assert len(lines) == 1 and lines[0].endswith("\n"), self.stderr
        return json.loads(lines[0])


def run_imgfit(*args, **popen_options):
    completed = subprocess.run([IMGFIT, *map(str, args)], capture_output=True, timeout=60, **popen_options)
    return Run(completed)


def fit(source, output, max_bytes, max_edge=None):
    args = ["--input", source, "--output", output, "--max-bytes", max_bytes]
    if max_edge is not None:
        args += ["--max-edge", max_edge]
    return run_imgfit(*args)


def convert(*args):
    subprocess.run([CONVERT, *map(str, args)], check=True, capture_output=True)


def identify(path):
    """Width, height, colourspace and file size as ImageMagick reads them."""
    text = subprocess.run([IDENTIFY, "-format", "%w %h %[colorspace] %m", str(path)], check=True,
                          capture_output=True).stdout.decode()
    width, height, colourspace, kind = text.split()
    return {"width": int(width), "height": int(height), "colourspace": colourspace, "format": kind,
            "bytes": os.path.getsize(path)}


class Pixels:
    """The decoded 8-bit RGB pixels of an image file."""

    def __init__(self, path):
        info = identify(path)
        self.width, self.height = info["width"], info["height"]
        self.data = subprocess.run([CONVERT, str(path), "-depth", "8", "rgb:-"], check=True,
                                   capture_output=True).stdout

    def at(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.data[offset:offset + 3])


def _exif_orientation(orientation):
    """A little-endian EXIF (TIFF) block holding only the orientation tag."""
    return b"II*\x00" + struct.pack("<IHHHII", 8, 1, 0x0112, 3, 1, orientation) + struct.pack("<I", 0)


def with_exif_orientation(jpeg, orientation):
    """The JPEG with an EXIF block holding only the orientation tag, right after SOI."""
    payload = b"Exif\x00\x00" + _exif_orientation(orientation)
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload + jpeg[2:]


def _png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_header_only(width, height, orientation=None, animated_frames=None, text_claims=None):
    """An 8-bit RGB PNG whose header is complete but whose image data is a stub, so it
    cannot be decoded; optionally with an EXIF orientation, an animation control chunk, and
    a 30 KB text chunk whose length field claims `text_claims` bytes."""
    chunks = _png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    if text_claims is not None:
        chunks += struct.pack(">I", text_claims) + b"tEXt" + b"Comment\x00" + b"x" * 30000
    if orientation is not None:
        chunks += _png_chunk(b"eXIf", _exif_orientation(orientation))
    if animated_frames is not None:
        chunks += _png_chunk(b"acTL", struct.pack(">II", animated_frames, 0))
    return b"\x89PNG\r\n\x1a\n" + chunks + _png_chunk(b"IDAT", zlib.compress(bytes(64))) + _png_chunk(b"IEND", b"")


def animated(png, frames=2):
    """An animated PNG whose first frame is the still's image data, and each further frame the same data again."""
    ihdr_end = 8 + 8 + 13 + 4
    width, height = struct.unpack(">II", png[16:24])
    idat = png.index(b"IDAT") - 4
    length = struct.unpack(">I", png[idat:idat + 4])[0]
    pixels = png[idat + 8:idat + 8 + length]

    def frame_control(sequence):
        return _png_chunk(b"fcTL", struct.pack(">IIIIIHHBB", sequence, width, height, 0, 0, 1, 10, 0, 0))

    further = b"".join(frame_control(2 * i - 1) + _png_chunk(b"fdAT", struct.pack(">I", 2 * i) + pixels)
                       for i in range(1, frames))
    return (png[:ihdr_end] + _png_chunk(b"acTL", struct.pack(">II", frames, 0)) + frame_control(0)
            + png[ihdr_end:idat + 12 + length] + further + png[idat + 12 + length:])


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix="imgfit-")
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as file:
            file.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    def assertFailure(self, run, status, code):
        self.assertEqual(run.status, status, run.stderr)
        self.assertEqual(run.stdout, "")
        word = "unsupported" if status == 3 else "error"
        self.assertEqual(run.stderr, '{"version":1,"status":"%s","code":"%s"}\n' % (word, code))
        self.assertEqual(run.error(), {"version": 1, "status": word, "code": code})
