"""Paths from request lines: each one names the file that was asked for or is
refused before anything is made, an enhanced file goes through links to
where they lead, and never over one of the listener's own streams or
temporary files."""

import json
import os
import random
import shutil
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import wave

from listener import LISTENER, SAMPLES, answers_by_id, read_bytes, request

MIC = os.path.abspath(os.path.join(SAMPLES, "mic.wav"))
SYSTEM = os.path.abspath(os.path.join(SAMPLES, "system.wav"))
TO_STDOUT = "output is the listener's own standard output; choose another output path"
TO_STDERR = "output is the listener's own standard error; choose another output path"


def soxi(path, flag):
    return subprocess.run(["soxi", flag, path], check=True, capture_output=True, text=True).stdout.strip()


def answers_written_to(out_path, command, lines, count, timeout=60, **popen_args):
    """Starts `command`, whose answers go to the file `out_path`, sends `lines`
    and returns the first `count` answers by id, read before its standard
    input closes (the end of input does not wait for enhance workers)."""
    with subprocess.Popen(command, stdin=subprocess.PIPE, **popen_args) as child:
        child.stdin.write(b"".join(lines))
        child.stdin.flush()
        deadline = time.monotonic() + timeout
        while True:
            written = read_bytes(out_path).splitlines() if os.path.exists(out_path) else []
            if len(written) >= count:
                break
            if time.monotonic() > deadline:
                child.kill()
                raise AssertionError("%d of %d answers within %s s" % (len(written), count, timeout))
            time.sleep(0.01)
        child.stdin.close()
        child.wait(timeout=30)
    return {answer["id"]: answer for answer in map(json.loads, written)}


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
                # A path that cannot be asked about names no file.
                ("model", "transcription_failed", "The selected Whisper model is not installed."),
                ("audio", "transcription_failed", "The transcription audio file was not found."),
        ):
            self.assertEqual(error_of(answers[key]), (code, message), key)


class EnhanceOutput(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.input = os.path.join(self.tmp.name, "take.wav")
        shutil.copy(MIC, self.input)

    def path(self, *names):
        return os.path.join(self.tmp.name, *names)

    def test_links_are_written_through_and_stay_links(self):
        os.mkdir(self.path("links"))
        os.mkdir(self.path("targets"))
        with open(self.path("targets", "old.wav"), "wb") as f:
            f.write(b"what it held before")
        links = {
            # name in links/: (link text, the target it leads to)
            "to-existing.wav": (self.path("targets", "old.wav"), self.path("targets", "old.wav")),
            "dangling.wav": ("../targets/new.wav", self.path("targets", "new.wav")),
            "chain.wav": ("hop.wav", self.path("targets", "end.wav")),
            "hop.wav": (self.path("targets", "end.wav"), self.path("targets", "end.wav")),
        }
        for name, (text, _) in links.items():
            os.symlink(text, self.path("links", name))
        outputs = ["to-existing.wav", "dangling.wav", "chain.wav"]
        answers = answers_by_id(
            [request(id="plain", cmd="enhance", args={"input": self.input, "output": self.path("plain.wav")})] +
            [request(id=name, cmd="enhance", args={"input": self.input, "output": self.path("links", name)})
             for name in outputs], 4)

        self.assertTrue(answers["plain"]["ok"], answers["plain"])
        enhanced = read_bytes(self.path("plain.wav"))
        self.assertEqual((soxi(self.path("plain.wav"), "-r"), soxi(self.path("plain.wav"), "-c")), ("48000", "1"))
        for name in outputs:
            with self.subTest(name):
                self.assertEqual(answers[name]["result"]["output"], self.path("links", name))
                self.assertEqual(read_bytes(links[name][1]), enhanced)
        for name, (text, _) in links.items():
            self.assertEqual(os.readlink(self.path("links", name)), text)
        self.assertEqual(listing(self.path("links")), sorted(links))
        self.assertEqual(listing(self.path("targets")), ["end.wav", "new.wav", "old.wav"])

    def test_a_link_loop_is_refused(self):
        os.symlink("loop-b.wav", self.path("loop-a.wav"))
        os.symlink("loop-a.wav", self.path("loop-b.wav"))
        answers = answers_by_id(
            [request(id="e", cmd="enhance", args={"input": self.input, "output": self.path("loop-a.wav")})], 1)
        self.assertEqual(error_of(answers["e"]),
                         ("enhance_failed", "could not open output: Too many levels of symbolic links (os error 40)"))
        self.assertEqual(listing(self.tmp.name), ["loop-a.wav", "loop-b.wav", "take.wav"])

    def test_an_output_leading_to_the_listeners_own_stream_is_refused(self):
        # Standard output and error are log files here, as a parent may give them.
        out, err = self.path("out.jsonl"), self.path("err.log")
        os.symlink(out, self.path("to-out.wav"))
        os.symlink("to-out.wav", self.path("to-to-out.wav"))
        os.symlink(err, self.path("to-err.wav"))
        cases = {
            "log": (out, TO_STDOUT),
            "link": (self.path("to-out.wav"), TO_STDOUT),
            "chain": (self.path("to-to-out.wav"), TO_STDOUT),
            "fd": ("/proc/self/fd/1", TO_STDOUT),
            "err-link": (self.path("to-err.wav"), TO_STDERR),
            "err-fd": ("/proc/self/fd/2", TO_STDERR),
        }
        with open(out, "wb") as stdout, open(err, "wb") as stderr:
            inode = os.fstat(stdout.fileno()).st_ino
            answers = answers_written_to(out, [LISTENER], [
                request(id=key, cmd="enhance", args={"input": self.input, "output": output})
                for key, (output, _) in cases.items()], len(cases), stdout=stdout, stderr=stderr)

        for key, (_, message) in cases.items():
            self.assertEqual(error_of(answers[key]), ("enhance_failed", message), key)
        # Both logs are the files they were, holding only what the listener wrote to them.
        self.assertEqual(os.lstat(out).st_ino, inode)
        self.assertTrue(all(json.loads(line) for line in read_bytes(out).splitlines()))
        self.assertEqual(read_bytes(err), b"")
        for name, target in (("to-out.wav", out), ("to-to-out.wav", "to-out.wav"), ("to-err.wav", err)):
            self.assertEqual(os.readlink(self.path(name)), target)
        self.assertEqual(listing(self.tmp.name),
                         ["err.log", "out.jsonl", "take.wav", "to-err.wav", "to-out.wav", "to-to-out.wav"])

    def test_a_proc_link_to_a_deleted_file_is_refused(self):
        # The link's text names the file as it was, with " (deleted)" behind:
        # here that is another file, which must stay as it is.
        held = self.path("held.wav")
        with open(held, "wb") as f:
            os.unlink(held)
            with open(held + " (deleted)", "wb") as other:
                other.write(b"someone else's")
            output = "/proc/%d/fd/%d" % (os.getpid(), f.fileno())
            answers = answers_by_id([request(id="e", cmd="enhance", args={"input": self.input, "output": output})], 1)
            self.assertEqual(os.fstat(f.fileno()).st_size, 0)
        self.assertEqual(error_of(answers["e"]), ("enhance_failed", "output is a link that leads to no name of its file"))
        self.assertEqual(read_bytes(held + " (deleted)"), b"someone else's")
        self.assertEqual(listing(self.tmp.name), ["held.wav (deleted)", "take.wav"])

    def test_a_temporary_file_of_another_enhancement_is_never_its_output(self):
        # Five minutes at 1 kHz: a small file, and seconds of work at 48 kHz.
        long_input = self.path("long.wav")
        with wave.open(long_input, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(1000)
            w.writeframes(random.Random(5).randbytes(600_000))
        with open(self.path("kept.wav"), "wb") as f:
            f.write(b"what it held before")
        replacement = self.path("someone-else's.wav")
        seen, replaced = set(), []

        def new_temporary():
            deadline = time.monotonic() + 30
            while True:
                found = {name for name in os.listdir(self.tmp.name) if name.startswith(".ombri-")} - seen
                if found:
                    seen.update(found)
                    return self.path(found.pop())
                self.assertLess(time.monotonic(), deadline, "no enhancement began")
                time.sleep(0.002)

        def requests():
            # A request whose output is the first one's temporary file, sent while it is written.
            yield request(id="long", cmd="enhance", args={"input": long_input, "output": self.path("final.wav")})
            yield request(id="short", cmd="enhance", args={"input": self.input, "output": new_temporary()})
            # Another process puts a file of its own under the temporary name.
            yield request(id="replaced", cmd="enhance", args={"input": long_input, "output": self.path("kept.wav")})
            with open(replacement, "wb") as f:
                f.write(b"someone else's")
            replaced.append(new_temporary())
            os.replace(replacement, replaced[0])

        answers = answers_by_id(requests(), 3)
        with wave.open(self.input) as short_input:
            seconds = {"long": 300.0, "short": short_input.getnframes() / short_input.getframerate(), "replaced": 300.0}
        for key, answer in answers.items():
            with self.subTest(key):
                if not answer["ok"]:
                    continue
                # Whatever an ok answer says it wrote, its file holds.
                result = answer["result"]
                self.assertEqual(result["inputSeconds"], seconds[key])
                self.assertTrue(os.path.isfile(result["output"]), result)
                with open(result["output"], "rb") as f:
                    self.assertEqual(f.read(12)[8:], b"WAVE", result)
                self.assertEqual([soxi(result["output"], flag) for flag in ("-r", "-c", "-b", "-s")],
                                 ["48000", "1", "16", str(result["frames"] * 480)])
                self.assertGreaterEqual(result["frames"] * 480, seconds[key] * 48000)
        self.assertTrue(answers["long"]["ok"], answers["long"])
        self.assertEqual(answers["long"]["result"]["output"], self.path("final.wav"))
        self.assertEqual(answers["short"].get("error"), {
            "code": "enhance_failed",
            "message": "output has the name of one of the listener's temporary files; choose another output path"})
        self.assertEqual(answers["replaced"].get("error", {}).get("code"), "enhance_failed", answers["replaced"])
        self.assertIn("the temporary file was replaced", answers["replaced"]["error"]["message"])
        self.assertEqual(read_bytes(self.path("kept.wav")), b"what it held before")
        self.assertEqual(read_bytes(replaced[0]), b"someone else's")

    def test_dev_stdout_is_refused_when_standard_output_is_a_file(self):
        # /dev is a tmpfs of a mount namespace of this test alone, holding only
        # the link that /dev/stdout is: the machine's own /dev is never in reach.
        probe = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", "mount -t tmpfs tmpfs /dev"],
                               capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no private mount namespace here: %s" % probe.stderr.decode(errors="replace").strip())
        out, status, after = self.path("out.jsonl"), self.path("status"), self.path("dev-after")
        script = ('mount -t tmpfs tmpfs /dev && ln -s /proc/self/fd/1 /dev/stdout || exit 1\n'
                  '"$0" > "$1"; echo $? > "$2"; { ls -A /dev; readlink /dev/stdout; } > "$3"\n')
        answers = answers_written_to(
            out, ["unshare", "-m", "--propagation", "private", "sh", "-c", script, LISTENER, out, status, after],
            [request(id="e", cmd="enhance", args={"input": self.input, "output": "/dev/stdout"})], 1,
            stdout=subprocess.DEVNULL)

        self.assertEqual(error_of(answers["e"]), ("enhance_failed", TO_STDOUT))
        self.assertEqual(read_bytes(status), b"0\n")
        self.assertEqual(read_bytes(after).decode().splitlines(), ["stdout", "/proc/self/fd/1"])
        self.assertTrue(all(json.loads(line) for line in read_bytes(out).splitlines()))


class FixtureInputs(unittest.TestCase):
    def test_a_request_refuses_files_that_could_block_at_once(self):
        # A FIFO without a writer would block the main thread for ever, and
        # /dev/stdin would read the requests that follow as a WAV file; a
        # directory is opened, and answers as the system does.
        with tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, "fifo")
            os.mkfifo(fifo)
            cases = {
                "fifo": (fifo, SYSTEM, "Failed to open WAV %s: Not a regular file" % fifo),
                "dir": (MIC, tmp, "Failed to open WAV %s: Is a directory (os error 21)" % tmp),
                "stdin": ("/dev/stdin", SYSTEM, "Failed to open WAV /dev/stdin: Not a regular file"),
            }
            answers = answers_by_id(
                [request(id=key, cmd="start", args={"inputWav": {"mic": mic, "system": system}})
                 for key, (mic, system, _) in cases.items()] + [request(id="status", cmd="status")],
                len(cases) + 1, timeout=30)
        for key, (_, _, message) in cases.items():
            self.assertEqual(error_of(answers[key]), ("input_wav_failed", message), key)
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
