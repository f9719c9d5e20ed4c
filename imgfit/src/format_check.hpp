#pragma once

#include <cstdint>
#include <vector>

namespace ombri_image {

enum class SourceFormat { jpeg, png };

// Admits a source that begins with the JPEG or the PNG signature and says
// which; the decoder still detects the type itself.
SourceFormat checkFormat(const std::vector<std::uint8_t>& source);

}  // namespace ombri_image
