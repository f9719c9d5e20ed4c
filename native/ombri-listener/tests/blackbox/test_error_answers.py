"""Which answer a request gets when several of its files are wrong: the checks
come in a fixed order (microphone file before system file; enhance input,
rate, output; transcription model and audio before the language), a
directory answers with the system's text, and only what could block or reach
a device is refused as not regular. A recording created over an existing file
keeps what the user set on it."""

import json
import os
import stat
import struct
import subprocess
import sys
import tempfile
import unittest
import wave

from listener import (LISTENER, SAMPLES, TOOLS, TinyTranscriptionCase, answers_by_id, audio_world, read_bytes,
                      request, world_env)

SYSTEM = os.path.abspath(os.path.join(SAMPLES, "system.wav"))
NOBODY = 65534


def zero_rate_wav(path):
    """A well-formed 16-bit mono WAV whose header gives 0 Hz."""
    data = struct.pack("<4h", 1, 2, 3, 4)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, 0, 0, 2, 16))
        f.write(b"data" + struct.pack("<I", len(data)) + data)
    return path


def error(code, message):
    return {"ok": False, "error": {"code": code, "message": message}}


class CheckOrder(TinyTranscriptionCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.english_model = os.path.join(cls.dir.name, "tiny.en.bin")
        subprocess.run([sys.executable, os.path.join(TOOLS, "make_tiny_whisper_model.py"), cls.english_model,
                        "--english-only"], check=True)

    def test_each_request_answers_with_its_first_failing_check(self):
        with tempfile.TemporaryDirectory() as tmp:
            def path(name):
                return os.path.join(tmp, name)

            missing, directory, fifo = path("missing.wav"), path("a-directory"), path("fifo")
            os.mkdir(directory)
            os.mkfifo(fifo)
            ill_formed = path("ill-formed.wav")
            with open(ill_formed, "wb") as f:
                f.write(b"no wave here")
            zero_rate = zero_rate_wav(path("zero-rate.wav"))
            not_a_model = path("not-a-model.bin")
            with open(not_a_model, "wb") as f:
                f.write(b"no model here")
            made = sorted(os.listdir(tmp))

            def fixture(mic, system):
                return ("start", {"inputWav": {"mic": mic, "system": system}})

            def enhance(input_path, output):
                return ("enhance", {"input": input_path, "output": output})

            def transcribe(model, audio, language=None):
                args = {"modelPath": model, "audioPath": audio}
                if language is not None:
                    args["language"] = language
                return ("transcribe", args)

            def wav_failed(path, text):
                return error("input_wav_failed", "Failed to open WAV %s: %s" % (path, text))

            no_such_file = "No such file or directory (os error 2)"
            is_a_directory = "Is a directory (os error 21)"
            no_riff = "Ill-formed WAVE file: no RIFF tag found"
            rows = {
                "mic missing, system a directory": (fixture(missing, directory), wav_failed(missing, no_such_file)),
                "mic missing, system a FIFO": (fixture(missing, fifo), wav_failed(missing, no_such_file)),
                "mic ill-formed, system a FIFO": (fixture(ill_formed, fifo), wav_failed(ill_formed, no_riff)),
                "mic a directory": (fixture(directory, SYSTEM), wav_failed(directory, is_a_directory)),
                "system a directory": (fixture(self.audio, directory), wav_failed(directory, is_a_directory)),
                # Kept: what would block the main thread is refused before it is opened.
                "mic a FIFO": (fixture(fifo, SYSTEM), wav_failed(fifo, "Not a regular file")),
                "system a FIFO": (fixture(self.audio, fifo), wav_failed(fifo, "Not a regular file")),
                "enhance input a directory": (enhance(directory, path("out1.wav")),
                                              error("enhance_failed", "could not open input: " + is_a_directory)),
                "enhance output a directory": (enhance(self.audio, directory),
                                               error("enhance_failed", "could not open output: " + is_a_directory)),
                "enhance input a FIFO": (enhance(fifo, path("out2.wav")),
                                         error("enhance_failed", "input is not a regular file")),
                "transcribe model path with a NUL": (transcribe(self.model + "\0x", self.audio),
                                                     error("transcription_failed",
                                                           "The selected Whisper model is not installed.")),
                "transcribe audio path with a NUL": (transcribe(self.model, self.audio + "\0x"),
                                                     error("transcription_failed",
                                                           "The transcription audio file was not found.")),
                "transcribe ill-formed model, language with a blank": (
                    transcribe(not_a_model, self.audio, " en"),
                    error("transcription_failed",
                          "Could not load the Whisper model: Failed to create a new whisper context.")),
                "transcribe English-only model, a regional language": (
                    transcribe(self.english_model, self.audio, "en-US"),
                    {"ok": True, "result": {"durationSeconds": 2.75, "language": "en",
                                            "segments": [{"end": 2.7, "start": 0.5, "text": "w1000"}],
                                            "text": "w1000"}}),
                # Kept: a multilingual model would decode with a wrong language token.
                "transcribe multilingual model, an unknown language": (
                    transcribe(self.model, self.audio, "xx-YY"),
                    error("transcription_failed", 'Whisper does not know the language "xx-YY".')),
            }
            enhance_inputs = {"missing": (missing, "could not open input: " + no_such_file),
                              "ill-formed": (ill_formed, "could not open input: " + no_riff),
                              "0 Hz": (zero_rate, "input has an invalid sample rate")}
            enhance_outputs = {"a directory": directory, "a FIFO": fifo, "a NUL path": path("out\0.wav")}
            for input_name, (input_path, message) in enhance_inputs.items():
                for output_name, output in enhance_outputs.items():
                    rows["enhance input %s, output %s" % (input_name, output_name)] = (
                        enhance(input_path, output), error("enhance_failed", message))

            keys = list(rows)
            answers = answers_by_id(
                [request(id=str(i), cmd=cmd, args=args) for i, ((cmd, args), _) in enumerate(rows.values())] +
                [request(id="status", cmd="status")], len(rows) + 1)
            self.assertEqual(sorted(os.listdir(tmp)), made, "a refused request left a file behind")
            self.assertEqual(os.listdir(directory), [])

        for i, key in enumerate(keys):
            with self.subTest(key):
                answer = dict(answers[str(i)])
                del answer["id"]
                self.assertEqual(answer, rows[key][1])
        # A refused fixture start leaves the status as it was.
        self.assertEqual(answers["status"]["result"]["state"], "idle")


def normal_user_prefix():
    """The command prefix that runs the listener as a user without the
    privilege to override file permissions, or None when none works here."""
    if os.geteuid() != 0:
        return []
    prefix = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
    try:
        probe = subprocess.run(prefix + [LISTENER], input=request(id="p", cmd="ping"), capture_output=True,
                               timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return prefix if probe.returncode == 0 and b'"ok":true' in probe.stdout else None


class StagedRecording(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        os.chmod(self.tmp.name, 0o755)
        self.world = audio_world(self.tmp.name, [{"uid": "mic", "input": {}}, {"uid": "speakers", "output": {}}],
                                 "mic", "speakers")

    def meeting_dir(self, owner):
        directory = os.path.join(self.tmp.name, "meeting")
        os.mkdir(directory)
        scratch = os.path.join(self.tmp.name, "scratch")
        os.mkdir(scratch)
        if owner is not None:
            for made in (directory, scratch):
                os.chown(made, owner, owner)
        return directory

    def start_and_stop(self, meeting_dir, prefix=()):
        env = world_env(self.world, os.path.join(self.tmp.name, "scratch"))
        done = subprocess.run(
            [*prefix, LISTENER],
            input=request(id="start", cmd="start", args={"meetingDir": meeting_dir, "captureSystemAudio": False}) +
            request(id="status", cmd="status") + request(id="stop", cmd="stop"),
            capture_output=True, env=env, timeout=60, preexec_fn=lambda: os.umask(0o022))
        self.assertEqual(done.returncode, 0, done.stderr)
        return {answer["id"]: answer for answer in map(json.loads, done.stdout.splitlines()) if "id" in answer}

    def existing_recording(self, meeting_dir, mode, owner=None):
        path = os.path.join(meeting_dir, "audio-mic.wav")
        with open(path, "wb") as f:
            f.write(b"what the user kept")
        if owner is not None:
            os.chown(path, owner, owner)
        os.chmod(path, mode)
        return path

    def test_a_read_only_recording_is_refused_and_left_as_it_was(self):
        prefix = normal_user_prefix()
        if prefix is None:
            self.skipTest("the listener cannot be run as an unprivileged user here")
        owner = NOBODY if prefix else None
        meeting_dir = self.meeting_dir(owner)
        mic = self.existing_recording(meeting_dir, 0o444, owner)
        answers = self.start_and_stop(meeting_dir, prefix)

        message = "Failed to create mic WAV %s: Permission denied (os error 13)" % mic
        self.assertEqual(answers["start"], {"id": "start", **error("capture_unavailable", message)})
        self.assertEqual(answers["status"]["result"],
                         {"state": "error", "reason": message, "sessionId": None, "startedAt": None})
        self.assertEqual(read_bytes(mic), b"what the user kept")
        self.assertEqual(stat.S_IMODE(os.stat(mic).st_mode), 0o444)
        self.assertEqual(os.listdir(meeting_dir), ["audio-mic.wav"])

    def test_a_replaced_recording_keeps_its_mode(self):
        meeting_dir = self.meeting_dir(None)
        mic = self.existing_recording(meeting_dir, 0o600)
        answers = self.start_and_stop(meeting_dir)

        self.assertTrue(answers["start"]["ok"], answers["start"])
        self.assertTrue(answers["stop"]["ok"], answers["stop"])
        self.assertEqual(stat.S_IMODE(os.stat(mic).st_mode), 0o600)
        with wave.open(mic, "rb") as recorded:
            self.assertEqual((recorded.getnchannels(), recorded.getsampwidth()), (1, 2))
        self.assertEqual(os.listdir(meeting_dir), ["audio-mic.wav"])


if __name__ == "__main__":
    unittest.main()
