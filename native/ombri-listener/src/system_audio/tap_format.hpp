#pragma once
// Reading a process tap's stream format, and the rate and channel count that
// the capture derives from it.

#include <cstdint>

#include "platform/hal_types.hpp"

namespace ombri {

// The tap's 'tfmt' property (global scope, main element).
hal::OSStatus read_tap_format(hal::AudioObjectID tap, hal::AudioStreamBasicDescription& format);

// Rounded to the nearest integer (halves away from zero), at least 1; a value
// too large saturates and a NaN gives 1.
std::uint32_t tap_rate(double sample_rate);

// At least 1; a count too large saturates.
std::uint16_t tap_channels(std::uint32_t channels_per_frame);

}  // namespace ombri
