"""Paths from request lines: each one names the file that was asked for."""

import json
import os
import stat
import subprocess
import tempfile
import unittest

from listener import LISTENER, request


def error_of(answer):
    return (answer["error"]["code"], answer["error"]["message"])


def listing(directory):
    return sorted(os.listdir(directory))


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
