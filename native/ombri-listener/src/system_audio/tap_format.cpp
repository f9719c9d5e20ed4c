#include "system_audio/tap_format.hpp"

#include <algorithm>
#include <cmath>

#include "platform/hal.hpp"

namespace ombri {

hal::OSStatus read_tap_format(hal::AudioObjectID tap, hal::AudioStreamBasicDescription& format) {
  return hal::get_property_data(
      tap, {hal::kAudioTapPropertyFormat, hal::kAudioObjectPropertyScopeGlobal, hal::kAudioObjectPropertyElementMain},
      format);
}

std::uint32_t tap_rate(double sample_rate) {
  const double rounded = std::round(sample_rate);
  if (!(rounded >= 1.0)) return 1;
  if (rounded >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(rounded);
}

std::uint16_t tap_channels(std::uint32_t channels_per_frame) {
  return static_cast<std::uint16_t>(std::clamp<std::uint32_t>(channels_per_frame, 1, 0xFFFF));
}

}  // namespace ombri
