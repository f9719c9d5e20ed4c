#pragma once
// The audio format object made from a stream description, as the system
// audio capture reads it.

#include <cstdint>
#include <optional>

#include "platform/hal_types.hpp"

namespace ombri::av {

enum AVAudioCommonFormat : std::uint64_t {
  AVAudioOtherFormat = 0,
  AVAudioPCMFormatFloat32 = 1,
  AVAudioPCMFormatFloat64 = 2,
  AVAudioPCMFormatInt16 = 3,
  AVAudioPCMFormatInt32 = 4,
};

class AudioFormat {
 public:
  // Nothing when the description is unusable: a rate that is not a positive
  // finite number, no channels, no format id, or linear PCM of 0 bits.
  static std::optional<AudioFormat> with_stream_description(const hal::AudioStreamBasicDescription& description);

  // Native-endian packed linear PCM of float 32/64 or signed 16/32 bits; other otherwise.
  AVAudioCommonFormat common_format() const;

 private:
  explicit AudioFormat(const hal::AudioStreamBasicDescription& description) : description_(description) {}
  hal::AudioStreamBasicDescription description_;
};

}  // namespace ombri::av
