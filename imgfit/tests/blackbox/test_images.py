"""imgfit on real JPEG and PNG files made by ImageMagick; what it writes is
read back with ImageMagick."""

import json
import os
import stat
import subprocess
import unittest

from imgfit_support import (IMGFIT, Pixels, TempDirTest, animated, convert, fit, identify, png_header_only,
                            with_exif_orientation)

A98_PROFILE = "/usr/share/color/icc/ghostscript/a98.icc"
SRGB_PROFILE = "/usr/share/color/icc/ghostscript/srgb.icc"
RED = (255, 0, 0)
BLUE = (0, 0, 255)
WHITE = (255, 255, 255)
# getrusage and the peak resident size never fail on Linux, so every member is present.
RESULT_MEMBERS = ["version", "status", "mime", "sourceWidth", "sourceHeight", "displayWidth", "displayHeight",
                  "width", "height", "bytes", "peakResidentBytes", "phaseTimings"]
TIMING_MEMBERS = ["readMs", "metadataMs", "renderMs", "encodeMs", "writeMs", "flushMs", "totalMs", "renderAttempts",
                  "encodeAttempts", "userCpuMs", "systemCpuMs"]
EDGES_FROM_1800 = [1800, 1350, 1012, 759, 569, 426, 384]


class ImagesTest(TempDirTest):
    def assertNear(self, actual, expected, tolerance=24):
        self.assertTrue(all(abs(a - e) <= tolerance for a, e in zip(actual, expected)), f"{actual} != {expected}")

    def fitted(self, source, max_bytes=1000000, max_edge=None):
        """Runs imgfit on `source`; checks the result line against the file written."""
        output = self.path("out.jpg")
        if os.path.exists(output):
            os.unlink(output)
        run = fit(source, output, max_bytes, max_edge)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(run.stderr, "")
        result = run.result()
        self.assertEqual(list(result), RESULT_MEMBERS)
        self.assertEqual(list(result["phaseTimings"]), TIMING_MEMBERS)
        numbers = [value for key, value in result.items() if key not in ("status", "mime", "phaseTimings")]
        numbers += result["phaseTimings"].values()
        self.assertTrue(all(isinstance(value, (int, float)) and value >= 0 for value in numbers), result)
        self.assertEqual((result["version"], result["status"], result["mime"]), (1, "ok", "image/jpeg"))
        written = identify(output)
        self.assertEqual(written["format"], "JPEG")
        self.assertEqual(written["colourspace"], "sRGB")
        self.assertEqual((written["width"], written["height"], written["bytes"]),
                         (result["width"], result["height"], result["bytes"]))
        self.assertLessEqual(result["bytes"], max_bytes)
        self.assertEqual(stat.S_IMODE(os.stat(output).st_mode) & 0o077, 0)
        return result, Pixels(output)

    def quadrant_source(self):
        """300 x 200: red, yellow, blue and green quadrants, read clockwise from the top left."""
        convert("-size", "300x200", "xc:green", "-fill", "red", "-draw", "rectangle 0,0 149,99",
                "-fill", "yellow", "-draw", "rectangle 150,0 299,99", "-fill", "blue", "-draw",
                "rectangle 150,100 299,199", "-quality", "95", self.path("base.jpg"))
        return self.read("base.jpg")

    def test_orientation_is_applied(self):
        base = self.quadrant_source()
        for orientation in range(1, 9):
            with self.subTest(orientation=orientation):
                source = self.write(f"o{orientation}.jpg", with_exif_orientation(base, orientation))
                result, pixels = self.fitted(source)
                upright = (200, 300) if orientation >= 5 else (300, 200)
                self.assertEqual((result["sourceWidth"], result["sourceHeight"]), (300, 200))
                self.assertEqual((result["displayWidth"], result["displayHeight"]), upright)
                self.assertEqual((result["width"], result["height"]), upright)
                reference = self.path("reference.png")
                convert(source, "-auto-orient", reference)
                expected = Pixels(reference)
                for x in (30, upright[0] - 30):
                    for y in (30, upright[1] - 30):
                        self.assertNear(pixels.at(x, y), expected.at(x, y))

    def test_orientation_outside_one_to_eight_is_refused(self):
        base = self.quadrant_source()
        for orientation in (0, 9):
            with self.subTest(orientation=orientation):
                source = self.write("bad.jpg", with_exif_orientation(base, orientation))
                self.assertFailure(fit(source, self.path("out.jpg"), 100000), 5, "invalid_orientation")
                self.assertFalse(os.path.exists(self.path("out.jpg")))

    def test_first_render_takes_the_display_size_to_the_edge(self):
        convert("-size", "4032x3024", "gradient:red-blue", self.path("wide.jpg"))
        source = self.write("portrait.jpg", with_exif_orientation(self.read("wide.jpg"), 6))
        result, _ = self.fitted(source)
        self.assertEqual((result["displayWidth"], result["displayHeight"]), (3024, 4032))
        self.assertEqual((result["width"], result["height"]), (1350, 1800))
        self.assertEqual(result["phaseTimings"]["renderAttempts"], 1)

        convert("-size", "10000x1", "xc:green", self.path("line.png"))
        result, _ = self.fitted(self.path("line.png"))
        self.assertEqual((result["width"], result["height"]), (1800, 1))

        convert("-size", "1000x800", "xc:green", self.path("small.png"))
        result, _ = self.fitted(self.path("small.png"), max_edge=8192)
        self.assertEqual((result["width"], result["height"]), (1000, 800))

    def test_transparent_pixels_come_out_white(self):
        for depth, kind in ((8, "PNG32"), (16, "PNG64")):
            with self.subTest(depth=depth):
                source = self.path(f"alpha{depth}.png")
                convert("-size", "200x100", "xc:none", "-fill", "blue", "-draw", "rectangle 100,0 199,99",
                        "-depth", depth, f"{kind}:{source}")
                _, pixels = self.fitted(source)
                self.assertNear(pixels.at(40, 50), WHITE, 3)
                self.assertNear(pixels.at(160, 50), BLUE)

    def test_grey_and_sixteen_bit_sources_become_srgb(self):
        convert("-size", "200x100", "gradient:white-black", "-colorspace", "Gray", "-depth", "8",
                self.path("grey.png"))
        convert("-size", "200x100", "gradient:red-blue", "-depth", "16", "PNG48:" + self.path("rgb16.png"))
        convert("-size", "200x100", "gradient:white-black", "-colorspace", "Gray", "-alpha", "set", "-channel", "A",
                "-evaluate", "set", "50%", "+channel", self.path("grey-alpha.png"))
        _, grey = self.fitted(self.path("grey.png"))
        self.assertNear(grey.at(100, 0), WHITE, 8)
        self.assertNear(grey.at(100, 99), (0, 0, 0), 8)
        _, rgb16 = self.fitted(self.path("rgb16.png"))
        self.assertNear(rgb16.at(100, 0), RED)
        self.assertNear(rgb16.at(100, 99), BLUE)
        # Half-transparent black over white.
        _, grey_alpha = self.fitted(self.path("grey-alpha.png"))
        self.assertNear(grey_alpha.at(100, 99), (128, 128, 128), 8)

    def test_cmyk_jpeg_becomes_srgb(self):
        convert("-size", "100x100", "xc:red", "-colorspace", "CMYK", self.path("cmyk.jpg"))
        self.assertEqual(identify(self.path("cmyk.jpg"))["colourspace"], "CMYK")
        _, pixels = self.fitted(self.path("cmyk.jpg"))
        self.assertNear(pixels.at(50, 50), RED, 40)

    @unittest.skipUnless(os.path.exists(A98_PROFILE) and os.path.exists(SRGB_PROFILE), "no ICC profiles")
    def test_embedded_profile_is_converted_to_srgb(self):
        convert("-size", "64x64", "xc:rgb(40,200,90)", "-profile", A98_PROFILE, self.path("a98.png"))
        reference = self.path("reference.png")
        convert(self.path("a98.png"), "-profile", SRGB_PROFILE, reference)
        expected = Pixels(reference).at(32, 32)
        self.assertGreater(max(abs(a - b) for a, b in zip(expected, (40, 200, 90))), 20)
        _, pixels = self.fitted(self.path("a98.png"))
        self.assertNear(pixels.at(32, 32), expected, 6)

    def test_animated_png_is_several_images(self):
        convert("-size", "40x30", "xc:red", self.path("still.png"))
        self.fitted(self.path("still.png"))
        for frames in (2, 3):
            with self.subTest(frames=frames):
                source = self.write("animated.png", animated(self.read("still.png"), frames))
                self.assertFailure(fit(source, self.path("anim.jpg"), 100000), 3, "unsupported_multiframe")
                self.assertFalse(os.path.exists(self.path("anim.jpg")))

    def test_one_frame_animation_is_one_image(self):
        convert("-size", "40x30", "xc:red", self.path("still.png"))
        result, pixels = self.fitted(self.write("one.png", animated(self.read("still.png"), 1)))
        self.assertEqual((result["width"], result["height"]), (40, 30))
        self.assertNear(pixels.at(20, 15), RED)

    def test_header_checks_in_order(self):
        """Sources whose image data is a stub: each is refused by its header alone, or fails to decode."""
        convert("-size", "64x48", "xc:red", self.path("small.jpg"))
        small = self.read("small.jpg")
        frame = small.index(b"\xff\xc0")
        huge_jpeg = small[:frame + 5] + b"\xff\xff\xff\xff" + small[frame + 9:]
        cases = [
            # Refused before any decoder allocates what the chunk claims.
            (png_header_only(300, 200, text_claims=0x7FFFFFFF), 5, "image_decode_failed"),
            (png_header_only(9000, 9000, orientation=9, animated_frames=2), 3, "unsupported_multiframe"),
            # The image data lies outside the one frame, so the file holds two pictures.
            (png_header_only(300, 200, animated_frames=1), 3, "unsupported_multiframe"),
            (png_header_only(64000001, 1), 4, "source_pixel_limit"),
            (huge_jpeg, 4, "source_pixel_limit"),
            (png_header_only(9000, 9000, orientation=9), 4, "source_pixel_limit"),
            (png_header_only(8001, 8000), 4, "source_pixel_limit"),
            (png_header_only(300, 200, orientation=9), 5, "invalid_orientation"),
            (png_header_only(300, 200, orientation=6), 5, "image_decode_failed"),
        ]
        for data, status, code in cases:
            with self.subTest(code=code, bytes=len(data)):
                self.assertFailure(fit(self.write("stub.png", data), self.path("out.jpg"), 100000), status, code)
                self.assertFalse(os.path.exists(self.path("out.jpg")))

    def test_peak_resident_size_is_in_bytes(self):
        convert("-size", "2000x1500", "-seed", "4", "plasma:fractal", self.path("photo.jpg"))
        child = subprocess.Popen([IMGFIT, "--input", self.path("photo.jpg"), "--output", self.path("out.jpg"),
                                  "--max-bytes", "1000000"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        stdout = child.stdout.read()
        child.stdout.close()
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        self.assertEqual(child.returncode, 0)
        reported = json.loads(stdout)["peakResidentBytes"]
        # Linux's ru_maxrss is in KiB; the last sample comes shortly before the exit.
        final = usage.ru_maxrss * 1024
        self.assertLessEqual(reported, final)
        self.assertGreater(reported, final // 2)

    def test_damaged_sources_fail_to_decode(self):
        convert("-size", "400x300", "-seed", "7", "plasma:fractal", self.path("photo.jpg"))
        convert("-size", "400x300", "-seed", "7", "plasma:fractal", self.path("photo.png"))
        jpeg, png = self.read("photo.jpg"), self.read("photo.png")
        cases = {
            "half.jpg": jpeg[:len(jpeg) // 2],
            "header-only.jpg": jpeg[:200],
            "half.png": png[:len(png) // 2],
            "garbage.jpg": b"\xff\xd8\xff" + bytes(range(256)) * 8,
            "garbage.png": png[:8] + bytes(range(256)) * 8,
        }
        for name, data in cases.items():
            with self.subTest(source=name):
                run = fit(self.write(name, data), self.path("out.jpg"), 100000)
                self.assertFailure(run, 5, "image_decode_failed")
                self.assertFalse(os.path.exists(self.path("out.jpg")))

    def test_tight_budget_shrinks_the_picture(self):
        convert("-size", "2400x1600", "-seed", "3", "plasma:fractal", "+noise", "Random",
                self.path("noisy.png"))
        result, _ = self.fitted(self.path("noisy.png"), max_bytes=60000)
        timings = result["phaseTimings"]
        self.assertGreater(timings["renderAttempts"], 1)
        self.assertEqual(result["width"], EDGES_FROM_1800[timings["renderAttempts"] - 1])
        self.assertEqual(result["height"], result["width"] * 1600 // 2400)
        self.assertLessEqual(timings["encodeAttempts"], 9 * timings["renderAttempts"])

        self.assertFailure(fit(self.path("noisy.png"), self.path("none.jpg"), 100), 6, "output_budget_unreachable")
        self.assertFalse(os.path.exists(self.path("none.jpg")))


if __name__ == "__main__":
    unittest.main()
