#include "jpeg_frame.hpp"

namespace ombri_image {
namespace {

constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kEndOfImage = 0xD9;

bool isFrameHeader(std::uint8_t marker) {
  // C4 defines Huffman tables, C8 is reserved, CC defines arithmetic conditioning.
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: TEM, RST0 to RST7, SOI.
bool standsAlone(std::uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8); }

std::uint32_t bigEndian16(const std::uint8_t* bytes) { return std::uint32_t{bytes[0]} << 8 | bytes[1]; }

}  // namespace

std::optional<PixelSize> jpegFrameSize(const std::vector<std::uint8_t>& jpeg) {
  std::size_t at = 2;  // past SOI
  while (at < jpeg.size()) {
    if (jpeg[at] != 0xFF) return std::nullopt;
    // Any number of fill bytes may come before a marker.
    while (at < jpeg.size() && jpeg[at] == 0xFF) ++at;
    if (at >= jpeg.size()) return std::nullopt;
    const std::uint8_t marker = jpeg[at++];
    if (standsAlone(marker)) continue;
    if (marker == kStartOfScan || marker == kEndOfImage || jpeg.size() - at < 2) return std::nullopt;
    const std::size_t length = bigEndian16(&jpeg[at]);
    if (length < 2 || length > jpeg.size() - at) return std::nullopt;
    if (isFrameHeader(marker)) {
      // Precision, height, width.
      if (length < 7) return std::nullopt;
      return PixelSize{bigEndian16(&jpeg[at + 5]), bigEndian16(&jpeg[at + 3])};
    }
    at += length;
  }
  return std::nullopt;
}

}  // namespace ombri_image
