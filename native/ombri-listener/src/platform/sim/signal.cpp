#include "platform/sim/signal.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/sim/wav_samples.hpp"

namespace ombri::sim {

Result<Signal> wav_signal(const std::string& path, bool loop) {
  auto wav = read_wav_samples(path);
  if (!wav) return ErrorText{wav.error()};
  return Signal{Samples{std::move(wav->samples), loop}};
}

void SignalCursor::fill(const Signal& signal, std::uint64_t generation, double sample_rate,
                        std::uint32_t channels, std::span<float> out) {
  if (generation != generation_) {
    generation_ = generation;
    frame_ = 0;
    position_ = 0;
  }
  const std::size_t frames = channels ? out.size() / channels : 0;
  if (const auto* tone = std::get_if<Tone>(&signal)) {
    for (std::size_t f = 0; f < frames; ++f, ++frame_) {
      const double t = static_cast<double>(frame_) / sample_rate;
      const auto value = static_cast<float>(tone->amplitude * std::sin(2.0 * std::numbers::pi * tone->frequency * t));
      std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(f * channels), channels, value);
    }
    return;
  }
  if (const auto* samples = std::get_if<Samples>(&signal)) {
    const auto& values = samples->values;
    for (float& slot : out) {
      if (position_ >= values.size() && samples->loop && !values.empty()) position_ = 0;
      slot = position_ < values.size() ? values[position_++] : 0.0f;
    }
    return;
  }
  std::fill(out.begin(), out.end(), 0.0f);
}

}  // namespace ombri::sim
