#pragma once
// The size rules every codec keeps: the source's limits, the display size
// after orientation, and the exact size of a render at a given edge.

#include <cstdint>
#include <optional>

namespace ombri_image {

inline constexpr std::int64_t kMaxSourcePixels = 64'000'000;

struct PixelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

// Sides below 1 are missing metadata; the side limit comes before the area limit.
PixelSize checkedSourceSize(std::int64_t width, std::int64_t height);

// A missing orientation, or one that is not a number, is 1.
int checkedOrientation(std::optional<std::int64_t> orientation);

// Orientations 5 to 8 turn the picture a quarter, exchanging its sides.
PixelSize displaySize(PixelSize source, int orientation);

// The longer side becomes exactly `edge` (never larger than the display
// size); the other is cut to its integer part, at least 1.
PixelSize targetSize(PixelSize display, std::uint32_t edge);

}  // namespace ombri_image
