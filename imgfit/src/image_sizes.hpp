#pragma once

#include <cstdint>

namespace ombri_image {

// What a codec knows of the picture: its size as stored, after its
// orientation, and of the last render (0 before the first).
struct ImageSizes {
  std::uint32_t sourceWidth = 0;
  std::uint32_t sourceHeight = 0;
  std::uint32_t displayWidth = 0;
  std::uint32_t displayHeight = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

}  // namespace ombri_image
