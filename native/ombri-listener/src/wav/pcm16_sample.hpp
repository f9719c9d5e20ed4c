#pragma once
// The one way a float sample becomes a 16-bit one in every recording.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ombri {

// Clamped to [-1, 1], scaled by 32767 in single precision and truncated
// toward zero, so -1 gives -32767, never -32768; NaN gives 0.
inline std::int16_t pcm16_from_float(float sample) {
  const float scaled = std::clamp(sample, -1.0f, 1.0f) * 32767.0f;
  if (std::isnan(scaled)) return 0;
  return static_cast<std::int16_t>(scaled);
}

}  // namespace ombri
