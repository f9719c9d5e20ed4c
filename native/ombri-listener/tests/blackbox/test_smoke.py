import re
import unittest

from listener import parsed, request, run_lines

SMOKE_CAPABILITIES = (
    '{"fixtureInput":{"reason":"Deterministic inputWav fixture mode is available for QA.","status":"ready"},'
    '"localTranscription":{"reason":"Smoke transcription is deterministic.","status":"ready"},'
    '"micCapture":{"reason":null,"status":"ready"},'
    '"systemAudioCapture":{"reason":"Smoke listener mode provides deterministic system-audio events.","status":"ready"}}'
)


class SmokeStart(unittest.TestCase):
    def run_smoke(self, data, value="1"):
        status, lines, err = run_lines(data, env={"QIR_MEETING_LISTENER_SMOKE": value})
        self.assertEqual((status, err), (0, ""))
        return lines

    def test_start_answers_and_four_events_byte_for_byte(self):
        lines = self.run_smoke(request(id="s", cmd="start", args={"meetingId": " m ", "inputWav": {"mic": "a", "system": "b"}}))
        self.assertEqual(len(lines), 5)
        started = re.search(r'"startedAt":"(\d+\.\d{3}Z)"', lines[0]).group(1)
        self.assertEqual(
            lines[0],
            '{"id":"s","ok":true,"result":{"capabilities":' + SMOKE_CAPABILITIES + ',"captureMic":true,'
            '"captureSystemAudio":true,"sessionId":"smoke- m ","startedAt":"' + started + '","transcriptionReady":true}}')
        self.assertEqual(
            lines[1],
            '{"status":{"reason":null,"sessionId":"smoke- m ","startedAt":"' + started + '","state":"recording"},"type":"status"}')
        self.assertRegex(lines[2], r'^\{"at":"\d+\.\d{3}Z","mic":0\.42,"sessionId":"smoke- m ","system":0\.36,"type":"level"\}$')
        self.assertEqual(
            lines[3],
            '{"channel":"mic","final":true,"sessionId":"smoke- m ","speaker":"You","t0":0,"t1":3,'
            '"text":"Smoke transcript from the native meeting listener.","type":"transcript"}')
        self.assertEqual(
            lines[4],
            '{"channel":"system","final":true,"sessionId":"smoke- m ","speaker":"Speaker","t0":3,"t1":6,'
            '"text":"Smoke system audio segment from the native listener.","type":"transcript"}')

    def test_start_twice_then_stop(self):
        lines = self.run_smoke(request(id="1", cmd="start", args="x") + request(id="2", cmd="start", args={"meetingId": "b"})
                               + request(id="3", cmd="stop") + request(id="4", cmd="status"))
        messages = parsed(lines)
        self.assertEqual(messages[0]["result"]["sessionId"], "smoke-meeting")
        self.assertEqual(messages[5]["result"]["sessionId"], "smoke-b")
        stop = messages[10]
        self.assertEqual(stop["id"], "3")
        self.assertEqual(stop["result"]["sessionId"], "smoke-b")
        self.assertEqual(stop["result"]["audioPaths"], {"mic": None, "system": None})
        self.assertEqual(messages[11]["status"]["state"], "idle")
        self.assertEqual(messages[12]["result"]["state"], "idle")

    def test_flag_spellings(self):
        for value, smoke in (("1", True), ("true", True), ("TRUE", True), ("YES", True), ("Yes", True),
                             (" yes", False), ("2", False), ("on", False), ("", False)):
            with self.subTest(value=value):
                _, lines, _ = run_lines(request(id="1", cmd="start", args={}), env={"QIR_MEETING_LISTENER_SMOKE": value})
                self.assertEqual(parsed(lines)[0]["ok"], smoke)


if __name__ == "__main__":
    unittest.main()
