#include "png_animation.hpp"

#include <cstring>

namespace ombri_image {
namespace {

constexpr std::size_t kSignatureBytes = 8;
// Length and type before the data, CRC after it.
constexpr std::size_t kChunkOverheadBytes = 12;

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

bool declaresAnimation(const std::vector<std::uint8_t>& png) {
  std::size_t at = kSignatureBytes;
  while (at + kChunkOverheadBytes <= png.size()) {
    const std::uint64_t length = bigEndian32(&png[at]);
    const char* type = reinterpret_cast<const char*>(&png[at + 4]);
    if (std::memcmp(type, "acTL", 4) == 0) return true;
    if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) return false;
    if (length > png.size() - at - kChunkOverheadBytes) return false;
    at += kChunkOverheadBytes + length;
  }
  return false;
}

}  // namespace ombri_image
