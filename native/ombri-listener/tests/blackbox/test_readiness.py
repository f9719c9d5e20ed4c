import json
import os
import stat
import tempfile
import unittest

from listener import audio_world, parsed, request, run_lines

STANDINS = os.environ["OMBRI_STANDINS_DIR"]
NEEDS = "System audio capture needs macOS 14.2 or newer (running {})."
UNKNOWN = "Could not determine the macOS version for system audio capture."
SUPPORTED = "Captures other apps' audio through a private system tap. macOS asks for permission on first use."


def exact(value):
    """The value as written text, so an integer and a float with the same value differ."""
    return json.dumps(value, sort_keys=True, separators=(",", ":"))


class Readiness(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def world(self, devices, default_input):
        return audio_world(self.dir.name, devices, default_input, "out")

    def sw_vers_script(self, body):
        """Puts a shell script as sw_vers in the test directory; returns a PATH that finds it first."""
        script = os.path.join(self.dir.name, "sw_vers")
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\n{body}\n")
        os.chmod(script, stat.S_IRWXU)
        return self.dir.name + os.pathsep + "/usr/bin:/bin"

    def ask(self, commands, path=STANDINS + os.pathsep + "/usr/bin:/bin", **env):
        data = b"".join(request(id=str(i), cmd=cmd) for i, cmd in enumerate(commands))
        status, lines, err = run_lines(data, env={"PATH": path, **env})
        self.assertEqual((status, err), (0, ""))
        return [m["result"] for m in parsed(lines) if "id" in m]

    def test_system_audio_support_by_version(self):
        cases = [
            ("14.2", None), ("15.0.1", None), ("14.4.1\n", None), ("14.1.2", NEEDS.format("14.1")),
            ("14", NEEDS.format("14.0")), ("13.6.7", NEEDS.format("13.6")), ("14.x", NEEDS.format("14.0")),
            ("", UNKNOWN),
        ]
        for version, reason in cases:
            with self.subTest(version=version):
                ping, model = self.ask(["ping", "modelStatus"], OMBRI_SIM_MACOS_VERSION=version)
                expected = {"status": "unavailable", "reason": reason} if reason else {"status": "ready", "reason": SUPPORTED}
                self.assertEqual(ping["capabilities"]["systemAudioCapture"], expected)
                self.assertEqual(model["capabilities"]["systemAudioCapture"], expected)

    def test_missing_tool_is_unknown(self):
        for result in self.ask(["ping", "modelStatus", "ping"], path="/nonexistent"):
            self.assertEqual(result["capabilities"]["systemAudioCapture"], {"status": "unavailable", "reason": UNKNOWN})

    def test_tool_runs_once_per_process(self):
        log = os.path.join(self.dir.name, "calls")
        path = self.sw_vers_script(f'echo run >> "{log}"\necho "output on stderr" >&2\nexec "{STANDINS}/sw_vers" "$@"')
        smoke = self.ask(["ping", "modelStatus", "start"], path=path, OMBRI_SIM_MACOS_VERSION="13.6.7",
                         QIR_MEETING_LISTENER_SMOKE="1")
        self.assertFalse(os.path.exists(log))
        for result in smoke:
            self.assertEqual(result["capabilities"]["systemAudioCapture"]["status"], "ready")

        results = self.ask(["ping", "ping", "modelStatus", "ping"], path=path, OMBRI_SIM_MACOS_VERSION="13.6.7")
        with open(log) as f:
            self.assertEqual(f.read(), "run\n")
        for result in results:
            self.assertEqual(result["capabilities"]["systemAudioCapture"]["reason"], NEEDS.format("13.6"))

    def test_tool_that_never_ends_is_given_up_once(self):
        log = os.path.join(self.dir.name, "calls")
        path = self.sw_vers_script(f'echo $$ >> "{log}"\necho 15.5\nexec sleep 120')
        results = self.ask(["ping", "modelStatus", "ping"], path=path)
        for result in results:
            self.assertEqual(result["capabilities"]["systemAudioCapture"], {"status": "unavailable", "reason": UNKNOWN})
        with open(log) as f:
            pids = f.read().split()
        self.assertEqual(len(pids), 1)
        with self.assertRaises(ProcessLookupError):
            os.kill(int(pids[0]), 0)

    def test_default_world(self):
        ping, devices, model = self.ask(["ping", "devices", "modelStatus"])
        self.assertEqual(exact(ping), exact({
            "capabilities": {
                "fixtureInput": {"reason": "Deterministic inputWav fixture mode is available for QA.", "status": "ready"},
                "localTranscription": {"reason": "Local Whisper transcription is not wired yet; Ombri can use browser "
                                       "speech recognition or cloud transcription fallback.", "status": "unavailable"},
                "micCapture": {"reason": None, "status": "ready"},
                "systemAudioCapture": {"reason": SUPPORTED, "status": "ready"}},
            "captureReady": True, "ok": True, "protocol": 1,
            "reason": "Default microphone capture is available. Local transcription is not ready yet.",
            "transcriptionReady": False, "version": "0.1.0"}))
        self.assertEqual(devices, {"devices": [{"id": "default-mic", "isDefault": True, "kind": "mic",
                                                "name": "Built-in Microphone"}]})
        self.assertEqual(exact({k: v for k, v in model.items() if k != "capabilities"}), exact({
            "downloading": False, "localReady": False, "model": None, "progress": 0,
            "reason": "Local transcription is not wired yet; Ombri can run browser speech recognition as a transcript fallback."}))

    def test_world_without_microphone(self):
        world = self.world([{"uid": "out", "output": {"rate": 48000, "channels": 2}}], None)
        ping, devices = self.ask(["ping", "devices"], OMBRI_SIM_AUDIO=world)
        self.assertFalse(ping["captureReady"])
        self.assertEqual(ping["reason"], "Native meeting capture is unavailable because no default microphone input "
                                         "device was found.")
        self.assertEqual(ping["capabilities"]["micCapture"],
                         {"status": "unavailable", "reason": "No default microphone input device was found."})
        self.assertEqual(devices, {"devices": [], "reason": "No default microphone input device was found."})

        smoke_ping, smoke_devices, smoke_model = self.ask(["ping", "devices", "modelStatus"], OMBRI_SIM_AUDIO=world,
                                                          QIR_MEETING_LISTENER_SMOKE="1")
        self.assertTrue(smoke_ping["captureReady"])
        self.assertTrue(smoke_ping["transcriptionReady"])
        self.assertEqual(smoke_ping["reason"], "Smoke listener mode is enabled.")
        self.assertEqual(smoke_ping["capabilities"]["micCapture"], {"status": "ready", "reason": None})
        self.assertEqual(smoke_devices, {"devices": [
            {"id": "smoke-mic", "isDefault": True, "kind": "mic", "name": "Smoke Microphone"},
            {"id": "smoke-system", "isDefault": True, "kind": "system", "name": "Smoke System Audio"}]})
        self.assertEqual(exact({k: v for k, v in smoke_model.items() if k != "capabilities"}), exact({
            "downloading": False, "localReady": True, "model": "smoke-transcript", "progress": 1,
            "reason": "Smoke transcription is deterministic."}))

    def test_microphone_without_readable_name(self):
        world = self.world([{"uid": "mic", "name": None, "input": {"rate": 48000, "channels": 1}},
                            {"uid": "out", "output": {"rate": 48000, "channels": 2}}], "mic")
        ping, devices = self.ask(["ping", "devices"], OMBRI_SIM_AUDIO=world)
        self.assertTrue(ping["captureReady"])
        self.assertEqual(devices, {"devices": [], "reason": "No default microphone input device was found."})


if __name__ == "__main__":
    unittest.main()
