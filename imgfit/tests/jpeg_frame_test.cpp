#include "jpeg_frame.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ombri_image {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A marker segment: FF, the marker, a length that counts itself, the data.
Bytes segment(std::uint8_t marker, const Bytes& data) {
  const std::size_t length = data.size() + 2;
  Bytes bytes = {0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

Bytes frame(std::uint8_t marker, std::uint16_t width, std::uint16_t height) {
  return segment(marker, {8, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                          static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width), 3, 1, 0x22, 0, 2,
                          0x11, 1, 3, 0x11, 1});
}

Bytes jpeg(std::initializer_list<Bytes> parts) {
  Bytes bytes = {0xFF, 0xD8};
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

std::string frameSize(const Bytes& bytes) {
  const auto size = jpegFrameSize(bytes);
  return size ? std::to_string(size->width) + "x" + std::to_string(size->height) : "none";
}

TEST(JpegFrame, SizeFromTheFirstFrameHeader) {
  const Bytes app = segment(0xE1, Bytes(100, 0xFF));  // the data is skipped, not read as markers
  const Bytes tables = segment(0xDB, Bytes(65));
  const Bytes huffman = segment(0xC4, Bytes(30));
  const Bytes scan = segment(0xDA, Bytes(10));
  Bytes cut = jpeg({app, frame(0xC0, 640, 480)});
  cut.resize(cut.size() - 10);

  struct Case {
    const char* name;
    Bytes bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"baseline", jpeg({app, tables, huffman, frame(0xC0, 640, 480), scan}), "640x480"},
      {"progressive", jpeg({tables, frame(0xC2, 4032, 3024)}), "4032x3024"},
      {"arithmetic", jpeg({frame(0xC9, 17, 5)}), "17x5"},
      {"largest", jpeg({frame(0xC1, 65535, 65535)}), "65535x65535"},
      {"fill bytes", jpeg({{0xFF, 0xFF, 0xFF}, frame(0xC0, 10, 20)}), "10x20"},
      {"restart marker", jpeg({{0xFF, 0xD0}, frame(0xC0, 10, 20)}), "10x20"},
      {"scan before a frame", jpeg({tables, scan, frame(0xC0, 10, 20)}), "none"},
      {"end before a frame", jpeg({{0xFF, 0xD9}, frame(0xC0, 10, 20)}), "none"},
      {"cut frame header", cut, "none"},
      {"no marker", jpeg({{0x12, 0x34}, frame(0xC0, 10, 20)}), "none"},
      {"signature only", {0xFF, 0xD8, 0xFF}, "none"},
  };
  for (const Case& c : cases) EXPECT_EQ(frameSize(c.bytes), c.expected) << c.name;
}

}  // namespace
}  // namespace ombri_image
