"""Every refusal of the command line and of the source, end to end: its exit
status, its one error line, an empty standard output and no file written."""

import os

from imgfit_support import TempDirTest, convert, run_imgfit


class CommandLineTest(TempDirTest):
    def test_refusals(self):
        convert("-size", "64x48", "xc:red", self.path("in.jpg"))
        self.write("existing.jpg", b"keep")
        os.mkdir(self.path("folder"))
        os.symlink(self.path("nowhere"), self.path("dangling"))
        os.symlink(self.path("in.jpg"), self.path("link.jpg"))
        os.mkfifo(self.path("fifo"))
        self.write("empty.jpg", b"")
        with open(self.path("huge.jpg"), "wb") as huge:
            huge.truncate(25165825)
        self.write("largest.jpg", b"GIF89a" + bytes(25165818))
        self.write("text.jpg", b"hello, not a picture")
        self.write("jpeg-signature.jpg", b"\xff\xd8\xff")
        self.write("png-signature.png", b"\x89PNG\r\n\x1a\n" + bytes(64))

        source = self.path("in.jpg")
        out = self.path("out.jpg")
        budget = ["--max-bytes", "100000"]
        cases = [
            ([], 2, "invalid_arguments"),
            (["--input", source, "--output", out, "--max-bytes"], 2, "invalid_arguments"),
            (["--input", source, "--output", out, *budget, "--max-edge"], 2, "invalid_arguments"),
            (["--input", source, "--output", out, *budget, "--max-edge", "100", "x"], 2, "invalid_arguments"),
            (["--INPUT", source, "--output", out, *budget], 2, "invalid_arguments"),
            (["--input=" + source, "--output", out, *budget, "x"], 2, "invalid_arguments"),
            (["--input", "in.jpg", "--output", "out.jpg", "--max-bytes", "0"], 2, "invalid_limit"),
            (["--input", "in.jpg", "--output", "out.jpg", *budget], 2, "invalid_path"),
            (["--input", source, "--output", out, "--max-bytes", "25165825"], 2, "invalid_limit"),
            (["--input", source, "--output", out, "--max-bytes", " 5"], 2, "invalid_limit"),
            (["--input", source, "--output", out, "--max-bytes", "0x10"], 2, "invalid_limit"),
            (["--input", source, "--output", out, "--max-bytes", "18446744073709551616"], 2, "invalid_limit"),
            (["--input", source, "--output", out, *budget, "--max-edge", "8193"], 2, "invalid_limit"),
            (["--input", source, "--output", out, *budget, "--max-edge", "0"], 2, "invalid_limit"),
            (["--input", source, "--output", out, *budget, "--max-bytes", "7"], 2, "duplicate_argument"),
            (["--input", source, "--output", out, *budget, "--max-bytes", "-7"], 2, "invalid_limit"),
            (["--input", source, "--input", source, "--output", out, *budget], 2, "duplicate_argument"),
            (["--input", source, "--output", out, "--max-edge", "100"], 2, "missing_argument"),
            (["--input", source, "--output", self.path("a\tb.jpg"), *budget], 2, "invalid_path"),
            (["--input", source, "--output", "/" + "a" * 16384, *budget], 2, "invalid_path"),
            (["--input", self.dir + "/x/../in.jpg", "--output", self.dir + "//in.jpg", *budget], 2, "same_path"),
            (["--input", source, "--output", self.path("existing.jpg"), *budget], 7, "output_exists"),
            (["--input", source, "--output", self.path("folder"), *budget], 7, "output_exists"),
            (["--input", source, "--output", self.path("dangling"), *budget], 7, "output_exists"),
            (["--input", self.path("missing.jpg"), "--output", out, *budget], 7, "input_open_failed"),
            (["--input", self.path("link.jpg"), "--output", out, *budget], 7, "input_open_failed"),
            (["--input", self.path("fifo"), "--output", out, *budget], 2, "input_not_regular"),
            (["--input", self.path("folder"), "--output", out, *budget], 2, "input_not_regular"),
            (["--input", self.path("empty.jpg"), "--output", out, *budget], 4, "source_byte_limit"),
            (["--input", self.path("huge.jpg"), "--output", out, *budget], 4, "source_byte_limit"),
            (["--input", self.path("largest.jpg"), "--output", out, *budget], 3, "unsupported_format"),
            (["--input", self.path("text.jpg"), "--output", out, *budget], 3, "unsupported_format"),
            (["--input", self.path("jpeg-signature.jpg"), "--output", out, *budget], 5, "image_decode_failed"),
            (["--input", self.path("png-signature.png"), "--output", out, *budget], 5, "image_decode_failed"),
            (["--input", source, "--output", self.path("missing/out.jpg"), *budget], 7, "output_create_failed"),
        ]
        for args, status, code in cases:
            with self.subTest(args=[a[:60] for a in args]):
                self.assertFailure(run_imgfit(*args), status, code)
                self.assertFalse(os.path.lexists(out))
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 sorted(["in.jpg", "existing.jpg", "folder", "dangling", "link.jpg", "fifo",
                                         "empty.jpg", "huge.jpg", "largest.jpg", "text.jpg", "jpeg-signature.jpg",
                                         "png-signature.png"]))
        self.assertEqual(self.read("existing.jpg"), b"keep")


if __name__ == "__main__":
    import unittest
    unittest.main()
