"""An idle listener gives back the memory of its finished work: after
transcriptions, one after the other and side by side, and enhancements, it
holds little more anonymous memory than at its start."""

import json
import os
import subprocess
import time
import unittest

from listener import TinyTranscriptionCase, request, rss_anon_kb, sanitized, start, thread_count

# Each wave is sent at once and answered in full before the next. Kept by the
# allocator, the memory of three tiny-model transcriptions one after the other
# comes to some 60 MB, and grows with the transcriptions side by side.
WAVES = (("transcribe",), ("transcribe",), ("transcribe", "transcribe", "transcribe"),
         ("enhance", "enhance", "transcribe"))
# What the libraries keep once they have run, and the allocator's own bookkeeping.
IDLE_GROWTH_BOUND_KB = 16 * 1024


class IdleMemory(TinyTranscriptionCase):
    def test_finished_work_leaves_little_memory_behind(self):
        with start(stderr=subprocess.DEVNULL, bufsize=0) as child:
            child.stdin.write(request(id="ping", cmd="ping"))
            self.assertTrue(json.loads(child.stdout.readline())["ok"])
            if sanitized(child.pid):
                self.skipTest("a sanitizer's allocator keeps freed memory on its own terms")
            start_kb, own_threads = rss_anon_kb(child.pid), thread_count(child.pid)

            sent = 0
            for wave in WAVES:
                ids = {}
                for command in wave:
                    sent += 1
                    ids[str(sent)] = command
                    args = ({"modelPath": self.model, "audioPath": self.audio} if command == "transcribe" else
                            {"input": self.audio, "output": os.path.join(self.dir.name, f"enhanced-{sent}.wav")})
                    child.stdin.write(request(id=str(sent), cmd=command, args=args))
                for _ in wave:
                    line = child.stdout.readline()
                    self.assertTrue(line, "the listener ended before answering")
                    answer = json.loads(line)
                    self.assertTrue(answer["ok"], answer)
                    if ids.pop(answer["id"]) == "transcribe":
                        self.assertEqual(answer["result"]["text"], "w1000")
            # A worker gives its memory back after its answer, then ends.
            deadline = time.monotonic() + 30
            while thread_count(child.pid) > own_threads:
                self.assertLess(time.monotonic(), deadline, "the workers did not end")
                time.sleep(0.01)
            idle_kb = rss_anon_kb(child.pid)

            child.stdin.close()
            self.assertEqual(child.wait(timeout=30), 0)
        self.assertLessEqual(idle_kb - start_kb, IDLE_GROWTH_BOUND_KB,
                             f"RssAnon {start_kb} kB at the start, {idle_kb} kB idle after {sent} requests")


if __name__ == "__main__":
    unittest.main()
