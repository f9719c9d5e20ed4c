"""What a meeting's recordings survive: kills, special files under their names, a full
file system, an enhancement aimed at them, and a parent that lags or goes away."""

import fcntl
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

from listener import LISTENER, SAMPLES, Meeting, audio_world, request, sanitized, world_env

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import audio_reference  # noqa: E402

RATE = 48000
BUFFER_BYTES = 8192  # what the WAV writer holds before it writes
NAMES = ("audio-mic.wav", "audio-system.wav")
ONTO_A_RECORDING = "output is a recording in progress; choose another output path"


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

    @unittest.skipUnless(shutil.which("unshare"), "needs unshare")
    def test_a_file_system_that_fills_and_frees_leaves_whole_frames_with_channels_in_place(self):
        # Three channels, each in a band of its own: a sample moved to the
        # next channel is out of its band. A page (4096 bytes) is no whole
        # number of 6-byte frames, so writes cut short by the full file
        # system end inside a frame.
        bands = [(1000, 3000), (-3000, -1000), (8000, 10000)]
        rng = np.random.default_rng(13)
        signal = np.stack([rng.integers(low, high, 4801, dtype=np.int16) for low, high in bands], axis=1)
        where = {frame.tobytes(): i for i, frame in enumerate(signal)}
        world_dir = os.path.join(self.tmp.name, "three")
        os.makedirs(world_dir)
        source = os.path.join(world_dir, "three.wav")
        soundfile.write(source, signal, RATE, subtype="PCM_16")
        world = audio_world(world_dir, [
            {"uid": "array", "name": "USB Microphone Array", "transport": "usb ",
             "input": {"rate": RATE, "channels": 3, "sample": "i16"},
             "signal": {"kind": "wav", "path": source, "loop": True}},
            {"uid": "speakers", "name": "Built-in Output", "output": {"rate": RATE, "channels": 2, "sample": "f32"}},
        ], "array", "speakers")
        # In a mount namespace of its own: a file system with room for the
        # recording, filled up a second into it and freed a second later; the
        # recording is copied out before the namespace goes.
        script = (
            'mount -t tmpfs -o size=2m tmpfs "$1" || exit 99\n'
            'mkfifo "$1/requests"\n'
            '"$2" < "$1/requests" &\n'
            'exec 3> "$1/requests"\n'
            'echo "$3" >&3\n'
            'sleep 1\n'
            'dd if=/dev/zero of="$1/fill" bs=4096 2>/dev/null\n'
            'sleep 1\n'
            'rm "$1/fill"\n'
            'sleep 1\n'
            'echo "$4" >&3\n'
            'exec 3>&-\n'
            'wait $!\n'
            'cp "$1/meeting/audio-mic.wav" "$5"\n'
        )
        runs = {}

        def record(attempt):
            mount = os.path.join(self.tmp.name, f"filling-{attempt}")
            os.makedirs(mount)
            recording = os.path.join(self.tmp.name, f"recording-{attempt}.wav")
            start = json.dumps({"id": "start", "cmd": "start",
                                "args": {"meetingDir": mount + "/meeting", "captureSystemAudio": False}})
            stop = json.dumps({"id": "stop", "cmd": "stop"})
            runs[attempt] = recording, subprocess.run(
                ["unshare", "-m", "sh", "-c", script, "sh", mount, LISTENER, start, stop, recording],
                stdin=subprocess.DEVNULL, capture_output=True, env=world_env(world, self.tmp.name), timeout=60)

        # Each run cuts at other places; several make a cut inside a frame certain.
        threads = [threading.Thread(target=record, args=(attempt,)) for attempt in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for attempt, (recording, done) in sorted(runs.items()):
            with self.subTest(attempt=attempt):
                if done.returncode == 99:
                    self.skipTest("mounting a file system is not permitted here")
                self.assertEqual(done.returncode, 0, done.stderr)
                answers = {line["id"]: line for line in map(json.loads, done.stdout.splitlines()) if "id" in line}
                size = os.path.getsize(recording)
                with open(recording, "rb") as f:
                    tag, riff_size, form = struct.unpack("<4sI4s", f.read(12))
                    self.assertEqual((tag, riff_size, form), (b"RIFF", size - 8, b"WAVE"))
                    chunks = {}
                    while f.tell() < size:
                        tag, length = struct.unpack("<4sI", f.read(8))
                        chunks[tag] = (f.tell(), length)
                        f.seek(length, os.SEEK_CUR)
                data_start, data_bytes = chunks[b"data"]
                self.assertEqual(data_start + data_bytes, size)
                self.assertEqual(data_bytes % 6, 0, f"{data_bytes} bytes of data")
                recorded, rate = soundfile.read(recording, dtype="int16")
                self.assertEqual((rate, recorded.shape), (RATE, (data_bytes // 6, 3)))
                np.testing.assert_array_equal(sox_samples(recording), recorded.reshape(-1))
                for channel, (low, high) in enumerate(bands):
                    outside = np.flatnonzero((recorded[:, channel] < low) | (recorded[:, channel] >= high))
                    self.assertEqual(len(outside), 0, f"channel {channel}: {len(outside)} of {len(recorded)} "
                                     f"samples out of place, from frame {outside[:1]}")
                # Every frame is a whole frame of the signal, in runs of
                # consecutive ones: the recording goes on after the gap.
                positions = np.array([where.get(frame.tobytes(), -1) for frame in recorded])
                self.assertEqual(np.count_nonzero(positions < 0), 0)
                self.assertGreater(np.count_nonzero(np.diff(positions) % len(signal) != 1), 0, "no gap")
                self.assertTrue(answers["stop"]["ok"], answers["stop"])
                # The gap is the time the file system was full.
                length = float(answers["stop"]["result"]["stoppedAt"][:-1]) - \
                    float(answers["start"]["result"]["startedAt"][:-1])
                self.assertLess(len(recorded), (length - 0.25) * RATE)

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

    def assert_whole_lines_in_parallel(self, read, fewest_chunks):
        """Runs three `read(attempt)`, each giving a listener's exit status and
        all it wrote, side by side; each must end with status 0 on a whole line
        after at least `fewest_chunks` chunk lines."""
        outputs = {}
        readers = [threading.Thread(target=lambda a: outputs.__setitem__(a, read(a)), args=(attempt,), daemon=True)
                   for attempt in range(3)]
        for reader in readers:
            reader.start()
        for reader in readers:
            reader.join(timeout=120)
        self.assertEqual(sorted(outputs), [0, 1, 2])
        for attempt, (status, out) in sorted(outputs.items()):
            with self.subTest(attempt=attempt):
                self.assertEqual(status, 0)
                cut = len(out) - out.rfind(b"\n") - 1
                self.assertEqual(cut, 0, f"the output ends {cut} bytes into a line")
                lines = [json.loads(line) for line in out.splitlines()]
                chunks = [line for line in lines if line.get("type") == "systemAudioChunk"]
                self.assertGreaterEqual(len(chunks), fewest_chunks)

    def test_a_slow_reader_gets_only_whole_lines_when_the_input_closes(self):
        # Chunk lines come at 64 KB/s and are read at 40 KB/s, 4096 bytes at a
        # time, so the writer thread is always in a line or about to start the
        # next when the input closes, and every line waits for the reader.
        rate, block = 40_000, 4096

        def read_slowly(attempt):
            meeting = Meeting(self.world, self.tmp.name)
            self.addCleanup(lambda: meeting.process.poll() is None and meeting.process.kill())
            meeting.send(id="start", cmd="start",
                         args={"meetingDir": os.path.join(self.tmp.name, f"slow-{attempt}"), "streamSystemAudio": True})
            out = bytearray()
            began = time.monotonic()
            while True:
                if not meeting.process.stdin.closed and time.monotonic() - began >= 10:
                    meeting.process.stdin.close()
                data = os.read(meeting.process.stdout.fileno(), block)
                if not data:
                    break
                out += data
                time.sleep(max(0.0, began + len(out) / rate - time.monotonic()))
            meeting.process.wait(timeout=30)
            meeting.process.stdout.close()
            meeting.process.stderr.close()
            return meeting.process.returncode, bytes(out)

        self.assert_whole_lines_in_parallel(read_slowly, fewest_chunks=11)

    def streamed_meeting(self, name, stdout):
        process = subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=stdout, stderr=subprocess.DEVNULL,
                                   env=world_env(self.world, self.tmp.name))
        self.addCleanup(lambda: process.poll() is None and process.kill())
        process.stdin.write(request(id="start", cmd="start", args={"meetingDir": os.path.join(self.tmp.name, name),
                                                                   "streamSystemAudio": True}))
        process.stdin.flush()
        return process

    def test_a_reader_of_a_kilobyte_a_second_gets_the_last_line_whole(self):
        # Behind a 4 KiB pipe read 256 bytes every 0.25 s, a chunk line of
        # 16 KB takes some 16 s to go out: far longer than a reader that
        # stopped may hold the exit up, and still the line is waited for.
        def read_slowly(attempt):
            read_end, write_end = os.pipe()
            fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
            process = self.streamed_meeting(f"kilobyte-{attempt}", write_end)
            os.close(write_end)
            out = bytearray()
            began = time.monotonic()
            with os.fdopen(read_end, "rb", buffering=0) as pipe:
                while data := pipe.read(256):
                    out += data
                    if not process.stdin.closed and time.monotonic() - began >= 3:
                        process.stdin.close()
                    time.sleep(0.25)
            return process.wait(timeout=30), bytes(out)

        self.assert_whole_lines_in_parallel(read_slowly, fewest_chunks=1)

    def test_a_reader_that_stopped_does_not_hold_the_exit_up(self):
        # The pipe holds the answer to start and then fills with chunk lines;
        # nothing is read until the listener has gone.
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        process = self.streamed_meeting("stopped", write_end)
        os.close(write_end)
        time.sleep(2)
        process.stdin.close()
        # A reader that never reads again holds the line in progress up for
        # 2 s, not the minute a line may take to go out.
        self.assertEqual(process.wait(timeout=15), 0)

    def test_an_enhancement_onto_a_recording_in_progress_is_refused(self):
        meeting_dir = os.path.join(self.tmp.name, "live")
        run = Run(self, self.world, self.tmp.name)
        start_sent = time.monotonic()
        run.send(id="start", cmd="start", args={"meetingDir": meeting_dir})
        started, answer = run.answer("start")
        self.assertTrue(answer["ok"], answer)
        outputs = {name: os.path.join(meeting_dir, name) for name in NAMES}
        descriptors = f"/proc/{run.process.pid}/fd"
        for fd in os.listdir(descriptors):
            target = os.readlink(os.path.join(descriptors, fd))
            for name in NAMES:
                if target == outputs[name]:
                    outputs["fd of " + name] = os.path.join(descriptors, fd)
        self.assertEqual(len(outputs), 4, outputs)
        take = os.path.join(SAMPLES, "mic.wav")
        for key, output in outputs.items():
            run.send(id=key, cmd="enhance", args={"input": take, "output": output})
        refusals = {key: run.answer(key, timeout=60)[1] for key in outputs}
        # Long enough for many buffers of both sources to reach the files.
        time.sleep(max(0.0, started + 1.5 - time.monotonic()))
        stop_sent = time.monotonic()
        run.send(id="stop", cmd="stop")
        stopped, answer = run.answer("stop")
        self.assertTrue(answer["ok"], answer)

        for key in outputs:
            with self.subTest(output=key):
                self.assertEqual(refusals[key].get("error"), {"code": "enhance_failed", "message": ONTO_A_RECORDING},
                                 refusals[key])
        self.assertEqual(sorted(os.listdir(meeting_dir)), sorted(NAMES))
        slow = sanitized(run.process.pid)
        for name in NAMES:
            with self.subTest(name=name):
                # The world's own signal, from its first sample, for as long as the meeting went.
                samples = whole_wav(self, outputs[name])
                expected = np.pad(self.expected[name], (0, max(0, len(samples) - len(self.expected[name]))))
                np.testing.assert_array_equal(samples, expected[:len(samples)])
                slack = RATE * (0.1 + (0.25 if slow else 0))
                self.assertGreater(len(samples), (stop_sent - started) * RATE - slack)
                self.assertLess(len(samples), (stopped - start_sent) * RATE + slack)

        # An ended recording is the user's file like any other.
        run.send(id="after", cmd="enhance", args={"input": take, "output": outputs["audio-mic.wav"]})
        after = run.answer("after", timeout=60)[1]
        run.close()
        self.assertTrue(after["ok"], after)
        with wave.open(outputs["audio-mic.wav"]) as enhanced:
            self.assertEqual((enhanced.getframerate(), enhanced.getnframes()), (48000, after["result"]["frames"] * 480))

    def long_enhancement(self, source, output):
        """A listener running an enhancement of some seconds from `source` to
        `output`, once its temporary file is there."""
        # Ten minutes at 1 kHz: a small file, and some seconds of denoising.
        soundfile.write(source, np.random.default_rng(3).integers(-9000, 9000, 600_000, dtype=np.int16), 1000,
                        subtype="PCM_16")
        run = Run(self, self.world, self.tmp.name)
        run.send(id="enhance", cmd="enhance", args={"input": source, "output": output})
        deadline = time.monotonic() + 30
        while not any(name.startswith(".ombri-enhance-") for name in os.listdir(os.path.dirname(output))):
            self.assertLess(time.monotonic(), deadline, "the enhancement never started")
            time.sleep(0.002)
        return run

    def test_end_of_input_during_an_enhancement_leaves_its_directory_as_it_was(self):
        work = os.path.join(self.tmp.name, "enhance")
        os.makedirs(work)
        output = os.path.join(work, "long-enhanced.wav")
        with open(output, "wb") as f:
            f.write(b"what was there before")
        before = sorted(os.listdir(work) + ["long.wav"])
        run = self.long_enhancement(os.path.join(work, "long.wav"), output)
        run.close()
        self.assertEqual(run.process.returncode, 0)
        self.assertEqual(run.lines, [])
        self.assertEqual(sorted(os.listdir(work)), before)
        with open(output, "rb") as f:
            self.assertEqual(f.read(), b"what was there before")

    def test_an_output_folder_moved_away_during_an_enhancement_keeps_no_temporary_file(self):
        folder, moved = os.path.join(self.tmp.name, "out"), os.path.join(self.tmp.name, "moved")
        os.makedirs(folder)
        run = self.long_enhancement(os.path.join(self.tmp.name, "long.wav"), os.path.join(folder, "long-enhanced.wav"))
        os.rename(folder, moved)
        os.makedirs(folder)
        _, answer = run.answer("enhance", timeout=60)
        self.assertEqual(answer["error"], {"code": "enhance_failed",
                                           "message": "finalize failed: No such file or directory (os error 2)"})
        self.assertEqual((os.listdir(moved), os.listdir(folder)), ([], []))
        run.close()


if __name__ == "__main__":
    unittest.main()
