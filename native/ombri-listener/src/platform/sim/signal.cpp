#include "platform/sim/signal.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "wav/wav_reader.hpp"

namespace ombri::sim {

namespace {

// Integer samples scaled by 2^-(bits-1) into [-1, 1); float samples as they are.
Result<std::vector<float>> wav_values(WavReader& wav) {
  std::vector<float> values(wav.total_samples());
  if (wav.format().sample_format == WavSampleFormat::ieee_float) {
    auto read = wav.read_samples(std::span<float>(values));
    if (!read) return ErrorText{read.error()};
    values.resize(*read);
    return values;
  }
  std::vector<std::int32_t> integers(values.size());
  auto read = wav.read_samples(std::span<std::int32_t>(integers));
  if (!read) return ErrorText{read.error()};
  values.resize(*read);
  const double scale = std::ldexp(1.0, 1 - wav.format().bits_per_sample);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(integers[i] * scale);
  return values;
}

}  // namespace

Result<Signal> wav_signal(const std::string& path, bool loop) {
  auto wav = WavReader::open(path);
  if (!wav) return ErrorText{path + ": " + wav.error()};
  auto values = wav_values(*wav);
  if (!values) return ErrorText{path + ": " + values.error()};
  return Signal{Samples{std::move(*values), loop}};
}

void SignalCursor::fill(const Signal& signal, std::uint64_t generation, double sample_rate, std::uint32_t channels,
                        std::span<float> out) {
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
