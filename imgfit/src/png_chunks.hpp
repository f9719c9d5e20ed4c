#pragma once
// What imgfit reads of a PNG's chunk list itself, before any decoder sees the
// file: whether every chunk lies within the file, the size that the header
// declares, and how many pictures the file holds.

#include <cstdint>
#include <optional>
#include <vector>

#include "image_geometry.hpp"

namespace ombri_image {

struct PngChunks {
  // The IHDR chunk's width and height, when IHDR is the first chunk.
  std::optional<PixelSize> declaredSize;
  // 1 for a still picture. An animation control chunk before the image data
  // declares its frame count, and the image data is one more picture unless a
  // frame control chunk before it makes it the first frame; a count of 0 is
  // no valid animation and stays 0.
  std::uint64_t images = 1;
};

// Walks the chunks of `png`, which begins with the PNG signature, up to IEND
// or the end of the data, in time proportional to its size. A chunk whose
// declared length passes the end of the data is refused here with
// "image_decode_failed": a decoder would first try to allocate that length.
PngChunks readPngChunks(const std::vector<std::uint8_t>& png);

}  // namespace ombri_image
