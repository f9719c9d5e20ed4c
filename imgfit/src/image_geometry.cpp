#include "image_geometry.hpp"

#include <algorithm>

#include "failure.hpp"

namespace ombri_image {

PixelSize checkedSourceSize(std::int64_t width, std::int64_t height) {
  if (width < 1 || height < 1) throw Failure(ExitStatus::codecFailed, "image_metadata_failed");
  if (width > kMaxSourcePixels || height > kMaxSourcePixels || width * height > kMaxSourcePixels) {
    throw Failure(ExitStatus::sourceTooLarge, "source_pixel_limit");
  }
  return {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

int checkedOrientation(std::optional<std::int64_t> orientation) {
  if (!orientation) return 1;
  if (*orientation < 1 || *orientation > 8) throw Failure(ExitStatus::codecFailed, "invalid_orientation");
  return static_cast<int>(*orientation);
}

PixelSize displaySize(PixelSize source, int orientation) {
  if (orientation >= 5) return {source.height, source.width};
  return source;
}

PixelSize targetSize(PixelSize display, std::uint32_t edge) {
  const std::uint64_t longer = std::max(display.width, display.height);
  if (longer <= edge) return display;
  const auto scaled = [&](std::uint32_t side) {
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(std::uint64_t{side} * edge / longer, 1));
  };
  return {scaled(display.width), scaled(display.height)};
}

}  // namespace ombri_image
