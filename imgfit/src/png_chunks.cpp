#include "png_chunks.hpp"

#include <cstring>

#include "failure.hpp"

namespace ombri_image {
namespace {

constexpr std::size_t kSignatureBytes = 8;
// Length and type before the data, CRC after it.
constexpr std::size_t kChunkOverheadBytes = 12;
constexpr std::size_t kHeaderDataBytes = 13;

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

bool isType(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

}  // namespace

PngChunks readPngChunks(const std::vector<std::uint8_t>& png) {
  PngChunks chunks;
  std::optional<std::uint32_t> frames;
  bool frameBeforeImage = false;
  bool imageSeen = false;
  for (std::size_t at = kSignatureBytes; at < png.size();) {
    if (png.size() - at < kChunkOverheadBytes) throw Failure(ExitStatus::codecFailed, "image_decode_failed");
    const std::uint64_t length = bigEndian32(&png[at]);
    if (length > png.size() - at - kChunkOverheadBytes) {
      throw Failure(ExitStatus::codecFailed, "image_decode_failed");
    }
    const std::uint8_t* type = &png[at + 4];
    const std::uint8_t* data = &png[at + 8];
    if (at == kSignatureBytes && isType(type, "IHDR") && length >= kHeaderDataBytes) {
      chunks.declaredSize = PixelSize{bigEndian32(data), bigEndian32(data + 4)};
    } else if (isType(type, "IEND")) {
      break;
    } else if (isType(type, "IDAT")) {
      imageSeen = true;
    } else if (!imageSeen && isType(type, "acTL") && length >= 4) {
      // Animation chunks after the image data are not part of an animation.
      frames = bigEndian32(data);
    } else if (!imageSeen && isType(type, "fcTL")) {
      frameBeforeImage = true;
    }
    at += kChunkOverheadBytes + length;
  }
  if (frames) chunks.images = *frames == 0 ? 0 : *frames + (frameBeforeImage ? 0 : 1);
  return chunks;
}

}  // namespace ombri_image
