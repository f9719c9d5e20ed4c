"""enhance and transcribe through the running listener: deferred answers by id,
and nothing but protocol lines on stdout while whisper.cpp logs to stderr."""

import json
import os
import subprocess
import tempfile
import time
import unittest
import wave

from listener import LISTENER, TinyTranscriptionCase, answers_by_id, read_bytes, request


def sox_tone(path, seconds, kind="sine", rate=48000):
    subprocess.run(["sox", "-n", "-r", str(rate), "-c", "1", "-b", "16", path, "synth", str(seconds), kind, "440",
                    "vol", "0.5"], check=True)
    return path


def sox_samples(path):
    """The sample count sox reads from the file, or None when sox refuses it."""
    done = subprocess.run(["soxi", "-s", path], capture_output=True, text=True)
    return int(done.stdout) if done.returncode == 0 else None


def wait_for_entry(directory, timeout=30):
    """Waits until something appears in `directory`: a worker has begun its output."""
    deadline = time.monotonic() + timeout
    while not os.listdir(directory):
        if time.monotonic() > deadline:
            raise AssertionError("nothing appeared in %s" % directory)
        time.sleep(0.001)


class ProcessingCommands(TinyTranscriptionCase):
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

    def test_files_that_are_not_regular_are_refused(self):
        # /dev/stdin would read the requests that follow, the listener's own
        # standard output put WAV bytes among the answers, a FIFO without a
        # writer block for ever. (Named through /proc, where nothing can be
        # created, so a broken check cannot replace the machine's /dev/stdout.)
        with tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, "fifo")
            os.mkfifo(fifo)
            answers = answers_by_id([
                request(id="in", cmd="enhance", args={"input": "/dev/stdin", "output": os.path.join(tmp, "a.wav")}),
                request(id="out", cmd="enhance", args={"input": self.audio, "output": "/proc/self/fd/1"}),
                request(id="fifo", cmd="enhance", args={"input": fifo, "output": os.path.join(tmp, "b.wav")}),
                request(id="s", cmd="status"),
            ], 4)
            self.assertEqual(os.listdir(tmp), ["fifo"])
        self.assertTrue(answers["s"]["ok"])
        for key, message in (("in", "input is not a regular file"), ("fifo", "input is not a regular file"),
                             ("out", "output exists and is not a regular file")):
            self.assertEqual(answers[key]["error"], {"code": "enhance_failed", "message": message})

    def test_the_output_is_complete_or_absent_when_the_listener_ends_midway(self):
        with tempfile.TemporaryDirectory() as tmp:
            source = sox_tone(os.path.join(tmp, "long.wav"), 60)
            out_dir = os.path.join(tmp, "out")
            os.mkdir(out_dir)
            output = os.path.join(out_dir, "enhanced.wav")
            with subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL) as child:
                child.stdin.write(request(id="e", cmd="enhance", args={"input": source, "output": output}))
                child.stdin.flush()
                wait_for_entry(out_dir)
                # The end of input ends the listener without waiting for its worker.
                child.stdin.close()
                self.assertEqual(child.wait(timeout=30), 0)
            if os.path.exists(output):
                self.assertEqual(sox_samples(output), 60 * 48000)

    def test_concurrent_requests_for_one_output_leave_one_whole_result(self):
        with tempfile.TemporaryDirectory() as tmp:
            tone = sox_tone(os.path.join(tmp, "tone.wav"), 24)
            noise = sox_tone(os.path.join(tmp, "noise.wav"), 6, kind="whitenoise")
            references = [os.path.join(tmp, name) for name in ("tone-ref.wav", "noise-ref.wav")]
            out_dir = os.path.join(tmp, "out")
            os.mkdir(out_dir)
            shared = os.path.join(out_dir, "shared.wav")
            # The shorter request starts once the longer one writes, and ends
            # first: written into one file, its start would land over the
            # longer one's.
            answers = answers_by_id([
                request(id="r1", cmd="enhance", args={"input": tone, "output": references[0]}),
                request(id="r2", cmd="enhance", args={"input": noise, "output": references[1]}),
                request(id="a", cmd="enhance", args={"input": tone, "output": shared}),
                lambda: wait_for_entry(out_dir),
                request(id="b", cmd="enhance", args={"input": noise, "output": shared}),
            ], 4)
            self.assertTrue(all(answer["ok"] for answer in answers.values()), answers)
            whole = [read_bytes(path) for path in references]
            self.assertTrue(read_bytes(shared) in whole, "the shared output is neither request's whole result")
            self.assertIn(sox_samples(shared), [24 * 48000, 6 * 48000])
            self.assertEqual(os.listdir(out_dir), ["shared.wav"])

    def test_refuses_to_overwrite_the_input(self):
        before = read_bytes(self.audio)
        same = os.path.join(self.dir.name, ".", "take.wav")
        answer = self.one_answer(request(id="x", cmd="enhance", args={"input": self.audio, "output": same}))
        self.assertEqual(answer["error"]["code"], "enhance_failed")
        self.assertEqual(read_bytes(self.audio), before)


if __name__ == "__main__":
    unittest.main()
