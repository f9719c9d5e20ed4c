"""enhance and transcribe through the running listener: deferred answers by id,
and nothing but protocol lines on stdout while whisper.cpp logs to stderr."""

import json
import math
import os
import subprocess
import sys
import tempfile
import unittest
import wave

from listener import LISTENER, request

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_wav(path, rate, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(b"".join(int(s).to_bytes(2, "little", signed=True) for s in samples))


class ProcessingCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.model = os.path.join(cls.dir.name, "tiny.bin")
        subprocess.run([sys.executable, os.path.join(TOOLS, "make_tiny_whisper_model.py"), cls.model], check=True)
        # 2.75 s at 16 kHz: the tiny model's known decoding.
        cls.audio = os.path.join(cls.dir.name, "take.wav")
        write_wav(cls.audio, 16000, (8000 * math.sin(i * 0.05) for i in range(44000)))

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_deferred_answers_and_a_clean_stdout(self):
        enhanced = os.path.join(self.dir.name, "clean.wav")
        lines = [
            request(id="t", cmd="transcribe", args={"modelPath": self.model, "audioPath": self.audio}),
            request(id="e", cmd="enhance", args={"input": self.audio, "output": enhanced}),
            request(id="s", cmd="status"),
        ]
        with tempfile.TemporaryFile() as stderr, subprocess.Popen(
                [LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr) as child:
            child.stdin.write(b"".join(lines))
            child.stdin.flush()
            answers = {}
            raw = []
            while len(answers) < 3:
                line = child.stdout.readline()
                self.assertTrue(line, "the listener ended before answering")
                raw.append(line)
                value = json.loads(line)
                answers[value["id"]] = value
            child.stdin.close()
            self.assertEqual(child.stdout.read(), b"")
            self.assertEqual(child.wait(timeout=30), 0)
            stderr.seek(0)
            errors = stderr.read()

        # Every stdout line is one compact JSON value; whisper.cpp's lines went to stderr.
        for line in raw:
            self.assertTrue(line.endswith(b"}\n"), line)
            self.assertNotIn(b"whisper", line.replace(b"Whisper", b""))
        self.assertIn(b"whisper_model_load", errors)

        self.assertEqual(answers["s"]["ok"], True)
        self.assertEqual(answers["t"], {
            "id": "t", "ok": True,
            "result": {"durationSeconds": 2.75, "language": "de",
                       "segments": [{"end": 2.7, "start": 0.5, "text": "w1000"}], "text": "w1000"}})
        result = answers["e"]["result"]
        self.assertEqual(result["output"], enhanced)
        self.assertEqual(result["inputSeconds"], 2.75)
        self.assertEqual(result["frames"], 275)
        self.assertGreaterEqual(result["vadMean"], 0.0)
        self.assertLessEqual(result["vadMean"], 1.0)
        with wave.open(enhanced, "rb") as written:
            self.assertEqual((written.getnchannels(), written.getsampwidth(), written.getframerate()), (1, 2, 48000))
            self.assertEqual(written.getnframes(), 275 * 480)

    def test_an_unknown_language_is_refused(self):
        # With its blank, " en" is none of whisper.cpp's languages.
        answer = self.one_answer(request(id="l", cmd="transcribe", args={
            "modelPath": self.model, "audioPath": self.audio, "language": " en"}))
        self.assertEqual(answer, {"id": "l", "ok": False, "error": {
            "code": "transcription_failed", "message": 'Whisper does not know the language " en".'}})

    def one_answer(self, line):
        """Sends one request and returns its answer, read before standard input closes."""
        with subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL) as child:
            child.stdin.write(line)
            child.stdin.flush()
            return json.loads(child.stdout.readline())

    def test_refuses_to_overwrite_the_input(self):
        before = read_bytes(self.audio)
        same = os.path.join(self.dir.name, ".", "take.wav")
        answer = self.one_answer(request(id="x", cmd="enhance", args={"input": self.audio, "output": same}))
        self.assertEqual(answer["error"]["code"], "enhance_failed")
        self.assertEqual(read_bytes(self.audio), before)


if __name__ == "__main__":
    unittest.main()
