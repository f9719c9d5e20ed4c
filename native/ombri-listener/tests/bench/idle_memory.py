#!/usr/bin/env python3
"""Anonymous memory of an idle listener after transcriptions and enhancements,
and what giving it back costs.

    tests/bench/idle_memory.py [BUILD_DIR ...]

For each build (default: build), each workload runs on a fresh listener: its
waves of requests are each sent at once (side by side, each on a worker of its
own) and answered in full before the next. Printed: RssAnon (kB) once the
listener has answered a ping, and idle once every worker has ended. Then the
median milliseconds of the build's transcribe_bench, where it has them: a
tiny-model transcription on the benchmark's thread, on a fresh thread as a
worker runs it, without and with the give-back after it, and the give-back
alone after one transcription and after four side by side.
"""

import json
import math
import os
import re
import subprocess
import sys
import tempfile
import time

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")
sys.path.insert(0, TOOLS)
from mono_wav import write_wav  # noqa: E402
from process_status import rss_anon_kb, thread_count  # noqa: E402

TINY, LARGE, ENHANCE = "tiny", "384-state", "enhance"
WORKLOADS = (
    ("one tiny transcription", TINY, [1]),
    ("three tiny one after the other", TINY, [1, 1, 1]),
    ("tiny waves of 2, 3 and 4", TINY, [2, 3, 4]),
    ("eight 384-state", LARGE, [1, 1, 2, 4]),
    ("enhance waves of 2 and 4", ENHANCE, [2, 4]),
)
# transcribe_bench's, as named in its JSON report, without its settings.
BENCHMARKS = ("BM_TranscribeWav", "BM_TranscribeOnWorker/give_back:0", "BM_TranscribeOnWorker/give_back:1",
              "BM_GiveBack/side_by_side:1", "BM_GiveBack/side_by_side:4")




def sine_wav(path, rate, count):
    write_wav(path, rate, (8000 * math.sin(i * 0.05) for i in range(count)))
    return path


def inputs(directory):
    """The request arguments of each kind of work."""
    tiny, large = os.path.join(directory, "tiny.bin"), os.path.join(directory, "large.bin")
    tool = os.path.join(TOOLS, "make_tiny_whisper_model.py")
    subprocess.run([sys.executable, tool, tiny], check=True)
    subprocess.run([sys.executable, tool, large, "--state", "384", "--heads", "6", "--layers", "4",
                    "--segment-end", "29.9"], check=True)
    short = sine_wav(os.path.join(directory, "short.wav"), 16000, 44000)
    long = sine_wav(os.path.join(directory, "long.wav"), 16000, 30 * 16000)
    noisy = sine_wav(os.path.join(directory, "noisy.wav"), 48000, 20 * 48000)
    return {
        TINY: ("transcribe", lambda n: {"modelPath": tiny, "audioPath": short}),
        LARGE: ("transcribe", lambda n: {"modelPath": large, "audioPath": long}),
        ENHANCE: ("enhance", lambda n: {"input": noisy, "output": os.path.join(directory, f"out-{n}.wav")}),
    }


def idle_figures(listener, command, args, waves):
    """RssAnon at the start and once idle after the waves of requests."""
    with subprocess.Popen([listener], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, bufsize=0) as child:
        def send(line):
            child.stdin.write(json.dumps(line).encode() + b"\n")

        send({"id": "ping", "cmd": "ping"})
        json.loads(child.stdout.readline())
        start, own_threads = rss_anon_kb(child.pid), thread_count(child.pid)
        sent = 0
        for size in waves:
            for _ in range(size):
                sent += 1
                send({"id": str(sent), "cmd": command, "args": args(sent)})
            for _ in range(size):
                value = json.loads(child.stdout.readline())
                if not value.get("ok"):
                    sys.exit(f"request {value.get('id')} failed: {value}")
        deadline = time.monotonic() + 30
        while thread_count(child.pid) > own_threads and time.monotonic() < deadline:
            time.sleep(0.01)
        idle = rss_anon_kb(child.pid)
        child.stdin.close()
        child.wait(timeout=30)
    return start, idle


def bench_figures(build):
    """Median milliseconds of each benchmark the build's transcribe_bench has."""
    bench = os.path.join(build, "native", "ombri-listener", "tests", "transcribe_bench")
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=BM_TranscribeWav|OnWorker|GiveBack",
                        "--benchmark_out=" + out.name, "--benchmark_out_format=json"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        report = json.load(out)
    figures = {}
    for run in report["benchmarks"]:
        if run.get("aggregate_name") == "median":
            name = re.sub(r"/(min_time|iterations):.*", "", run["run_name"])
            figures[name] = run["real_time"] * {"ms": 1.0, "us": 1e-3, "ns": 1e-6}[run["time_unit"]]
    return figures


def main():
    builds = sys.argv[1:] or ["build"]
    with tempfile.TemporaryDirectory() as tmp:
        kinds = inputs(tmp)
        print(f"{'workload':<32} {'build':<14} {'RssAnon start':>14} {'RssAnon idle':>14}")
        for label, kind, waves in WORKLOADS:
            command, args = kinds[kind]
            for build in builds:
                listener = os.path.join(build, "native", "ombri-listener", "ombri-listener")
                start, idle = idle_figures(listener, command, args, waves)
                print(f"{label:<32} {build:<14} {start:>11} kB {idle:>11} kB")
    print()
    figures = {build: bench_figures(build) for build in builds}
    print(f"{'transcribe_bench median':<34} " + " ".join(f"{build:>14}" for build in builds))
    for name in BENCHMARKS:
        cells = (f"{figures[build][name]:.2f} ms" if name in figures[build] else "-" for build in builds)
        print(f"{name:<34} " + " ".join(f"{cell:>14}" for cell in cells))


if __name__ == "__main__":
    main()
