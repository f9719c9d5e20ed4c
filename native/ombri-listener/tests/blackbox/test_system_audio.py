"""System audio of a meeting on the simulated machine: the tap's WAV, live chunks and the probe."""

import base64
import os
import sys
import tempfile
import time
import unittest

import numpy as np
import soundfile

from listener import Meeting, audio_world

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import audio_reference  # noqa: E402

PROBE = "qir-system-audio-probe.wav"
DEVICES = [
    {"uid": "mic", "name": "Built-in Microphone", "input": {"rate": 48000, "channels": 1, "sample": "f32"}},
    {"uid": "speakers", "name": "Built-in Output", "output": {"rate": 48000, "channels": 2, "sample": "f32"}},
]


def chunk_pcm(chunk):
    return np.frombuffer(base64.b64decode(chunk["pcm"], validate=True), dtype="<i2")


class SystemAudio(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.meeting_dir = os.path.join(self.tmp.name, "meeting")
        self.system = os.path.join(self.meeting_dir, "audio-system.wav")

    def meeting(self, tap, **env):
        world = audio_world(self.tmp.name, DEVICES, "mic", "speakers", tap)
        return Meeting(world, self.tmp.name, OMBRI_SIM_AFPLAY_LOG=os.path.join(self.tmp.name, "afplay.log"),
                       **env)

    def start(self, m, **args):
        m.send(id="start", cmd="start", args={"meetingDir": self.meeting_dir, "meetingId": "m", **args})

    def test_a_known_signal_yields_the_exact_wav_chunks_and_probe_events(self):
        t = np.arange(44100 * 2, dtype=np.float64)
        signal = (1.2 * np.sin(t * 0.07) * np.sin(t * 0.0004)).astype(np.float32)  # past full scale at its peaks
        source = os.path.join(self.tmp.name, "known.wav")
        soundfile.write(source, signal, 44100, subtype="FLOAT")
        m = self.meeting({"rate": 44100, "channels": 1, "sample": "f32",
                          "signal": {"kind": "wav", "path": source}})
        self.start(m, streamSystemAudio=True)
        m.wait_for("systemAudioChunk", 11)  # 2.75 s: the signal and some silence after it
        m.wait_for("systemAudio")
        m.send(id="stop", cmd="stop")
        status, lines, err = m.finish()
        self.assertEqual((status, err), (0, ""))
        answers = {line["id"]: line["result"] for line in lines if "id" in line}
        self.assertEqual(answers["start"]["audioPaths"]["system"], self.system)
        self.assertEqual(answers["stop"]["audioPaths"]["system"], self.system)

        recorded, rate = soundfile.read(self.system, dtype="int16")
        self.assertEqual(rate, 48000)
        # What the tap delivered: the signal, then silence (as many inputs as the outputs need).
        delivered = np.zeros(len(recorded) * 44100 // 48000 + 2, dtype=np.float32)
        delivered[:len(signal)] = signal
        expected = audio_reference.resample(delivered, 44100, 48000, clamp=True)
        self.assertGreater(len(recorded), 48000 * 2)
        np.testing.assert_array_equal(recorded, expected[:len(recorded)])

        chunks = [line for line in lines if line.get("type") == "systemAudioChunk"]
        for chunk in chunks:
            self.assertEqual(set(chunk), {"type", "sessionId", "rate", "speech", "pcm"})
            self.assertEqual((chunk["sessionId"], chunk["rate"]), ("mic-m", 24000))
        sizes = [len(chunk_pcm(c)) for c in chunks]
        self.assertEqual(sizes[:-1], [6000] * (len(sizes) - 1))
        self.assertLessEqual(sizes[-1], 6000)
        pcm = np.concatenate([chunk_pcm(c) for c in chunks])
        np.testing.assert_array_equal(pcm, audio_reference.resample(delivered, 44100, 24000, clamp=False)[:len(pcm)])
        self.assertEqual([c["speech"] for c in chunks[:7]], [True] * 7)
        self.assertFalse(chunks[-1]["speech"])  # the silence after the signal

        self.assertEqual([(l["sessionId"], l["status"]) for l in lines if l.get("type") == "systemAudio"],
                         [("mic-m", "live")])
        probe = os.path.join(self.tmp.name, PROBE)
        with open(probe, "rb") as f:
            self.assertEqual(f.read(), audio_reference.probe_tone_wav())
        with open(os.path.join(self.tmp.name, "afplay.log")) as f:
            self.assertEqual(f.read(), f"-v\t0.06\t{probe}\n")
        levels = [line for line in lines if line.get("type") == "level"]
        self.assertTrue(any(level["system"] == 1.0 for level in levels))

    def test_a_stereo_tap_streams_its_mono_mix(self):
        m = self.meeting({"rate": 48000, "channels": 2, "sample": "f32",
                          "signal": {"kind": "tone", "frequency": 440.0, "amplitude": 0.5}})
        self.start(m, streamSystemAudio=True)
        m.wait_for("systemAudioChunk", 8)
        m.send(id="stop", cmd="stop")
        status, lines, err = m.finish()
        self.assertEqual((status, err), (0, ""))
        answers = {line["id"]: line["result"] for line in lines if "id" in line}
        meeting_seconds = float(answers["stop"]["stoppedAt"][:-1]) - float(answers["start"]["startedAt"][:-1])

        chunks = [line for line in lines if line.get("type") == "systemAudioChunk"]
        self.assertEqual({chunk["rate"] for chunk in chunks}, {24000})
        pcm = np.concatenate([chunk_pcm(c) for c in chunks]).astype(np.float64)
        # As long as the meeting: one 24 kHz sample per two tap frames.
        self.assertAlmostEqual(len(pcm) / 24000, meeting_seconds, delta=0.25)
        spectrum = np.abs(np.fft.rfft(pcm * np.hanning(len(pcm))))
        self.assertAlmostEqual(np.argmax(spectrum) * 24000 / len(pcm), 440.0, delta=2.0)
        self.assertAlmostEqual(np.sqrt(np.mean(pcm ** 2)), 0.5 * 32767 / np.sqrt(2), delta=100)

        info = soundfile.info(self.system)
        self.assertEqual((info.channels, info.samplerate), (2, 48000))
        recorded, _ = soundfile.read(self.system, dtype="int16")
        np.testing.assert_array_equal(recorded[:, 0], recorded[:, 1])
        self.assertAlmostEqual(len(recorded) / 48000, len(pcm) / 24000, delta=0.01)

    def test_a_silent_tap_is_reported_silent(self):
        cases = [
            ("silence", {"rate": 48000, "sample": "f32"}),
            ("a sample format the tap cannot be read in", {"rate": 48000, "sample": "i24",
                                                           "signal": {"kind": "tone", "amplitude": 0.5}}),
        ]
        for name, tap in cases:
            with self.subTest(name):
                m = self.meeting(tap)
                started = time.monotonic()
                self.start(m, streamSystemAudio=True)
                events = m.wait_for("systemAudio")
                waited = time.monotonic() - started
                m.send(id="stop", cmd="stop")
                status, lines, err = m.finish()
                self.assertEqual((status, err), (0, ""))
                self.assertEqual([e["status"] for e in events], ["silent"])
                self.assertGreater(waited, 2.4)
                self.assertTrue(all(l["system"] == 0 for l in lines if l.get("type") == "level"))
                chunks = [l for l in lines if l.get("type") == "systemAudioChunk"]
                self.assertTrue(all(not c["speech"] and not chunk_pcm(c).any() for c in chunks))
                recorded, rate = soundfile.read(self.system, dtype="int16")
                self.assertEqual(rate, 48000)
                self.assertFalse(recorded.any())
                if tap["sample"] == "i24":
                    self.assertEqual((len(recorded), chunks), (0, []))

    def test_starts_without_system_audio(self):
        needs = "System audio capture needs macOS 14.2 or newer (running 13.6)."
        unsupported = "Unsupported system tap audio format."
        cases = [
            ("old macOS", {"rate": 48000}, {"OMBRI_SIM_MACOS_VERSION": "13.6.7"}, needs),
            ("unusable tap format", {"rate": "nan"}, {}, unsupported),
        ]
        for name, tap, env, reason in cases:
            with self.subTest(name):
                m = self.meeting(tap, **env)
                self.start(m, streamSystemAudio=True)
                m.send(id="status", cmd="status")
                m.send(id="stop", cmd="stop")
                status, lines, err = m.finish()
                self.assertEqual((status, err), (0, ""))
                answers = {line["id"]: line["result"] for line in lines if "id" in line}
                start = answers["start"]
                self.assertEqual((start["captureSystemAudio"], start["systemAudioReason"]), (False, reason))
                self.assertEqual(start["capabilities"]["systemAudioCapture"], {"status": "unavailable", "reason": reason})
                self.assertIsNone(start["audioPaths"]["system"])
                self.assertEqual(answers["status"]["state"], "recording")
                self.assertFalse(os.path.exists(self.system))
                self.assertEqual([l for l in lines if l.get("type") in ("systemAudio", "systemAudioChunk")], [])

    def test_a_probe_tone_that_cannot_be_written_still_gives_the_event(self):
        m = self.meeting({"rate": 48000, "signal": {"kind": "tone", "amplitude": 0.2}},
                         TMPDIR=os.path.join(self.tmp.name, "missing"))
        self.start(m)
        self.assertEqual([e["status"] for e in m.wait_for("systemAudio")], ["live"])
        m.send(id="stop", cmd="stop")
        status, lines, err = m.finish()
        self.assertEqual(status, 0)
        self.assertEqual(err, "ombri-listener probe: Failed to create probe WAV: No such file or directory (os error 2)\n")
        self.assertFalse(os.path.exists(os.path.join(self.tmp.name, "afplay.log")))


if __name__ == "__main__":
    unittest.main()
