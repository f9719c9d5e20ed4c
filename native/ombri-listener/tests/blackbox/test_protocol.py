import json
import os
import signal
import subprocess
import unittest

from listener import LISTENER, parsed, request, run_lines

INVALID_JSON = '{"error":{"code":"invalid_json","message":"Expected one JSON request per line."},"ok":false}'
NO_ID = '{"error":{"code":"invalid_request","message":"id is required"},"ok":false}'
IDLE = '{"reason":null,"sessionId":null,"startedAt":null,"state":"idle"}'


class Framing(unittest.TestCase):
    def test_answers_byte_for_byte(self):
        cases = [
            (b'{"id":"1","cmd":"status"} x\n', INVALID_JSON),
            (b'{"id":"1","cmd":"status"}{"id":"2"}\n', INVALID_JSON),
            (b'\x0c{"id":"1","cmd":"status"}\n', INVALID_JSON),
            (b'\xef\xbb\xbf{"id":"1","cmd":"status"}\n', INVALID_JSON),
            (b'{"id":"1","cmd":"status"}\x00x\n', INVALID_JSON),
            (b'{"id":"1",}\n', INVALID_JSON),
            (b'{"cmd":"status"}\n', NO_ID),
            (b'{"id":7,"cmd":"status"}\n', NO_ID),
            (b'{"id":"  ","cmd":"status"}\n', NO_ID),
            (b'{"id":"\xc2\xa0","cmd":"status"}\n', NO_ID),
            (b"[1,2]\n", NO_ID),
            (b'"status"\n', NO_ID),
            (b"42\n", NO_ID),
            (b'{"id":"a"}\n', '{"error":{"code":"invalid_request","message":"cmd is required"},"id":"a","ok":false}'),
            (b'{"id":"a","cmd":" "}\n', '{"error":{"code":"invalid_request","message":"cmd is required"},"id":"a","ok":false}'),
            (b'{"id":" a ","cmd":"nope"}\n',
             '{"error":{"code":"unknown_command","message":"Unknown meeting listener command."},"id":" a ","ok":false}'),
            (b'{"id":"a","cmd":" ping"}\n',
             '{"error":{"code":"unknown_command","message":"Unknown meeting listener command."},"id":"a","ok":false}'),
            (b'{"id":"a","cmd":"Ping"}\n',
             '{"error":{"code":"unknown_command","message":"Unknown meeting listener command."},"id":"a","ok":false}'),
            (b'{"id":"s","cmd":"status"}\r\n', '{"id":"s","ok":true,"result":' + IDLE + "}"),
            (b'{"id":"s","cmd":"status","id":"t"}', '{"id":"t","ok":true,"result":' + IDLE + "}"),
            (b'{"id":"\\u0001/","cmd":"status"}\n', '{"id":"\\u0001/","ok":true,"result":' + IDLE + "}"),
        ]
        for data, expected in cases:
            with self.subTest(data=data):
                status, lines, _ = run_lines(data)
                self.assertEqual(status, 0)
                self.assertEqual(lines, [expected])
                json.loads(lines[0])

    def test_blank_lines_are_skipped(self):
        status, lines, _ = run_lines(b"\n   \n\t \r\n\xc2\xa0\xe3\x80\x80\n")
        self.assertEqual((status, lines), (0, []))

    def test_nesting_limit(self):
        deep = lambda n: b"[" * n + b"]" * n + b"\n"
        self.assertEqual(run_lines(deep(127))[1], [NO_ID])
        self.assertEqual(run_lines(deep(128))[1], [INVALID_JSON])
        nested_arg = lambda n: b'{"id":"n","cmd":"status","args":' + deep(n - 1).rstrip() + b"}\n"
        self.assertEqual(parsed(run_lines(nested_arg(127))[1])[0]["ok"], True)
        self.assertEqual(run_lines(nested_arg(128))[1], [INVALID_JSON])

    def test_lines_are_answered_in_order(self):
        data = b"".join(request(id=str(i), cmd="status") for i in range(50))
        status, lines, _ = run_lines(data)
        self.assertEqual(status, 0)
        self.assertEqual([m["id"] for m in parsed(lines)], [str(i) for i in range(50)])


class Commands(unittest.TestCase):
    def test_stop_without_capture(self):
        status, lines, _ = run_lines(request(id="x", cmd="stop") + request(id="y", cmd="status"))
        self.assertEqual(status, 0)
        stop, event, after = parsed(lines)
        self.assertEqual(stop["id"], "x")
        self.assertTrue(stop["ok"])
        self.assertEqual(stop["result"]["audioPaths"], {"mic": None, "system": None})
        self.assertIsNone(stop["result"]["sessionId"])
        self.assertRegex(stop["result"]["stoppedAt"], r"^\d+\.\d{3}Z$")
        self.assertEqual(lines[1], '{"status":' + IDLE + ',"type":"status"}')
        self.assertEqual(after["result"]["state"], "idle")
        self.assertTrue(lines[0].startswith('{"id":"x","ok":true,"result":{"audioPaths":{"mic":null,"system":null},'))


class ProcessEnd(unittest.TestCase):
    def test_invalid_utf8_ends_with_status_1(self):
        status, lines, err = run_lines(request(id="1", cmd="status") + b'{"id":"\xff"}\n' + request(id="2", cmd="status"))
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 1)
        self.assertEqual(err, "ombri-listener failed: stream did not contain valid UTF-8\n")

    def test_end_of_input_exits_0(self):
        self.assertEqual(run_lines(b""), (0, [], ""))

    def test_closed_stdout_fails_with_status_1_not_a_signal(self):
        read_end, write_end = os.pipe()
        process = subprocess.Popen([LISTENER], stdin=subprocess.PIPE, stdout=write_end, stderr=subprocess.PIPE)
        os.close(write_end)
        os.close(read_end)
        _, err = process.communicate(request(id="1", cmd="status"), timeout=30)
        self.assertEqual(process.returncode, 1)
        self.assertNotEqual(process.returncode, -signal.SIGPIPE)
        self.assertEqual(err.decode(), "ombri-listener failed: Broken pipe (os error 32)\n")

    def test_other_command_lines_run_the_protocol(self):
        for args in (["--INPUT-WAV"], ["--input-wav=a.wav"], ["x", "--input-wav"]):
            with self.subTest(args=args):
                status, lines, _ = run_lines(request(id="1", cmd="status"), args=args)
                self.assertEqual(status, 0)
                self.assertEqual(parsed(lines)[0]["result"]["state"], "idle")


if __name__ == "__main__":
    unittest.main()
