"""What a meeting's recordings survive: kills, special files under their names, a full
file system, and a parent that lags or goes away."""

import json
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import wave

import numpy as np
import soundfile

from listener import LISTENER, Meeting, audio_world, request, sanitized, world_env

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import audio_reference  # noqa: E402

RATE = 48000
BUFFER_BYTES = 8192  # what the WAV writer holds before it writes
NAMES = ("audio-mic.wav", "audio-system.wav")


def sox_samples(path):
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "signed", "-b", "16", "-"], check=True,
                         capture_output=True).stdout
    return np.frombuffer(raw, dtype="<i2")


def whole_wav(test, path):
    """Checks that the file is a complete mono 16-bit WAV as Python's wave and sox read
    it, with sizes that agree with the file; returns its samples."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        header = f.read(44)
    riff, data = struct.unpack("<I", header[4:8])[0], struct.unpack("<I", header[40:44])[0]
    test.assertEqual(riff, 36 + data, path)
    test.assertLessEqual(data, size - 44, path)
    # Only the buffer written last may be on disk and not yet counted.
    test.assertLessEqual(size - 44 - data, BUFFER_BYTES, path)
    with wave.open(path) as w:
        test.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, RATE), path)
        frames = w.readframes(w.getnframes())
    samples = sox_samples(path)
    test.assertEqual(len(samples) * 2, data, path)
    test.assertEqual(frames, samples.tobytes(), path)
    return samples


class Run:
    """A listener whose output lines are read, and timed, as they come; killed at the
    test's end if it still runs."""

    def __init__(self, test, world, tmp):
        self.process = subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=world_env(world, tmp))
        test.addCleanup(lambda: self.process.poll() is None and self.process.kill())
        self.lines = []  # (arrival, raw line)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append((time.monotonic(), line))

    def send(self, **fields):
        self.process.stdin.write(request(**fields))
        self.process.stdin.flush()

    def answer(self, id, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for arrival, line in list(self.lines):
                value = json.loads(line)
                if value.get("id") == id:
                    return arrival, value
            time.sleep(0.005)
        raise AssertionError(f"no answer to {id} within {timeout} s")

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)
        self.reader.join()


class WholeRecordings(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        # Five seconds of noise that no two moments share, so a recording
        # shows exactly which samples it kept.
        self.signal = np.random.default_rng(7).integers(-20000, 20000, RATE * 5, dtype=np.int16)
        source = os.path.join(self.tmp.name, "signal.wav")
        soundfile.write(source, self.signal, RATE, subtype="PCM_16")
        signal_spec = {"kind": "wav", "path": source}
        self.world = audio_world(self.tmp.name, [
            {"uid": "mic", "name": "Built-in Microphone", "input": {"rate": RATE, "channels": 1, "sample": "i16"},
             "signal": signal_spec},
            {"uid": "speakers", "name": "Built-in Output", "output": {"rate": RATE, "channels": 2, "sample": "f32"}},
        ], "mic", "speakers", {"rate": RATE, "channels": 1, "sample": "f32", "signal": signal_spec})
        delivered = np.zeros(RATE * 10, dtype=np.float32)
        delivered[:len(self.signal)] = self.signal.astype(np.float32) / np.float32(32768)
        self.expected = {"audio-mic.wav": self.signal,
                         "audio-system.wav": audio_reference.resample(delivered[:RATE * 6], RATE, RATE, clamp=True)}

    def test_kills_at_any_moment_leave_whole_recordings(self):
        rng = random.Random(11)
        # During the start, in the first second, and later.
        delays = [rng.uniform(0.0, 0.06) for _ in range(12)] + [rng.uniform(0.06, 1.2) for _ in range(18)] + \
                 [rng.uniform(1.2, 3.0) for _ in range(6)]
        results = []

        def kill_one(index, delay):
            meeting_dir = os.path.join(self.tmp.name, f"kill-{index}")
            run = Run(self, self.world, self.tmp.name)
            run.send(id="start", cmd="start", args={"meetingDir": meeting_dir})
            time.sleep(delay)
            slow = sanitized(run.process.pid)
            killed_at = time.monotonic()
            run.process.kill()
            run.process.wait()
            run.reader.join()
            started = [arrival for arrival, line in run.lines if json.loads(line).get("id") == "start"]
            results.append((meeting_dir, delay, started[0] if started else None, killed_at, slow))

        for batch in range(0, len(delays), 6):
            threads = [threading.Thread(target=kill_one, args=(i, delays[i]))
                       for i in range(batch, min(batch + 6, len(delays)))]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        self.assertEqual(len(results), 36)
        answered = 0
        for meeting_dir, delay, started, killed_at, slow in results:
            for name in NAMES:
                path = os.path.join(meeting_dir, name)
                with self.subTest(delay=delay, name=name):
                    if not os.path.exists(path):
                        self.assertIsNone(started, "a started meeting has both recordings")
                        continue
                    samples = whole_wav(self, path)
                    np.testing.assert_array_equal(samples, self.expected[name][:len(samples)])
                    if started is None:
                        continue
                    # Both sources record from before the start's answer on,
                    # so at least that much time went into each file; the
                    # devices' own buffers and the clocks get 50 ms, a
                    # sanitized build's slower threads a quarter second more.
                    recorded = (killed_at - started) * RATE
                    lost = recorded - len(samples)
                    allowed = BUFFER_BYTES / 2 + RATE * (0.05 + (0.25 if slow else 0))
                    self.assertLess(lost, allowed, f"lost {lost / RATE:.3f} s of {recorded / RATE:.3f} s")
            answered += started is not None
        # A sanitized build takes longer to start, so fewer kills come after its answer.
        self.assertGreaterEqual(answered, 12)

    def test_special_files_under_the_recording_names_are_replaced(self):
        # A FIFO blocked the start in its open; a link to standard output
        # wrote the recording into the protocol stream.
        for fifo, link in (NAMES, reversed(NAMES)):
            with self.subTest(fifo=fifo, link=link):
                meeting_dir = os.path.join(self.tmp.name, "special-" + fifo)
                os.makedirs(meeting_dir)
                os.mkfifo(os.path.join(meeting_dir, fifo))
                os.symlink("/dev/stdout", os.path.join(meeting_dir, link))
                run = Run(self, self.world, self.tmp.name)
                run.send(id="start", cmd="start", args={"meetingDir": meeting_dir})
                run.send(id="ping", cmd="ping")
                self.assertTrue(run.answer("start", timeout=10)[1]["ok"])
                run.answer("ping", timeout=10)
                time.sleep(0.3)
                run.send(id="stop", cmd="stop")
                self.assertTrue(run.answer("stop", timeout=10)[1]["ok"])
                run.close()
                self.assertEqual(run.process.returncode, 0)
                for _, line in run.lines:
                    self.assertTrue(line.endswith(b"\n"))
                    json.loads(line)
                for name in NAMES:
                    path = os.path.join(meeting_dir, name)
                    self.assertTrue(stat.S_ISREG(os.lstat(path).st_mode), name)
                    self.assertGreater(len(whole_wav(self, path)), 0, name)
                self.assertEqual(sorted(os.listdir(meeting_dir)), sorted(NAMES))

    @unittest.skipUnless(shutil.which("unshare"), "needs unshare")
    def test_a_full_file_system_leaves_no_file_under_a_recording_name(self):
        # In a mount namespace of its own, a small file system filled up to
        # the given number of free pages; the listener starts there, and what
        # the directory holds afterwards is listed before the namespace goes.
        cases = [
            (0, False, "Failed to create mic WAV {}/audio-mic.wav: No space left on device (os error 28)", []),
            (1, True, "Failed to create system WAV {}/audio-system.wav: No space left on device (os error 28)",
             ["audio-mic.wav"]),
        ]
        for free_pages, ok, message, left in cases:
            with self.subTest(free_pages=free_pages):
                mount = os.path.join(self.tmp.name, f"small-{free_pages}")
                os.makedirs(mount)
                meeting_dir = mount + "/meeting"
                requests = request(id="start", cmd="start", args={"meetingDir": meeting_dir}) + \
                    request(id="stop", cmd="stop")
                script = (
                    'mount -t tmpfs -o size=256k tmpfs "$1" || exit 99\n'
                    'mkdir "$1/meeting"\n'
                    'dd if=/dev/zero of="$1/fill" bs=4096 2>/dev/null\n'
                    'truncate -s -$(( $2 * 4096 )) "$1/fill"\n'
                    '"$3"\n'
                    'ls -A "$1/meeting" >&2\n'
                )
                done = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", mount, str(free_pages), LISTENER],
                                      input=requests, capture_output=True, env=world_env(self.world, self.tmp.name),
                                      timeout=60)
                if done.returncode == 99:
                    self.skipTest("mounting a file system is not permitted here")
                self.assertEqual(done.returncode, 0, done.stderr)
                answers = {line["id"]: line for line in map(json.loads, done.stdout.splitlines()) if "id" in line}
                start = answers["start"]
                self.assertEqual(start["ok"], ok)
                if ok:
                    self.assertEqual(start["result"]["systemAudioReason"], message.format(meeting_dir))
                else:
                    self.assertEqual(start["error"], {"code": "capture_unavailable",
                                                      "message": message.format(meeting_dir)})
                self.assertEqual(done.stderr.decode().split(), left)

    def test_a_parent_that_lags_then_closes_the_input_reads_only_whole_lines(self):
        for attempt in range(3):
            with self.subTest(attempt=attempt):
                meeting = Meeting(self.world, self.tmp.name)
                meeting.send(id="start", cmd="start",
                             args={"meetingDir": os.path.join(self.tmp.name, f"lag-{attempt}"),
                                   "streamSystemAudio": True})
                # Chunk lines fill the pipe while nobody reads, and the
                # writer thread blocks in the middle of one.
                time.sleep(1.5)
                meeting.process.stdin.close()
                time.sleep(0.3)
                out = meeting.process.stdout.read()
                meeting.process.wait(timeout=30)
                self.assertEqual(meeting.process.returncode, 0)
                self.assertTrue(out.endswith(b"\n"), out[-80:])
                lines = [json.loads(line) for line in out.splitlines()]
                self.assertTrue(any(line.get("type") == "systemAudioChunk" for line in lines))

    def test_end_of_input_during_an_enhancement_leaves_its_directory_as_it_was(self):
        work = os.path.join(self.tmp.name, "enhance")
        os.makedirs(work)
        # Ten minutes at 1 kHz: a small file, and some seconds of denoising.
        source = os.path.join(work, "long.wav")
        soundfile.write(source, np.random.default_rng(3).integers(-9000, 9000, 600_000, dtype=np.int16), 1000,
                        subtype="PCM_16")
        output = os.path.join(work, "long-enhanced.wav")
        with open(output, "wb") as f:
            f.write(b"what was there before")
        before = sorted(os.listdir(work))
        run = Run(self, self.world, self.tmp.name)
        run.send(id="enhance", cmd="enhance", args={"input": source, "output": output})
        deadline = time.monotonic() + 30
        while not any(name.startswith(".ombri-enhance-") for name in os.listdir(work)):
            self.assertLess(time.monotonic(), deadline, "the enhancement never started")
            time.sleep(0.002)
        run.close()
        self.assertEqual(run.process.returncode, 0)
        self.assertEqual(run.lines, [])
        self.assertEqual(sorted(os.listdir(work)), before)
        with open(output, "rb") as f:
            self.assertEqual(f.read(), b"what was there before")


if __name__ == "__main__":
    unittest.main()
