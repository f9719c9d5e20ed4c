#!/usr/bin/python3
"""Time and peak memory of imgfit on its costliest kind of source: an 8000 x 8000 interlaced 16-bit PNG with
transparency, and a byte budget that no render meets, so the search renders at every edge down to the minimum
(seven renders at the default edge, twelve at --max-edge 8192) before it fails with output_budget_unreachable.

Pass --baseline with another imgfit build to print both side by side. Not a test: it asserts nothing.

usage: large_png.py [--imgfit PATH] [--baseline PATH] [--runs N]
"""

import argparse
import os
import statistics
import tempfile

from bench_support import gradient_rgba16, interlaced_png16, measure

HERE = os.path.dirname(os.path.abspath(__file__))
UNREACHABLE = 6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--imgfit", default=os.path.join(HERE, "../../build/imgfit/imgfit"))
    parser.add_argument("--baseline")
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()
    builds = [("imgfit", args.imgfit)] + ([("baseline", args.baseline)] if args.baseline else [])

    with tempfile.TemporaryDirectory(prefix="imgfit-bench-") as folder:
        source = os.path.join(folder, "large.png")
        with open(source, "wb") as file:
            file.write(interlaced_png16(gradient_rgba16(8000)))
        print(f"8000x8000 interlaced 16-bit RGBA PNG, {os.path.getsize(source)} bytes, budget 100 bytes; "
              f"median wall time and largest peak RSS of {args.runs} run(s)")
        print(f"{'build':<10} {'max edge':>8} {'wall s':>8} {'peak MiB':>9}")
        for edge in (1800, 8192):
            for name, binary in builds:
                walls, peaks = [], []
                for _ in range(args.runs):
                    wall, peak, status = measure([binary, "--input", source, "--output", os.path.join(folder, "o.jpg"),
                                                  "--max-bytes", "100", "--max-edge", str(edge)])
                    if status != UNREACHABLE:
                        raise RuntimeError(f"{binary} exited {status}, not {UNREACHABLE}")
                    walls.append(wall)
                    peaks.append(peak)
                print(f"{name:<10} {edge:>8} {statistics.median(walls):>8.1f} {max(peaks) / 2**20:>9.0f}")


if __name__ == "__main__":
    main()
