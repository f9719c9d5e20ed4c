#include "vips_codec.hpp"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <string>

#include "failure.hpp"

namespace ombri_image {
namespace {

// A gradient source made by libvips itself, in the format of the suffix; a
// PNG has two bands, grey and alpha.
std::vector<std::uint8_t> generated(int width, int height, const char* format) {
  VipsImage* pattern = nullptr;
  EXPECT_EQ(vips_xyz(&pattern, width, height, nullptr), 0);
  VipsImage* bytes = nullptr;
  EXPECT_EQ(vips_cast_uchar(pattern, &bytes, nullptr), 0);
  void* buffer = nullptr;
  size_t length = 0;
  EXPECT_EQ(vips_image_write_to_buffer(bytes, format, &buffer, &length, nullptr), 0);
  std::vector<std::uint8_t> result(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + length);
  g_free(buffer);
  g_object_unref(bytes);
  g_object_unref(pattern);
  return result;
}

class VipsCodecTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("imgfit_tests"), 0); }
};

TEST_F(VipsCodecTest, EncodeLandingOnTheBudgetIsKeptAndOneByteLessStops) {
  const auto source = generated(640, 480, ".png");
  VipsCodec codec(source);
  codec.render(1800);
  EXPECT_EQ(codec.width, 640u);
  EXPECT_EQ(codec.height, 480u);

  const auto full = codec.encode(0.82, 25'165'824);
  ASSERT_GT(full.size(), 2u);
  EXPECT_EQ(full[0], 0xFF);
  EXPECT_EQ(full[1], 0xD8);
  EXPECT_TRUE(codec.encode(0.82, full.size() - 1).empty());
  // The stopped encode leaves the render intact for the next one.
  EXPECT_EQ(codec.encode(0.82, full.size()), full);
  EXPECT_LT(codec.encode(0.30, full.size()).size(), full.size());
}

// A decode is kept for the later renders that would decode the same; every
// render must come out as a codec's first render at that edge does.
TEST_F(VipsCodecTest, LaterRendersMatchFirstRenders) {
  for (const char* format : {".png", ".png[interlace]", ".jpg", ".jpg[interlace]"}) {
    const auto source = generated(1000, 700, format);
    VipsCodec reused(source);
    // The JPEG decoder's scale: 1, 1, 1, 2, 2, 4.
    for (const std::uint32_t edge : {1000u, 750u, 562u, 421u, 315u, 236u}) {
      reused.render(edge);
      VipsCodec fresh(source);
      fresh.render(edge);
      EXPECT_EQ(reused.width, fresh.width);
      EXPECT_EQ(reused.encode(0.82, 25'165'824), fresh.encode(0.82, 25'165'824)) << format << " at " << edge;
    }
  }
}

TEST_F(VipsCodecTest, PixelLimitIsSixtyFourMillion) {
  const auto largest = generated(8000, 8000, ".jpg");
  VipsCodec codec(largest);
  EXPECT_EQ(codec.sourceWidth, 8000u);
  codec.render(1800);
  EXPECT_EQ(codec.width, 1800u);
  EXPECT_EQ(codec.height, 1800u);

  const auto tooLarge = generated(8001, 8000, ".jpg");
  try {
    VipsCodec refused(tooLarge);
    FAIL() << "8001 x 8000 was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.exitStatus, ExitStatus::sourceTooLarge);
    EXPECT_STREQ(failure.what(), "source_pixel_limit");
  }
}

}  // namespace
}  // namespace ombri_image
