#include "jpeg_encoder.hpp"

#include <gtest/gtest.h>
#include <vips/vips.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cmath>
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

// libjpeg on its defaults (standard Huffman tables), written apart from the encoder.
std::vector<std::uint8_t> standardTablesJpeg(const std::vector<std::uint8_t>& pixels, std::uint32_t width,
                                             std::uint32_t height, int quality) {
  jpeg_compress_struct compressor{};
  jpeg_error_mgr errors{};
  compressor.err = jpeg_std_error(&errors);
  jpeg_create_compress(&compressor);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&compressor, &buffer, &size);
  compressor.image_width = width;
  compressor.image_height = height;
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, quality, TRUE);
  jpeg_start_compress(&compressor, TRUE);
  while (compressor.next_scanline < height) {
    JSAMPROW row = const_cast<JSAMPLE*>(pixels.data() + compressor.next_scanline * width * 3);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  std::vector<std::uint8_t> jpeg(buffer, buffer + size);
  std::free(buffer);
  return jpeg;
}

// The pixels as libvips decodes them.
std::vector<std::uint8_t> decoded(const std::vector<std::uint8_t>& jpeg) {
  VipsImage* image = vips_image_new_from_buffer(jpeg.data(), jpeg.size(), "", nullptr);
  EXPECT_NE(image, nullptr);
  size_t size = 0;
  void* memory = vips_image_write_to_memory(image, &size);
  std::vector<std::uint8_t> pixels(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
  g_free(memory);
  g_object_unref(image);
  return pixels;
}

// A smooth picture with some grain: a photograph, not noise, so the tables matter.
std::vector<std::uint8_t> photo(std::uint32_t width, std::uint32_t height) {
  std::mt19937 generator(3);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const double x = static_cast<double>(i / 3 % width) / width, y = static_cast<double>(i / 3 / width) / height;
    const double wave = 0.5 + 0.4 * std::sin(9 * x + 5 * y + static_cast<double>(i % 3));
    pixels[i] = static_cast<std::uint8_t>(std::lround(wave * 230) + generator() % 16);
  }
  return pixels;
}

TEST(EncodeJpeg, OptimisedTablesGiveTheSamePixelsInFewerBytes) {
  ASSERT_EQ(VIPS_INIT("imgfit_tests"), 0);
  const std::uint32_t width = 640, height = 480;
  const auto pixels = photo(width, height);
  for (const int quality : {82, 58, 30}) {
    OutputSink sink{{}, 1 << 24, false};
    ASSERT_EQ(encodeJpeg(pixels.data(), width, height, quality, sink), JpegEncodeOutcome::finished);
    const auto standard = standardTablesJpeg(pixels, width, height, quality);
    EXPECT_LT(sink.data.size(), standard.size() * 97 / 100) << quality;
    EXPECT_EQ(decoded(sink.data), decoded(standard)) << quality;
    // Baseline: a SOF0 frame header, no progressive one (SOF2).
    const std::vector<std::uint8_t> baseline = {0xFF, 0xC0}, progressive = {0xFF, 0xC2};
    EXPECT_NE(std::search(sink.data.begin(), sink.data.end(), baseline.begin(), baseline.end()), sink.data.end());
    EXPECT_EQ(std::search(sink.data.begin(), sink.data.end(), progressive.begin(), progressive.end()), sink.data.end());
  }
}

}  // namespace
}  // namespace ombri_image
