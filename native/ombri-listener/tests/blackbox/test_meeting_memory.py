"""A long meeting's memory: recording system audio, streamed or not, the
listener holds what its buffers are sized for, not what it has recorded."""

import os
import subprocess
import tempfile
import unittest

from listener import Meeting, audio_world, request, rss_anon_kb, sanitized, start

DEVICES = [
    {"uid": "mic", "name": "Built-in Microphone", "input": {"rate": 48000, "channels": 1, "sample": "f32"},
     "signal": {"kind": "tone", "frequency": 440.0, "amplitude": 0.25}},
    {"uid": "speakers", "name": "Built-in Output", "output": {"rate": 48000, "channels": 2, "sample": "f32"}},
]
TAP = {"rate": 48000, "channels": 1, "sample": "f32", "signal": {"kind": "tone", "frequency": 300.0, "amplitude": 0.5}}
LEVELS_PER_SECOND = 4
WARM_UP_SECONDS = 3
MEETING_SECONDS = 20
# Room for the allocator's own moves. A buffer that keeps each 48 kHz float
# sample grows by 187.5 KiB per second, some 3 MiB over the measured span.
GROWTH_BOUND_KB = 256


class MeetingMemory(unittest.TestCase):
    @staticmethod
    def end(process):
        if process.poll() is None:
            process.kill()
        process.communicate()

    def test_recording_system_audio_keeps_memory_flat(self):
        with start(stderr=subprocess.DEVNULL) as idle:
            idle.stdin.write(request(id="ping", cmd="ping"))
            idle.stdin.flush()
            idle.stdout.readline()
            if sanitized(idle.pid):
                self.skipTest("a sanitizer's allocator and shadow memory grow on their own")
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        meetings = {}
        for streamed in (False, True):
            directory = os.path.join(tmp.name, f"streamed-{streamed}")
            os.mkdir(directory)
            world = audio_world(directory, DEVICES, "mic", "speakers", TAP)
            m = Meeting(world, directory, OMBRI_SIM_AFPLAY_LOG=os.path.join(directory, "afplay.log"))
            self.addCleanup(self.end, m.process)
            m.send(id="start", cmd="start", args={"meetingDir": os.path.join(directory, "meeting"),
                                                  "streamSystemAudio": streamed})
            meetings[streamed] = m
        warm, largest = {}, {}
        for level in range(1, MEETING_SECONDS * LEVELS_PER_SECOND + 1):
            for streamed, m in meetings.items():
                # Reading as the lines come keeps the listener from queueing them.
                m.wait_for("level", level)
                rss = rss_anon_kb(m.process.pid)
                if level == WARM_UP_SECONDS * LEVELS_PER_SECOND:
                    warm[streamed] = rss
                elif level > WARM_UP_SECONDS * LEVELS_PER_SECOND:
                    largest[streamed] = max(largest.get(streamed, 0), rss)

        for streamed, m in meetings.items():
            m.send(id="stop", cmd="stop")
            status, lines, err = m.finish()
            self.assertEqual((status, err), (0, ""))
            with self.subTest(streamed=streamed):
                self.assertLessEqual(largest[streamed] - warm[streamed], GROWTH_BOUND_KB,
                                     f"RssAnon {warm[streamed]} kB after {WARM_UP_SECONDS} s, "
                                     f"up to {largest[streamed]} kB by {MEETING_SECONDS} s")
                # The meeting really carried system audio all along.
                levels = [line["system"] for line in lines if line.get("type") == "level"]
                measured = levels[WARM_UP_SECONDS * LEVELS_PER_SECOND:MEETING_SECONDS * LEVELS_PER_SECOND]
                self.assertGreater(min(measured), 0.4)
                chunks = [line for line in lines if line.get("type") == "systemAudioChunk"]
                if streamed:
                    self.assertGreaterEqual(len(chunks), (MEETING_SECONDS - 1) * 4)
                else:
                    self.assertEqual(chunks, [])


if __name__ == "__main__":
    unittest.main()
