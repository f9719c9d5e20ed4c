#pragma once

#include <cstdint>
#include <vector>

namespace ombri_image {

// True for a PNG stream whose chunks before the first image data hold an
// animation control chunk ("acTL"): an animated PNG, several images in one.
bool declaresAnimation(const std::vector<std::uint8_t>& png);

}  // namespace ombri_image
