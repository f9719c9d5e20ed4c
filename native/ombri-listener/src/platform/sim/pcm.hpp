#pragma once
// The linear PCM sample types a stream description can name, and how the
// simulated hardware encodes its float signals into them.

#include <cstddef>
#include <span>

#include "platform/hal_types.hpp"

namespace ombri::platform {

enum class PcmKind { F32, F64, I16, I32, U16, Other };

// Native-endian packed linear PCM of one of the five types; anything else is Other.
PcmKind pcm_kind(const hal::AudioStreamBasicDescription& format);

// A description of packed interleaved native-endian linear PCM.
hal::AudioStreamBasicDescription pcm_format(double sample_rate, std::uint32_t channels, PcmKind kind);

// Writes the samples in the description's type: floats as they are, integers
// from x * 2^(bits-1) rounded to nearest and saturated (NaN gives 0), unsigned
// 16-bit offset by 32768. An Other format gets zero bytes, mBytesPerFrame per
// frame. `out` holds samples.size() / channels frames.
void encode_pcm(std::span<const float> samples, const hal::AudioStreamBasicDescription& format, void* out);

std::size_t pcm_bytes(std::size_t samples, const hal::AudioStreamBasicDescription& format);

}  // namespace ombri::platform
