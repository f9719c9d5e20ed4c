#pragma once

#include <cstdint>
#include <vector>

namespace ombri_image {

// Admits a source that begins with the JPEG or the PNG signature; the
// decoder still detects the type itself.
void checkFormat(const std::vector<std::uint8_t>& source);

}  // namespace ombri_image
