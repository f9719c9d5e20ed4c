#!/usr/bin/env python3
"""Compares imgfit with ImageMagick on the same photos, edge and byte budget.

Generates four 12-megapixel JPEGs and two large PNGs, runs each tool several
times per picture, and prints the median wall time, the peak resident size
and what each produced. Not a test: it asserts nothing.

usage: compare.py [--imgfit PATH] [--runs N] [--edge E] [--budget BYTES]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else shutil.which("convert")
IDENTIFY = "/usr/bin/identify" if os.path.exists("/usr/bin/identify") else shutil.which("identify")


def make_photos(folder):
    """Photo-like content: fractal clouds with sensor-like noise; an 8-bit photo PNG and a screenshot-like PNG
    with a transparent band."""
    photos = []
    for seed in range(1, 5):
        path = os.path.join(folder, f"photo{seed}.jpg")
        subprocess.run([CONVERT, "-size", "4000x3000", "-seed", str(seed), "plasma:fractal", "-blur", "0x2",
                        "-attenuate", "0.3", "+noise", "Gaussian", "-quality", "92", path], check=True)
        photos.append(path)
    path = os.path.join(folder, "photo.png")
    subprocess.run([CONVERT, "-size", "3600x2400", "-seed", "9", "plasma:fractal", "-blur", "0x3", "-depth", "8",
                    "PNG24:" + path], check=True)
    photos.append(path)
    path = os.path.join(folder, "screen.png")
    subprocess.run([CONVERT, "-size", "3840x2400", "gradient:navy-white", "-fill", "none", "-stroke", "orange",
                    "-strokewidth", "9", "-draw", "circle 1900,1200 1900,300", "-draw", "rectangle 200,200 1400,900",
                    "-alpha", "set", "-channel", "A", "-fx", "i<300 ? 0 : 1", "+channel", "-depth", "8",
                    "PNG32:" + path], check=True)
    photos.append(path)
    return photos


def measure(command):
    """Wall seconds and peak resident bytes of one child process."""
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command[0]} failed: {os.waitstatus_to_exitcode(status)}")
    return wall, usage.ru_maxrss * 1024


def produced(path):
    size = subprocess.run([IDENTIFY, "-format", "%wx%h", path], check=True, capture_output=True).stdout.decode()
    return f"{os.path.getsize(path):>8} B {size:>9}"


def compare(command_for, runs, out):
    walls, peaks = [], []
    for _ in range(runs):
        if os.path.exists(out):
            os.unlink(out)
        wall, peak = measure(command_for(out))
        walls.append(wall)
        peaks.append(peak)
    return statistics.median(walls), max(peaks), produced(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--imgfit", default=os.path.join(HERE, "../../build/imgfit/imgfit"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--edge", type=int, default=1800)
    parser.add_argument("--budget", type=int, default=400_000)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="imgfit-bench-") as folder:
        photos = make_photos(folder)
        out = os.path.join(folder, "out.jpg")
        print(f"edge {args.edge}, budget {args.budget} bytes, median of {args.runs} runs, peak RSS the largest")
        print(f"{'source':<12} {'tool':<12} {'wall ms':>8} {'peak MiB':>9} {'bytes':>10} {'size':>9}")
        ratios = []
        for photo in photos:
            def imgfit(target):
                return [args.imgfit, "--input", photo, "--output", target, "--max-bytes", str(args.budget),
                        "--max-edge", str(args.edge)]

            def magick(target):
                return [CONVERT, photo, "-auto-orient", "-resize", f"{args.edge}x{args.edge}>", "-background",
                        "white", "-flatten", "-define", f"jpeg:extent={args.budget}", target]

            ours = compare(imgfit, args.runs, out)
            theirs = compare(magick, args.runs, out)
            name = os.path.basename(photo)
            for tool, (wall, peak, result) in (("imgfit", ours), ("imagemagick", theirs)):
                print(f"{name:<12} {tool:<12} {wall * 1000:>8.0f} {peak / 2**20:>9.1f} {result}")
            ratios.append(theirs[0] / ours[0])
            print(f"{'':<12} {'speed-up':<12} {theirs[0] / ours[0]:>8.2f}x  RSS {ours[1] / theirs[1]:.2f} of ImageMagick's")
        print(f"median speed-up over ImageMagick: {statistics.median(ratios):.2f}x")


if __name__ == "__main__":
    main()
