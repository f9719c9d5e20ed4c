#include "platform/av.hpp"

#include <cmath>

#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"

namespace ombri::av {

std::optional<AudioFormat> AudioFormat::with_stream_description(const hal::AudioStreamBasicDescription& d) {
  if (sim::audio_world().take_fault(sim::Call::AudioFormatInit)) return std::nullopt;
  const bool usable = std::isfinite(d.mSampleRate) && d.mSampleRate > 0.0 && d.mChannelsPerFrame > 0 &&
                      d.mFormatID != 0 && !(d.mFormatID == hal::kAudioFormatLinearPCM && d.mBitsPerChannel == 0);
  if (!usable) return std::nullopt;
  return AudioFormat(d);
}

AVAudioCommonFormat AudioFormat::common_format() const {
  switch (platform::pcm_kind(description_)) {
    case platform::PcmKind::F32:
      return AVAudioPCMFormatFloat32;
    case platform::PcmKind::F64:
      return AVAudioPCMFormatFloat64;
    case platform::PcmKind::I16:
      return AVAudioPCMFormatInt16;
    case platform::PcmKind::I32:
      return AVAudioPCMFormatInt32;
    default:
      return AVAudioOtherFormat;
  }
}

}  // namespace ombri::av
