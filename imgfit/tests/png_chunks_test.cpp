#include "png_chunks.hpp"

#include <gtest/gtest.h>

#include <string>

#include "outcome.hpp"

namespace ombri_image {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// One chunk with a zero CRC (the walk does not check CRCs); `declared`
// overrides the length field.
Bytes chunk(const std::string& type, const Bytes& data, std::optional<std::uint32_t> declared = std::nullopt) {
  Bytes bytes;
  put32(bytes, declared.value_or(static_cast<std::uint32_t>(data.size())));
  bytes.insert(bytes.end(), type.begin(), type.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  put32(bytes, 0);
  return bytes;
}

Bytes words(std::initializer_list<std::uint32_t> values, std::size_t size) {
  Bytes bytes;
  for (const std::uint32_t value : values) put32(bytes, value);
  bytes.resize(size);
  return bytes;
}

Bytes png(std::initializer_list<Bytes> chunks) {
  Bytes bytes = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  for (const Bytes& c : chunks) bytes.insert(bytes.end(), c.begin(), c.end());
  return bytes;
}

std::string walked(const Bytes& bytes) {
  PngChunks chunks;
  const std::string failure = test_support::outcome([&] { chunks = readPngChunks(bytes); });
  if (failure != "ok") return failure;
  std::string text = "images " + std::to_string(chunks.images);
  if (chunks.declaredSize) {
    text += " " + std::to_string(chunks.declaredSize->width) + "x" + std::to_string(chunks.declaredSize->height);
  }
  return text;
}

TEST(PngChunks, ChunksWithinTheFileAndPicturesCounted) {
  const Bytes header = chunk("IHDR", words({300, 200}, 13));
  const Bytes image = chunk("IDAT", Bytes(40, 7));
  const Bytes end = chunk("IEND", {});
  const Bytes firstFrame = chunk("fcTL", Bytes(26));
  const auto animation = [](std::uint32_t frames) { return chunk("acTL", words({frames, 0}, 8)); };
  Bytes cut = png({header, image, end});
  cut.resize(cut.size() - 20);
  Bytes shortTail = png({header, image});
  shortTail.resize(shortTail.size() + 5);

  struct Case {
    const char* name;
    Bytes bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"still", png({header, image, end}), "images 1 300x200"},
      {"no IEND", png({header, image}), "images 1 300x200"},
      {"after IEND", png({header, image, end, chunk("tEXt", {}, 0x7FFFFFFF)}), "images 1 300x200"},
      {"largest side", png({chunk("IHDR", words({64'000'001, 1}, 13)), image, end}), "images 1 64000001x1"},
      {"IHDR not first", png({chunk("gAMA", Bytes(4)), header, image, end}), "images 1"},
      {"short IHDR", png({chunk("IHDR", words({300, 200}, 8)), image, end}), "images 1"},
      // A 30-byte text that claims 2 GiB.
      {"text claims 2 GiB", png({header, chunk("tEXt", Bytes(30, 'x'), 0x7FFFFFFF), image, end}),
       "5 image_decode_failed"},
      {"text one byte long", png({header, chunk("zTXt", Bytes(30), 31), image, end}), "5 image_decode_failed"},
      {"text after the image", png({header, image, chunk("tEXt", Bytes(30), 0xFFFFFFFF)}), "5 image_decode_failed"},
      {"cut in the image data", cut, "5 image_decode_failed"},
      {"cut in a chunk header", shortTail, "5 image_decode_failed"},
      {"animation of two", png({header, animation(2), firstFrame, image, end}), "images 2 300x200"},
      {"animation of one", png({header, animation(1), firstFrame, image, end}), "images 1 300x200"},
      // The image data is a default picture outside the one frame.
      {"one frame beside the image", png({header, animation(1), image, firstFrame, end}), "images 2 300x200"},
      {"animation of none", png({header, animation(0), firstFrame, image, end}), "images 0 300x200"},
      {"animation after the image", png({header, image, animation(2), firstFrame, end}), "images 1 300x200"},
  };
  for (const Case& c : cases) EXPECT_EQ(walked(c.bytes), c.expected) << c.name;
}

}  // namespace
}  // namespace ombri_image
