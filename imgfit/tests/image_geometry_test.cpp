#include "image_geometry.hpp"

#include <gtest/gtest.h>

#include <string>

#include "failure.hpp"
#include "outcome.hpp"

namespace ombri_image {
namespace {

std::string sourceCheck(std::int64_t width, std::int64_t height) {
  return test_support::outcome([&] { checkedSourceSize(width, height); });
}

TEST(SourceSize, MetadataBeforeSideLimitBeforeArea) {
  EXPECT_EQ(sourceCheck(0, 100), "5 image_metadata_failed");
  EXPECT_EQ(sourceCheck(100, -1), "5 image_metadata_failed");
  EXPECT_EQ(sourceCheck(0, 64'000'001), "5 image_metadata_failed");
  EXPECT_EQ(sourceCheck(64'000'001, 1), "4 source_pixel_limit");
  EXPECT_EQ(sourceCheck(64'000'000, 1), "ok");
  EXPECT_EQ(sourceCheck(8000, 8000), "ok");
  EXPECT_EQ(sourceCheck(8001, 8000), "4 source_pixel_limit");
  EXPECT_EQ(sourceCheck(64'000'000, 64'000'000), "4 source_pixel_limit");
}

TEST(Orientation, OneToEightAndQuarterTurnsSwapSides) {
  EXPECT_EQ(checkedOrientation(std::nullopt), 1);
  EXPECT_THROW(checkedOrientation(0), Failure);
  EXPECT_THROW(checkedOrientation(9), Failure);
  EXPECT_THROW(checkedOrientation(-6), Failure);
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const PixelSize expected = orientation >= 5 ? PixelSize{3024, 4032} : PixelSize{4032, 3024};
    EXPECT_EQ(displaySize({4032, 3024}, checkedOrientation(orientation)), expected) << orientation;
  }
}

TEST(TargetSize, LongerSideBecomesTheEdge) {
  struct Case {
    PixelSize display;
    std::uint32_t edge;
    PixelSize expected;
  };
  const Case cases[] = {
      {{3024, 4032}, 1800, {1350, 1800}}, {{1000, 800}, 1800, {1000, 800}},
      {{1800, 1800}, 1800, {1800, 1800}}, {{10000, 1}, 1800, {1800, 1}},
      {{1, 10000}, 384, {1, 384}},        {{4000, 2999}, 1800, {1800, 1349}},  // 1349.55 is cut, not rounded
      {{8000, 7999}, 8192, {8000, 7999}}, {{64'000'000, 1}, 8192, {8192, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(targetSize(c.display, c.edge), c.expected) << c.display.width << "x" << c.display.height;
  }
}

}  // namespace
}  // namespace ombri_image
