"""A meeting recorded on the simulated machine, seen from the parent's side."""

import os
import struct
import subprocess
import tempfile
import time
import unittest
import wave

from listener import SAMPLES, Meeting, audio_world



def sox_samples(path):
    """The file's samples as sox reads them (16-bit signed)."""
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "signed", "-b", "16", "-"], check=True,
                         capture_output=True).stdout
    return list(struct.unpack(f"<{len(raw) // 2}h", raw))


def soxi(path, flag):
    return subprocess.run(["soxi", flag, path], check=True, capture_output=True, text=True).stdout.strip()


class Capture(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def world(self, devices, default_input="mic"):
        return audio_world(self.tmp.name, devices, default_input, "speakers")

    def test_demo_meeting_records_the_shipped_speech(self):
        meeting_dir = os.path.join(self.tmp.name, "meetings", "one")
        m = Meeting(os.path.join(SAMPLES, "demo-world.json"), self.tmp.name)
        m.send(id="1", cmd="start", args={"meetingDir": meeting_dir, "meetingId": "demo"})
        # The tap plays the shipped system audio, so the probe hears it.
        self.assertEqual(m.wait_for("systemAudio"), [{"type": "systemAudio", "sessionId": "mic-demo", "status": "live"}])
        time.sleep(0.7)
        m.send(id="2", cmd="status")
        m.send(id="3", cmd="stop")
        m.send(id="4", cmd="status")
        status, lines, err = m.finish()
        self.assertEqual((status, err), (0, ""))

        answers = {line["id"]: line for line in lines if "id" in line}
        start = answers["1"]["result"]
        mic = meeting_dir + "/audio-mic.wav"
        system = meeting_dir + "/audio-system.wav"
        self.assertEqual(start["audioPaths"], {"mic": mic, "system": system})
        self.assertEqual((start["captureSystemAudio"], start["systemAudioReason"]), (True, None))
        self.assertEqual((start["sessionId"], start["captureMic"], start["transcriptionReady"]),
                         ("mic-demo", True, False))
        self.assertEqual(start["capabilities"]["micCapture"], {"reason": None, "status": "ready"})
        recording = {"reason": None, "sessionId": "mic-demo", "startedAt": start["startedAt"], "state": "recording"}
        self.assertEqual(answers["2"]["result"], recording)
        self.assertEqual(set(answers["3"]["result"]), {"audioPaths", "sessionId", "stoppedAt"})
        self.assertEqual(answers["3"]["result"]["audioPaths"], {"mic": mic, "system": system})
        idle = {"reason": None, "sessionId": None, "startedAt": None, "state": "idle"}
        self.assertEqual(answers["4"]["result"], idle)
        statuses = [line["status"] for line in lines if line.get("type") == "status"]
        self.assertEqual(statuses, [recording, idle])
        levels = [line for line in lines if line.get("type") == "level"]
        self.assertGreaterEqual(len(levels), 3)
        self.assertTrue(all(set(l) == {"at", "mic", "sessionId", "system", "type"} for l in levels))
        self.assertTrue(any(l["mic"] > 0.1 for l in levels), "the speech is loud")
        self.assertTrue(any(l["system"] > 0.1 for l in levels), "so is the system audio")
        self.assertEqual([l["status"] for l in lines if l.get("type") == "systemAudio"], ["live"])
        self.assertEqual((soxi(system, "-r"), soxi(system, "-c")), ("48000", "1"))
        self.assertGreater(len(sox_samples(system)), 48000)

        # The recording is the shipped speech, sample for sample, as far as it got.
        self.assertEqual((soxi(mic, "-r"), soxi(mic, "-c")), ("16000", "1"))
        recorded, speech = sox_samples(mic), sox_samples(os.path.join(SAMPLES, "mic.wav"))
        self.assertGreater(len(recorded), 8000, "at least half a second, also on a slow sanitized build")
        self.assertEqual(recorded[:len(speech)], speech[:len(recorded)])
        with open(mic, "rb") as f:
            header = f.read(44)
        size = os.path.getsize(mic)
        self.assertEqual(struct.unpack("<I", header[4:8])[0], size - 8)
        self.assertEqual(struct.unpack("<I", header[40:44])[0], size - 44)
        with wave.open(mic) as w:
            self.assertEqual(w.getnframes(), len(recorded))

    def test_a_killed_listener_leaves_a_readable_recording(self):
        meeting_dir = os.path.join(self.tmp.name, "killed")
        m = Meeting(os.path.join(SAMPLES, "demo-world.json"), self.tmp.name)
        m.send(id="1", cmd="start", args={"meetingDir": meeting_dir})
        m.wait_for("level")  # the response to start may come before it, or after
        time.sleep(3)
        m.process.kill()
        m.process.wait()

        # Both recordings keep all but their last second (and the unwritten
        # buffer) behind a header that describes bytes on disk.
        for name, rate in (("audio-mic.wav", 16000), ("audio-system.wav", 48000)):
            path = os.path.join(meeting_dir, name)
            with open(path, "rb") as f:
                header = f.read(44)
            riff, data = struct.unpack("<I", header[4:8])[0], struct.unpack("<I", header[40:44])[0]
            self.assertEqual(riff, data + 36, name)
            on_disk = os.path.getsize(path) - 44
            self.assertLessEqual(data, on_disk, name)
            self.assertGreater(data, 0, name)
            # A simulated device may lag behind the clock on a slow build, so
            # the lag is judged against what reached the file.
            self.assertLess(on_disk - data, 2 * rate + 8192, name)
            self.assertEqual(len(sox_samples(path)), data // 2, name)
        recorded, speech = sox_samples(meeting_dir + "/audio-mic.wav"), sox_samples(os.path.join(SAMPLES, "mic.wav"))
        self.assertEqual(recorded, speech[:len(recorded)])

    def test_bluetooth_default_records_the_builtin_microphone(self):
        devices = [
            {"uid": "mic", "name": "AirHeads", "transport": "blue", "input": {"rate": 24000, "sample": "f32"}},
            {"uid": "speakers", "name": "Built-in Output", "output": {"rate": 48000, "channels": 2}},
            {"uid": "builtin", "name": "Built-in Microphone", "input": {"rate": 44100, "channels": 2, "sample": "i16"}},
        ]
        m = Meeting(self.world(devices), self.tmp.name)
        m.send(id="1", cmd="start", args={"meetingDir": self.tmp.name, "captureSystemAudio": False})
        time.sleep(0.3)
        m.send(id="2", cmd="stop")
        status, lines, err = m.finish()
        self.assertEqual(status, 0)
        self.assertEqual(err, "ombri-listener: default input is Bluetooth; capturing mic from 'Built-in Microphone' "
                              "to keep the headset in high-quality playback mode\n")
        mic = os.path.join(self.tmp.name, "audio-mic.wav")
        self.assertEqual((soxi(mic, "-r"), soxi(mic, "-c")), ("44100", "2"))
        start = next(l for l in lines if l.get("id") == "1")["result"]
        self.assertEqual(start["systemAudioReason"], "System audio capture was turned off for this session.")

    def test_failed_starts(self):
        cases = [
            ("no default microphone", [{"uid": "mic", "input": {}}], None,
             "No default microphone input device found."),
            ("24-bit microphone", [{"uid": "mic", "input": {"sample": "i24"}}], "mic",
             "Failed to read default mic input config: The requested stream type is not supported by the device."),
        ]
        for name, devices, default_input, message in cases:
            with self.subTest(name):
                meeting_dir = os.path.join(self.tmp.name, name)
                m = Meeting(self.world(devices + [{"uid": "speakers", "output": {}}], default_input), self.tmp.name)
                m.send(id="1", cmd="start", args={"meetingDir": meeting_dir})
                m.send(id="2", cmd="status")
                status, lines, err = m.finish()
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(lines, [
                    {"id": "1", "ok": False, "error": {"code": "capture_unavailable", "message": message}},
                    {"id": "2", "ok": True,
                     "result": {"reason": message, "sessionId": None, "startedAt": None, "state": "error"}},
                ])
                self.assertTrue(os.path.isdir(meeting_dir))
                self.assertFalse(os.path.exists(os.path.join(meeting_dir, "audio-mic.wav")))


if __name__ == "__main__":
    unittest.main()
