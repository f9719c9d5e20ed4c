#pragma once
// The picture size that a JPEG's frame header declares, read by imgfit
// itself so the size limits are judged before any decoder sees the file.

#include <cstdint>
#include <optional>
#include <vector>

#include "image_geometry.hpp"

namespace ombri_image {

// Walks the marker segments of `jpeg`, which begins with the JPEG signature,
// to the first frame header (SOF0 to SOF15, the table and arithmetic-coding
// markers excepted) and returns its width and height. Empty when the stream
// ends, breaks off or reaches its scan data before one: the decoder then
// decides. Steps over segments without reading them.
std::optional<PixelSize> jpegFrameSize(const std::vector<std::uint8_t>& jpeg);

}  // namespace ombri_image
