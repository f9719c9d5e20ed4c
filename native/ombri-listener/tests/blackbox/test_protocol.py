import json
import os
import signal
import subprocess
import threading
import time
import unittest

from listener import LISTENER, limit_address_space, parsed, request, run_lines, sanitized, start

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


class Memory(unittest.TestCase):
    """Allocation failures are provoked by a limit on the listener's address space."""

    def limited(self, extra_bytes):
        process = start()
        self.addCleanup(lambda: process.poll() is None and process.kill())
        process.stdin.write(request(id="ready", cmd="status"))
        process.stdin.flush()
        self.assertEqual(parsed([process.stdout.readline()])[0]["id"], "ready")
        if sanitized(process.pid):
            process.kill()
            process.communicate()
            self.skipTest("a sanitizer's allocator aborts instead of failing an allocation")
        limit_address_space(process.pid, extra_bytes)
        return process

    def test_deep_line_costs_no_more_than_its_size(self):
        process = self.limited(200 * 1000 * 1000)
        out, err = process.communicate(b"[" * (50 * 1000 * 1000) + b"\n" + request(id="after", cmd="status"), timeout=60)
        self.assertEqual((process.returncode, err), (0, b""))
        lines = out.decode().splitlines()
        self.assertEqual(lines[0], INVALID_JSON)
        self.assertEqual(parsed(lines[1:])[0]["id"], "after")

    def test_out_of_memory_ends_with_status_1(self):
        process = self.limited(64 * 1000 * 1000)
        line = b'{"id":"big","cmd":"status","pad":"' + b"a" * (100 * 1000 * 1000) + b'"}\n'
        out, err = process.communicate(line + request(id="after", cmd="status"), timeout=60)
        self.assertEqual(process.returncode, 1)
        self.assertEqual(err.decode(), "ombri-listener failed: out of memory\n")
        self.assertEqual(out, b"")


class NonBlockingStdout(unittest.TestCase):
    def test_full_pipe_is_waited_on_and_lines_stay_whole(self):
        read_end, write_end = os.pipe()
        os.set_blocking(write_end, False)
        process = start(stdout=write_end)
        os.close(write_end)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        pad = "p" * 30000
        main_ids = [f"s{i}{pad}" for i in range(40)]
        worker_ids = [f"e{i}{pad}" for i in range(40)]  # answered by the stdout writer thread
        data = b"".join(request(id=i, cmd="status") + request(id=w, cmd="enhance", args={"input": "/nonexistent.wav"})
                        for i, w in zip(main_ids, worker_ids))

        received = bytearray()
        all_answered = threading.Event()

        def drain_slowly():
            with os.fdopen(read_end, "rb", buffering=0) as pipe:
                while chunk := pipe.read(4096):
                    received.extend(chunk)
                    if received.count(b"\n") == len(main_ids) + len(worker_ids):
                        all_answered.set()
                    time.sleep(0.002)

        reader = threading.Thread(target=drain_slowly)
        reader.start()
        process.stdin.write(data)
        process.stdin.flush()
        # Deferred answers still in flight are dropped at the end of input: close it only once all are out.
        self.assertTrue(all_answered.wait(60))
        process.stdin.close()
        self.assertEqual(process.wait(30), 0)
        reader.join(30)
        self.assertEqual(process.stderr.read(), b"")
        answers = parsed(received.decode().splitlines())
        self.assertEqual([a["id"] for a in answers if a["id"].startswith("s")], main_ids)
        self.assertEqual(sorted(a["id"] for a in answers if a["id"].startswith("e")), sorted(worker_ids))
        for answer in answers:
            self.assertEqual(answer["ok"], answer["id"].startswith("s"))


if __name__ == "__main__":
    unittest.main()
