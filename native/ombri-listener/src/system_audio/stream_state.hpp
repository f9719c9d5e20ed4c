#pragma once
// The live chunks of one capture: the tap's frames mixed to mono, resampled
// to 24 kHz 16-bit and sent as "systemAudioChunk" events of 250 ms. Used by
// the drain thread only.

#include <cstdint>
#include <vector>

#include "system_audio/linear_resampler.hpp"
#include "system_audio/stream_sink.hpp"
#include "wav/frame_mixer.hpp"

namespace ombri {

inline constexpr std::uint32_t kChunkRate = 24000;
inline constexpr std::size_t kChunkFlushSamples = 6000;

struct StreamState {
  StreamState(StreamSink sink, std::uint32_t tap_rate, std::uint16_t tap_channels);

  // Feeds one tap sample, in the tap's interleaving; each frame it completes
  // goes to the resampler as the mean of its channels. Sends a chunk once
  // 6000 or more samples are pending.
  void add(float sample);

  // Sends the pending samples as one chunk (nothing when none are pending) and
  // empties `pending`, keeping its capacity.
  void flush();

  StreamSink sink;
  std::vector<std::int16_t> pending;
  LinearResampler resampler;  // at the tap's frame rate
  FrameMixer mixer;           // carries a frame that a batch ends inside
};

}  // namespace ombri
