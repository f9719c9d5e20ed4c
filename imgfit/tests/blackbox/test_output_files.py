"""What becomes of the output file when writing it or reporting it fails."""

import os
import resource
import signal
import subprocess
import unittest

from imgfit_support import IMGFIT, Run, TempDirTest, convert, identify


class OutputFilesTest(TempDirTest):
    def setUp(self):
        super().setUp()
        convert("-size", "400x300", "-seed", "5", "plasma:fractal", self.path("in.jpg"))
        self.args = [IMGFIT, "--input", self.path("in.jpg"), "--output", self.path("out.jpg"), "--max-bytes", "500000"]

    def test_failed_write_removes_the_file(self):
        def small_file_limit():
            # A write past the limit fails with EFBIG instead of raising SIGXFSZ.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))

        run = Run(subprocess.run(self.args, capture_output=True, timeout=60, preexec_fn=small_file_limit))
        self.assertFailure(run, 7, "output_write_failed")
        self.assertEqual(os.listdir(self.dir), ["in.jpg"])

    def test_run_killed_while_writing_leaves_nothing_under_the_output_name(self):
        def killed_by_a_write_past_1000_bytes():
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))

        completed = subprocess.run(self.args, capture_output=True, timeout=60,
                                   preexec_fn=killed_by_a_write_past_1000_bytes)
        self.assertEqual(completed.returncode, -signal.SIGXFSZ)
        self.assertFalse(os.path.lexists(self.path("out.jpg")))
        # So the next run does not find "output_exists".
        run = Run(subprocess.run(self.args, capture_output=True, timeout=60))
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(identify(self.path("out.jpg"))["bytes"], run.result()["bytes"])

    def test_failed_result_line_keeps_the_complete_file(self):
        with open("/dev/full", "wb") as full:
            completed = subprocess.run(self.args, stdout=full, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(completed.returncode, 7)
        self.assertEqual(completed.stderr, b'{"version":1,"status":"error","code":"metadata_write_failed"}\n')
        written = identify(self.path("out.jpg"))
        self.assertEqual((written["width"], written["height"]), (400, 300))

    def test_closed_stdout_pipe_is_a_failed_result_line_not_a_signal(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        completed = subprocess.run(self.args, stdout=write_end, stderr=subprocess.PIPE, timeout=60)
        os.close(write_end)
        self.assertEqual(completed.returncode, 7)
        self.assertEqual(completed.stderr, b'{"version":1,"status":"error","code":"metadata_write_failed"}\n')
        self.assertTrue(os.path.exists(self.path("out.jpg")))


if __name__ == "__main__":
    unittest.main()
