"""Fixture WAV mode from the outside: the command line and `start` with
`inputWav`, checked against a probe written here from the rules alone."""

import json
import math
import os
import re
import struct
import subprocess
import tempfile
import unittest
import wave

LISTENER = os.environ["OMBRI_LISTENER"]
SAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "..", "..", "samples")
MIC = os.path.abspath(os.path.join(SAMPLES, "mic.wav"))
SYSTEM = os.path.abspath(os.path.join(SAMPLES, "system.wav"))
TIMESTAMP = re.compile(r"^\d+\.\d{3}Z$")


def f32(value):
    """The single-precision value nearest to `value`."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def reference_probe(path):
    """Windows of 250 ms, voiced check, segmentation, for 16-bit PCM files."""
    with wave.open(path, "rb") as w:
        channels, rate, width = w.getnchannels(), w.getframerate(), w.getsampwidth()
        data = w.readframes(w.getnframes())
    assert width == 2
    samples = struct.unpack("<%dh" % (len(data) // 2), data)
    rate = rate or 1
    window_frames = max(math.floor(rate / 4 + 0.5), 1)
    windows = []  # [count, sum_sq, peak]
    file_peak = 0.0
    for n, s in enumerate(samples):
        x = max(f32(s / 32767.0), -1.0)  # s / 32767 in single precision
        a = abs(x)
        file_peak = max(file_peak, a)
        w = n // channels // window_frames
        while len(windows) <= w:
            windows.append([0, 0.0, 0.0])
        windows[w][0] += 1
        windows[w][1] += x * x
        windows[w][2] = max(windows[w][2], a)
    duration = (len(samples) // channels) / rate

    def voiced(win):
        return (win[0] and math.sqrt(win[1] / win[0]) >= 0.004) or win[2] >= f32(0.012)

    chunks = []

    def emit(start, end):
        count = sum(win[0] for win in windows[start:end])
        total = 0.0
        for win in windows[start:end]:
            total += win[1]
        peak = max([0.0] + [win[2] for win in windows[start:end]])
        t0, t1 = start * 0.25, min(end * 0.25, duration)
        if count and t1 > t0:
            chunks.append((t0, t1, math.sqrt(total / count), peak))

    start, end, is_open = 0, 0, False
    for i, win in enumerate(windows):
        if voiced(win):
            if not is_open:
                start, is_open = i, True
            end = i + 1
            if end - start >= 48:
                emit(start, end)
                is_open = False
        elif is_open and i + 1 - end >= 2:
            emit(start, end)
            is_open = False
    if is_open:
        emit(start, end)
    return chunks, file_peak


def expected_events(mic, system, session):
    """The events without their times."""
    mic_chunks, mic_peak = reference_probe(mic)
    system_chunks, system_peak = reference_probe(system)
    events = [
        {"type": "status", "status": {"state": "recording", "sessionId": session}},
        {"type": "level", "sessionId": session, "mic": mic_peak, "system": system_peak},
    ]
    for channel, speaker, chunks in (("mic", "You", mic_chunks), ("system", "Speaker", system_chunks)):
        word = "microphone" if channel == "mic" else "system"
        for i, (t0, t1, rms, peak) in enumerate(chunks):
            text = "Fixture %s audio chunk %d/%d captured from %ss to %ss (%ss, peak %s)." % (
                word, i + 1, len(chunks), format(t0, ".1f"), format(t1, ".1f"), format(t1 - t0, ".1f"),
                format(peak, ".3f"))
            events.append({"type": "transcript", "sessionId": session, "channel": channel, "speaker": speaker,
                           "text": text, "t0": t0, "t1": t1, "final": True, "rms": rms, "peak": peak})
    events.append({"type": "status", "status": {"state": "idle"}})
    return events


def parse_line(line):
    """Parses one line, checking that every object's keys come sorted."""
    def sorted_object(pairs):
        keys = [k for k, _ in pairs]
        assert keys == sorted(keys), keys
        return dict(pairs)
    return json.loads(line, object_pairs_hook=sorted_object)


def without_times(event):
    """Checks and removes the times, which no reference can know."""
    event = json.loads(json.dumps(event))
    status = event.get("status", {})
    if "startedAt" in status:
        assert TIMESTAMP.match(status.pop("startedAt"))
    if "reason" in status:
        assert re.match(r"^Fixture WAV mode completed at \d+\.\d{3}Z\.$", status.pop("reason"))
    if "at" in event:
        assert TIMESTAMP.match(event.pop("at"))
    return event


def run_fixture(*args):
    return subprocess.run([LISTENER, "--input-wav", *args], capture_output=True, text=True, timeout=60)


def sox(path, *effects, rate=16000, channels=1):
    subprocess.run(["sox", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", path, *effects], check=True)
    return path


class CommandLine(unittest.TestCase):
    def test_shipped_samples_give_the_reference_events(self):
        done = run_fixture(MIC, SYSTEM)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")
        lines = done.stdout.splitlines()
        events = [parse_line(line) for line in lines]
        self.assertEqual([without_times(e) for e in events], expected_events(MIC, SYSTEM, "fixture-fixture"))
        transcripts = [e for e in events if e["type"] == "transcript"]
        self.assertGreaterEqual(len(transcripts), 2)
        # Whole values keep their fraction.
        self.assertIn('"t0":0.0,', lines[2])

    def test_meeting_id_last_one_wins(self):
        done = run_fixture(MIC, SYSTEM, "--meeting-id", "x", "--meeting-id", "y")
        self.assertEqual(done.returncode, 0, done.stderr)
        events = [json.loads(line) for line in done.stdout.splitlines()]
        self.assertEqual(events[0]["status"]["sessionId"], "fixture-y")
        self.assertTrue(all(e["sessionId"] == "fixture-y" for e in events[1:-1]))
        self.assertNotIn("sessionId", events[-1]["status"])

    def test_command_line_errors_exit_with_status_2(self):
        usage = "Usage: ombri-listener --input-wav <mic.wav> <system.wav> [--meeting-id <id>]"
        needs_value = "--meeting-id requires a non-empty value in --input-wav mode."
        cases = [
            ([], usage),
            (["a.wav"], usage),
            (["a.wav", "b.wav", "--meeting-id"], needs_value),
            (["a.wav", "b.wav", "--meeting-id", " "], needs_value),
            (["a.wav", "b.wav", "--meeting-id", "\u2003"], needs_value),
            # The byte 0xFF alone, which is not UTF-8 and so cannot be an id.
            (["a.wav", "b.wav", "--meeting-id", "\udcff"], needs_value),
            (["a.wav", "b.wav", "--verbose"], "Unknown --input-wav option: --verbose"),
            (["a.wav", "b.wav", "--meeting-id", "x", "extra"], "Unknown --input-wav option: extra"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                done = run_fixture(*args)
                self.assertEqual(done.returncode, 2)
                self.assertEqual(done.stdout, "")
                self.assertEqual(done.stderr, "ombri-listener failed: %s\n" % message)

    def test_a_missing_file_names_the_first_failure(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "missing.wav")
            done = run_fixture(MIC, missing)
            self.assertEqual(done.returncode, 2)
            self.assertEqual(done.stdout, "")
            self.assertEqual(done.stderr, "ombri-listener failed: Failed to open WAV %s: "
                             "No such file or directory (os error 2)\n" % missing)
            done = run_fixture(missing + "x", missing)
            self.assertIn("Failed to open WAV %sx: " % missing, done.stderr)

    def test_silent_files_give_three_events(self):
        with tempfile.TemporaryDirectory() as tmp:
            quiet = sox(os.path.join(tmp, "quiet.wav"), "trim", "0", "2")
            done = run_fixture(quiet, quiet)
            self.assertEqual(done.returncode, 0, done.stderr)
            events = [json.loads(line) for line in done.stdout.splitlines()]
            self.assertEqual([e["type"] for e in events], ["status", "level", "status"])

    def test_stereo_48k_file_with_a_long_tone(self):
        with tempfile.TemporaryDirectory() as tmp:
            tone = sox(os.path.join(tmp, "tone.wav"), "synth", "13.1", "sine", "440", "vol", "0.3",
                       rate=48000, channels=2)
            short = sox(os.path.join(tmp, "short.wav"), "synth", "0.3", "sine", "440", "pad", "1", "0")
            done = run_fixture(tone, short)
            self.assertEqual(done.returncode, 0, done.stderr)
            events = [without_times(parse_line(line)) for line in done.stdout.splitlines()]
            self.assertEqual(events, expected_events(tone, short, "fixture-fixture"))
            self.assertEqual([e["t1"] for e in events if e["type"] == "transcript"], [12.0, 13.1, 1.3])


def peak_rss_bytes(args):
    """Runs the listener on `args`; returns (exit status, stdout, its own peak resident memory in bytes)."""
    with tempfile.TemporaryFile() as out, subprocess.Popen([LISTENER, *args], stdout=out,
                                                           stderr=subprocess.DEVNULL) as child:
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        return child.returncode, out.read().decode(), usage.ru_maxrss * 1024


class TinyHeaderRate(unittest.TestCase):
    def test_memory_follows_the_events_not_the_windows(self):
        # 20 MiB of 8-bit samples at 1 Hz: one window per sample, 20 million
        # windows, whose list alone would take 480 MB; none of them is voiced.
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "1hz.wav")
            size = 20 << 20
            with open(path, "wb") as f:
                f.write(b"RIFF" + struct.pack("<I", 36 + size) + b"WAVEfmt " +
                        struct.pack("<IHHIIHH", 16, 1, 1, 1, 1, 1, 8) + b"data" + struct.pack("<I", size))
                for _ in range(size >> 16):
                    f.write(b"\x00\xff" * (1 << 15))
            status, out, peak = peak_rss_bytes(["--input-wav", path, path])
        self.assertEqual(status, 0)
        events = [json.loads(line) for line in out.splitlines()]
        self.assertEqual([e["type"] for e in events], ["status", "level", "status"])
        self.assertEqual(events[1]["mic"], f32(128 / 32767))
        self.assertLess(peak, 200 << 20)


class StartCommand(unittest.TestCase):
    def converse(self, *requests):
        done = subprocess.run([LISTENER], input="".join(json.dumps(r) + "\n" for r in requests),
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        return [parse_line(line) for line in done.stdout.splitlines()]

    def test_start_with_input_wav_answers_then_replays_the_events(self):
        lines = self.converse(
            {"id": "s1", "cmd": "start", "args": {"meetingId": "demo", "inputWav": {"mic": MIC, "system": SYSTEM}}},
            {"id": "s2", "cmd": "status"})
        response, events, status = lines[0], lines[1:-1], lines[-1]
        self.assertEqual(response["id"], "s1")
        self.assertTrue(response["ok"])
        result = response["result"]
        self.assertTrue(TIMESTAMP.match(result.pop("startedAt")))
        self.assertEqual(result, {
            "sessionId": "fixture-demo", "captureMic": True, "captureSystemAudio": True,
            "transcriptionReady": True, "audioPaths": {"mic": MIC, "system": SYSTEM},
            "capabilities": {
                "micCapture": {"status": "ready", "reason": "Fixture WAV mode reads the supplied microphone WAV."},
                "systemAudioCapture": {"status": "ready",
                                       "reason": "Fixture WAV mode reads the supplied system WAV."},
                "localTranscription": {"status": "ready", "reason": "Fixture WAV mode emits deterministic "
                                       "transcript chunks from audio energy windows."},
                "fixtureInput": {"status": "ready", "reason": "Deterministic inputWav fixture mode is active."},
            }})
        self.assertEqual([without_times(e) for e in events], expected_events(MIC, SYSTEM, "fixture-demo"))
        self.assertEqual(status, {"id": "s2", "ok": True, "result": {
            "state": "idle", "sessionId": None, "startedAt": None, "reason": None}})

    def test_start_refusals(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "missing.wav")
            lines = self.converse(
                {"id": "1", "cmd": "start", "args": {"inputWav": None}},
                {"id": "2", "cmd": "start", "args": {"inputWav": {"mic": MIC, "system": "  "}}},
                {"id": "3", "cmd": "start", "args": {"inputWav": {"mic": missing, "system": SYSTEM}}},
                {"id": "4", "cmd": "start", "args": {"inputWav": {}}})
        self.assertEqual([(l["id"], l["error"]["code"]) for l in lines],
                         [("1", "invalid_request"), ("2", "invalid_request"), ("3", "input_wav_failed"),
                          ("4", "invalid_request")])
        self.assertEqual(lines[1]["error"]["message"], "inputWav requires both mic and system WAV paths.")
        self.assertEqual(lines[2]["error"]["message"],
                         "Failed to open WAV %s: No such file or directory (os error 2)" % missing)
        self.assertEqual(lines[3]["error"]["message"], "meetingDir is required.")


if __name__ == "__main__":
    unittest.main()
