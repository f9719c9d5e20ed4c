"""Paths from request lines: each one names the file that was asked for or is
refused before anything is made."""

import json
import os
import shutil
import stat
import subprocess
import tempfile
import threading
import unittest

from listener import LISTENER, answers_by_id, request

SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "..", "samples")
MIC = os.path.abspath(os.path.join(SAMPLES, "mic.wav"))
SYSTEM = os.path.abspath(os.path.join(SAMPLES, "system.wav"))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def error_of(answer):
    return (answer["error"]["code"], answer["error"]["message"])


def listing(directory):
    return sorted(os.listdir(directory))


class NulInPaths(unittest.TestCase):
    def test_a_path_holding_a_nul_is_refused_before_anything_is_made(self):
        # Each text up to its NUL names a file that exists or can be made: the
        # system, reading no further, would have taken it.
        with tempfile.TemporaryDirectory() as tmp:
            take = os.path.join(tmp, "take.wav")
            shutil.copy(MIC, take)
            meeting_dir = os.path.join(tmp, "a\0b")
            answers = answers_by_id([
                request(id="dir", cmd="start", args={"meetingDir": meeting_dir, "captureSystemAudio": False}),
                request(id="status", cmd="status"),
                request(id="mic", cmd="start", args={"inputWav": {"mic": take + "\0x", "system": SYSTEM}}),
                request(id="system", cmd="start", args={"inputWav": {"mic": take, "system": SYSTEM + "\0"}}),
                request(id="in", cmd="enhance", args={"input": take + "\0x", "output": os.path.join(tmp, "e.wav")}),
                request(id="out", cmd="enhance", args={"input": take, "output": os.path.join(tmp, "o\0.wav")}),
                request(id="model", cmd="transcribe", args={"modelPath": take + "\0.bin", "audioPath": take}),
                request(id="audio", cmd="transcribe", args={"modelPath": take, "audioPath": take + "\0x"}),
            ], 8)
            self.assertEqual(listing(tmp), ["take.wav"])

        directory_failure = "Failed to create meeting audio directory %s: Path contains a NUL character" % meeting_dir
        self.assertEqual(error_of(answers["dir"]), ("capture_unavailable", directory_failure))
        self.assertEqual(answers["status"]["result"],
                         {"state": "error", "reason": directory_failure, "sessionId": None, "startedAt": None})
        for key, code, message in (
                ("mic", "input_wav_failed", "Failed to open WAV %s\0x: Path contains a NUL character" % take),
                ("system", "input_wav_failed", "Failed to open WAV %s\0: Path contains a NUL character" % SYSTEM),
                ("in", "enhance_failed", "could not open input: Path contains a NUL character"),
                ("out", "enhance_failed", "could not open output: Path contains a NUL character"),
                ("model", "transcription_failed", "Could not load the Whisper model: Path contains a NUL character"),
                ("audio", "transcription_failed", "Could not open transcription audio: Path contains a NUL character"),
        ):
            self.assertEqual(error_of(answers[key]), (code, message), key)


class FixtureInputs(unittest.TestCase):
    def test_a_request_refuses_files_that_are_not_regular_at_once(self):
        # A FIFO without a writer would block the main thread for ever, and
        # /dev/stdin would read the requests that follow as a WAV file.
        with tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, "fifo")
            os.mkfifo(fifo)
            cases = {"fifo": (fifo, SYSTEM), "dir": (MIC, tmp), "stdin": ("/dev/stdin", SYSTEM)}
            answers = answers_by_id(
                [request(id=key, cmd="start", args={"inputWav": {"mic": mic, "system": system}})
                 for key, (mic, system) in cases.items()] + [request(id="status", cmd="status")],
                len(cases) + 1, timeout=30)
        for key, (mic, system) in cases.items():
            refused = mic if key != "dir" else system
            self.assertEqual(error_of(answers[key]),
                             ("input_wav_failed", "Failed to open WAV %s: Not a regular file" % refused), key)
        self.assertEqual(answers["status"]["result"]["state"], "idle")

    def test_the_command_line_still_reads_a_fifo(self):
        with tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, "fifo")
            os.mkfifo(fifo)

            def feed():
                with open(fifo, "wb") as f:
                    f.write(read_bytes(MIC))

            feeder = threading.Thread(target=feed, daemon=True)
            feeder.start()
            through_fifo = subprocess.run([LISTENER, "--input-wav", fifo, SYSTEM], capture_output=True, timeout=60)
            feeder.join(timeout=30)
        direct = subprocess.run([LISTENER, "--input-wav", MIC, SYSTEM], capture_output=True, timeout=60)
        self.assertEqual(through_fifo.returncode, 0, through_fifo.stderr)

        def timeless(run):
            events = [json.loads(line) for line in run.stdout.splitlines()]
            for event in events:
                event.pop("at", None)
                for key in ("startedAt", "reason"):
                    event.get("status", {}).pop(key, None)
            return events

        self.assertEqual(timeless(through_fifo), timeless(direct))
        self.assertGreater(len(timeless(direct)), 3)


class MeetingDirectory(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, *names):
        return os.path.join(self.tmp.name, *names)

    def converse(self, *lines):
        done = subprocess.run([LISTENER], input=b"".join(lines), capture_output=True, timeout=60,
                              preexec_fn=lambda: os.umask(0o027))
        self.assertEqual(done.returncode, 0, done.stderr)
        return {answer["id"]: answer for answer in map(json.loads, done.stdout.splitlines()) if "id" in answer}

    def test_what_is_not_a_directory_answers_as_mkdir_does(self):
        with open(self.path("plain"), "w") as f:
            f.write("x")
        os.symlink(self.path("nowhere"), self.path("dangling"))
        cases = {
            "file": (self.path("plain"), "File exists (os error 17)"),
            "dangling": (self.path("dangling"), "File exists (os error 17)"),
            "below a file": (self.path("plain", "sub"), "Not a directory (os error 20)"),
        }
        answers = self.converse(*[request(id=key, cmd="start", args={"meetingDir": path}) for key, (path, _) in
                                  cases.items()])
        for key, (path, text) in cases.items():
            self.assertEqual(error_of(answers[key]), (
                "capture_unavailable", "Failed to create meeting audio directory %s: %s" % (path, text)), key)
        self.assertEqual(listing(self.tmp.name), ["dangling", "plain"])

    def test_missing_parents_are_made_and_existing_directories_taken(self):
        os.symlink(self.path("a", "b"), self.path("to-b"))
        answers = self.converse(
            request(id="new", cmd="start", args={"meetingDir": self.path("a", "b", "c"), "captureSystemAudio": False}),
            request(id="stop1", cmd="stop"),
            request(id="again", cmd="start", args={"meetingDir": self.path("to-b", "c") + "/",
                                                   "captureSystemAudio": False}),
            request(id="stop2", cmd="stop"))
        self.assertTrue(all(answer["ok"] for answer in answers.values()), answers)
        for directory in (self.path("a"), self.path("a", "b"), self.path("a", "b", "c")):
            mode = os.lstat(directory).st_mode
            self.assertTrue(stat.S_ISDIR(mode), directory)
            self.assertEqual(stat.S_IMODE(mode), 0o750, directory)
        self.assertEqual(listing(self.path("a", "b", "c")), ["audio-mic.wav"])


if __name__ == "__main__":
    unittest.main()
