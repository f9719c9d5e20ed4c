#!/usr/bin/python3
"""Compares imgfit with ImageMagick and vipsthumbnail on the same photos, edge and byte budgets.

Sources: a 12-megapixel photographic JPEG and a 3600 x 2400 PNG photo. Budgets: one that brings the quality
ladder down at the full edge, and one that forces a shrink. For each tool the table shows the median wall time,
the largest peak RSS, the output's bytes and size, and its SSIM (luma, 11 x 11 Gaussian window) against one
reference downscale per source; an output smaller than the reference is scaled up to it first, so a shrink
costs SSIM. ImageMagick aims at the budget with -define jpeg:extent. vipsthumbnail has no byte budget, so a
bisection over its quality (1 to 100) finds the highest that fits, one whole run per step: "vips search" is the
time of the whole search, "vips Q=N" one run at the quality found (N 0: none fits, the output is quality 1's).
Not a test: it asserts nothing.

usage: compare.py [--imgfit PATH] [--runs N] [--edge E] [--budgets B1,B2]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile

import numpy as np

from bench_support import measure

HERE = os.path.dirname(os.path.abspath(__file__))


def _tool(name):
    packaged = os.path.join("/usr/bin", name)
    return packaged if os.path.exists(packaged) else shutil.which(name)


CONVERT, IDENTIFY, VIPSTHUMBNAIL = _tool("convert"), _tool("identify"), _tool("vipsthumbnail")


def make_sources(folder):
    """Photo-like content: fractal clouds, blurred, the JPEG with sensor-like noise."""
    jpeg = os.path.join(folder, "photo.jpg")
    subprocess.run([CONVERT, "-size", "4000x3000", "-seed", "1", "plasma:fractal", "-blur", "0x2", "-attenuate",
                    "0.3", "+noise", "Gaussian", "-quality", "92", jpeg], check=True)
    png = os.path.join(folder, "photo.png")
    subprocess.run([CONVERT, "-size", "3600x2400", "-seed", "9", "plasma:fractal", "-blur", "0x3", "-depth", "8",
                    "PNG24:" + png], check=True)
    return [jpeg, png]


def luma(path, size=None):
    """Rec. 601 luma of an image file as float32, scaled to `size` (width, height) with Lanczos when given."""
    command = [CONVERT, path]
    if size is not None:
        command += ["-filter", "Lanczos", "-resize", f"{size[0]}x{size[1]}!"]
    width, height = size or dimensions(path)
    rgb = subprocess.run(command + ["-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    pixels = np.frombuffer(rgb, np.uint8).reshape(height, width, 3).astype(np.float32)
    return pixels @ np.array([0.299, 0.587, 0.114], np.float32)


def dimensions(path):
    text = subprocess.run([IDENTIFY, "-format", "%w %h", path], check=True, capture_output=True).stdout.decode()
    return tuple(int(side) for side in text.split())


def _gaussian_blur(image, sigma=1.5, radius=5):
    offsets = np.arange(-radius, radius + 1, dtype=np.float32)
    kernel = np.exp(-offsets**2 / (2 * sigma**2))
    kernel /= kernel.sum()
    rows = sum(weight * image[:, i:image.shape[1] - 2 * radius + i] for i, weight in enumerate(kernel))
    return sum(weight * rows[i:rows.shape[0] - 2 * radius + i, :] for i, weight in enumerate(kernel))


def ssim(a, b):
    """Mean SSIM of two luma planes of one size (Wang et al. 2004, K1 0.01, K2 0.03, L 255)."""
    c1, c2 = (0.01 * 255)**2, (0.03 * 255)**2
    mean_a, mean_b = _gaussian_blur(a), _gaussian_blur(b)
    var_a = _gaussian_blur(a * a) - mean_a**2
    var_b = _gaussian_blur(b * b) - mean_b**2
    covariance = _gaussian_blur(a * b) - mean_a * mean_b
    index = ((2 * mean_a * mean_b + c1) * (2 * covariance + c2)) / ((mean_a**2 + mean_b**2 + c1) * (var_a + var_b + c2))
    return float(index.mean())


def timed(command_for, runs, out):
    walls, peaks = [], []
    for _ in range(runs):
        if os.path.exists(out):
            os.unlink(out)
        wall, peak, status = measure(command_for(out))
        if status != 0:
            raise RuntimeError(f"{command_for(out)[0]} exited {status}")
        walls.append(wall)
        peaks.append(peak)
    return statistics.median(walls), max(peaks)


def vips_command(source, edge, quality):
    return lambda target: [VIPSTHUMBNAIL, source, "--size", f"{edge}x{edge}>", "-o", f"{target}[Q={quality},strip]"]


def vips_search(source, edge, budget, out):
    """The highest vipsthumbnail quality whose output fits the budget (0 when none does), with the search's
    wall seconds and largest peak RSS."""
    low, high, wall, peak = 0, 100, 0.0, 0
    while low < high:
        quality = (low + high + 1) // 2
        step_wall, step_peak = timed(vips_command(source, edge, quality), 1, out)
        wall, peak = wall + step_wall, max(peak, step_peak)
        if os.path.getsize(out) <= budget:
            low = quality
        else:
            high = quality - 1
    return low, wall, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--imgfit", default=os.path.join(HERE, "../../build/imgfit/imgfit"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--edge", type=int, default=1800)
    parser.add_argument("--budgets", default="150000,30000")
    args = parser.parse_args()
    budgets = [int(budget) for budget in args.budgets.split(",")]
    edge = args.edge

    with tempfile.TemporaryDirectory(prefix="imgfit-bench-") as folder:
        sources = make_sources(folder)
        out = os.path.join(folder, "out.jpg")
        print(f"edge {edge}, median wall time of {args.runs} runs, largest peak RSS")
        print(f"{'source':<10} {'budget':>7} {'tool':<14} {'wall ms':>8} {'peak MiB':>9} {'bytes':>8} {'size':>10}"
              f" {'SSIM':>7}")
        speedups = {}
        for source in sources:
            reference_path = os.path.join(folder, "reference.png")
            subprocess.run([CONVERT, source, "-auto-orient", "-filter", "Lanczos", "-resize", f"{edge}x{edge}>",
                            reference_path], check=True)
            reference_size = dimensions(reference_path)
            reference = luma(reference_path)
            tools = {
                "imgfit": lambda target, budget: [args.imgfit, "--input", source, "--output", target,
                                                  "--max-bytes", str(budget), "--max-edge", str(edge)],
                "imagemagick": lambda target, budget: [CONVERT, source, "-auto-orient", "-resize", f"{edge}x{edge}>",
                                                       "-background", "white", "-flatten", "-define",
                                                       f"jpeg:extent={budget}", target],
            }

            def row(name, wall, peak):
                size = dimensions(out)
                score = ssim(reference, luma(out, reference_size if size != reference_size else None))
                print(f"{os.path.basename(source):<10} {budget:>7} {name:<14} {wall * 1000:>8.0f}"
                      f" {peak / 2**20:>9.1f} {os.path.getsize(out):>8} {size[0]:>5}x{size[1]:<4} {score:>7.4f}")

            for budget in budgets:
                walls = {}
                for name, command in tools.items():
                    walls[name], peak = timed(lambda target: command(target, budget), args.runs, out)
                    row(name, walls[name], peak)
                searches = [vips_search(source, edge, budget, out) for _ in range(args.runs)]
                quality = searches[0][0]
                walls["vips search"] = statistics.median(wall for _, wall, _ in searches)
                # The search's last step need not be the quality found: its row shows the final run's output.
                final, peak = timed(vips_command(source, edge, max(quality, 1)), args.runs, out)
                row("vips search", walls["vips search"], max(peak for _, _, peak in searches))
                row(f"vips Q={quality}", final, peak)
                speedups.setdefault(os.path.splitext(source)[1], []).append(walls["imagemagick"] / walls["imgfit"])
                print(f"{'':<10} {'':>7} {'imgfit speed':<14} {walls['imagemagick'] / walls['imgfit']:>7.2f}x"
                      f" ImageMagick's, {walls['vips search'] / walls['imgfit']:.2f}x the vips search's")
        for kind, ratios in speedups.items():
            print(f"imgfit on {kind[1:].upper()}: {statistics.median(ratios):.2f}x faster than ImageMagick (median)")


if __name__ == "__main__":
    main()
