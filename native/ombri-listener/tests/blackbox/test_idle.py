"""An idle listener runs only its own threads and uses no processor time: after
start-up, and again once a transcription has answered."""

import json
import os
import subprocess
import time
import unittest

from listener import TinyTranscriptionCase, request, sanitized, start, thread_count

# The main thread, the stdout writer and the simulated device listeners' thread.
OWN_THREADS = 3
IDLE_CPU_SECONDS = 0.05
# What a parent could hold a math library's thread pool back with: the listener
# must not depend on them, so they are not passed on.
POOL_VARIABLES = ("OPENBLAS_NUM_THREADS", "GOTO_NUM_THREADS", "OMP_NUM_THREADS")


def cpu_seconds(pid):
    """User and system time of the whole process so far."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class IdleListener(TinyTranscriptionCase):
    def answer(self, child, line):
        child.stdin.write(line)
        answer = child.stdout.readline()
        self.assertTrue(answer, "the listener ended before answering")
        return json.loads(answer)

    def test_idle_before_and_after_a_transcription(self):
        with start(unset=POOL_VARIABLES, stderr=subprocess.DEVNULL, bufsize=0) as child:
            self.assertTrue(self.answer(child, request(id="p", cmd="ping"))["ok"])
            # A sanitizer may run a thread of its own (ThreadSanitizer does),
            # and its start-up alone can take more than the idle bound: there
            # only the time after the answer counts.
            slow = sanitized(child.pid)
            allowed_threads = OWN_THREADS + (1 if slow else 0)
            started = cpu_seconds(child.pid) if slow else 0.0
            time.sleep(3)
            self.assertLessEqual(thread_count(child.pid), allowed_threads)
            self.assertLess(cpu_seconds(child.pid) - started, IDLE_CPU_SECONDS)

            answer = self.answer(child, request(id="t", cmd="transcribe", args={
                "modelPath": self.model, "audioPath": self.audio}))
            self.assertEqual(answer["result"]["text"], "w1000", answer)
            # A second for the worker to end after its answer, and the math library's threads with it.
            time.sleep(1)
            before = cpu_seconds(child.pid)
            time.sleep(2)
            self.assertLess(cpu_seconds(child.pid) - before, IDLE_CPU_SECONDS)
            self.assertLessEqual(thread_count(child.pid), allowed_threads)

            child.stdin.close()
            self.assertEqual(child.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main()
