#include "jpeg_encoder.hpp"

#include <gtest/gtest.h>

#include <random>

namespace ombri_image {
namespace {

TEST(AppendOutput, AcceptsUpToTheBudgetExactly) {
  OutputSink sink{{}, 10, false};
  const std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(appendOutput(sink, bytes, 4), 4u);
  EXPECT_EQ(appendOutput(sink, bytes, 6), 6u);
  EXPECT_FALSE(sink.overflowed);
  EXPECT_EQ(appendOutput(sink, bytes, 1), 0u);
  EXPECT_TRUE(sink.overflowed);
  EXPECT_EQ(sink.data, (std::vector<std::uint8_t>{1, 2, 3, 4, 1, 2, 3, 4, 5, 6}));
}

// Noise compresses badly, so its JPEG is many sink pieces long.
std::vector<std::uint8_t> noise(std::uint32_t width, std::uint32_t height) {
  std::mt19937 generator(7);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  for (auto& value : pixels) value = static_cast<std::uint8_t>(generator());
  return pixels;
}

TEST(EncodeJpeg, StopsAtTheFirstRefusedWrite) {
  const std::uint32_t width = 400, height = 300;
  const auto pixels = noise(width, height);
  OutputSink full{{}, 1 << 24, false};
  ASSERT_EQ(encodeJpeg(pixels.data(), width, height, 82, full), JpegEncodeOutcome::finished);
  ASSERT_GT(full.data.size(), 50'000u);
  EXPECT_EQ(full.data[0], 0xFF);
  EXPECT_EQ(full.data[1], 0xD8);
  EXPECT_EQ(full.data[full.data.size() - 2], 0xFF);
  EXPECT_EQ(full.data.back(), 0xD9);

  OutputSink bounded{{}, full.data.size() / 2, false};
  EXPECT_EQ(encodeJpeg(pixels.data(), width, height, 82, bounded), JpegEncodeOutcome::stopped);
  EXPECT_TRUE(bounded.overflowed);
  // What was accepted before the refusal is the start of the same JPEG, and
  // nothing after it was kept.
  ASSERT_LE(bounded.data.size(), bounded.budget);
  EXPECT_GT(bounded.data.size(), bounded.budget / 2);
  EXPECT_TRUE(std::equal(bounded.data.begin(), bounded.data.end(), full.data.begin()));

  OutputSink exact{{}, full.data.size(), false};
  EXPECT_EQ(encodeJpeg(pixels.data(), width, height, 82, exact), JpegEncodeOutcome::finished);
  EXPECT_EQ(exact.data, full.data);
}

}  // namespace
}  // namespace ombri_image
