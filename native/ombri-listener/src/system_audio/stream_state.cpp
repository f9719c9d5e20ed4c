#include "system_audio/stream_state.hpp"

#include <algorithm>
#include <cstdlib>

#include "base/base64.hpp"

namespace ombri {
namespace {

// A chunk is speech when its largest magnitude is above this.
constexpr int kSpeechMagnitude = 59;

bool is_speech(const std::vector<std::int16_t>& samples) {
  for (const std::int16_t s : samples)
    if (std::abs(int{s}) > kSpeechMagnitude) return true;
  return false;
}

std::string pcm_base64(const std::vector<std::int16_t>& samples) {
  std::vector<unsigned char> bytes;
  bytes.reserve(samples.size() * 2);
  for (const std::int16_t s : samples) {
    const auto bits = static_cast<std::uint16_t>(s);
    bytes.push_back(static_cast<unsigned char>(bits));
    bytes.push_back(static_cast<unsigned char>(bits >> 8));
  }
  std::string text;
  append_base64(text, bytes);
  return text;
}

}  // namespace

StreamState::StreamState(StreamSink sink, std::uint32_t tap_rate, std::uint16_t tap_channels)
    : sink(std::move(sink)),
      resampler(LinearResampler::between(std::max(tap_rate, 1u), kChunkRate)),
      mixer(std::max<std::uint16_t>(tap_channels, 1)) {
  pending.reserve(2 * kChunkFlushSamples);
}

void StreamState::add(float sample) {
  const auto frame = mixer.add(sample);
  if (!frame) return;
  resampler.process(*frame, pending);
  if (pending.size() >= kChunkFlushSamples) flush();
}

void StreamState::flush() {
  if (pending.empty()) return;
  sink.event_sender.send(Json{{"type", "systemAudioChunk"},
                              {"sessionId", sink.session_id},
                              {"rate", kChunkRate},
                              {"speech", is_speech(pending)},
                              {"pcm", pcm_base64(pending)}});
  pending.clear();
}

}  // namespace ombri
