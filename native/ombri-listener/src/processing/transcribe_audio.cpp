#include "processing/transcribe_audio.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "wav/frame_mixer.hpp"
#include "wav/wav_reader.hpp"

namespace ombri {
namespace {

constexpr std::uint32_t kWhisperRate = 16000;

// Appends every sample of the reader, each as convert(sample); the first
// sample that fails ends the read with the reader's text.
template <class Sample, class Convert>
Result<void> read_all(WavReader& reader, std::vector<float>& out, Convert convert) {
  std::array<Sample, 4096> block;
  for (;;) {
    auto got = reader.read_samples(std::span<Sample>(block));
    if (!got) return ErrorText{got.error()};
    if (*got == 0) return {};
    for (std::size_t i = 0; i < *got; ++i) out.push_back(convert(block[i]));
  }
}

}  // namespace

void zero_unusable_samples(std::span<float> samples) {
  // A not-a-number fails the comparison, so it is replaced too.
  for (float& sample : samples)
    if (!(std::fabs(sample) <= kMaxWhisperSample)) sample = 0.0f;
}

std::vector<float> interleaved_mono(std::span<const float> samples, std::size_t channels) {
  std::vector<float> mono;
  mono.reserve((samples.size() + channels - 1) / channels);
  FrameMixer mixer(channels);
  for (const float sample : samples)
    if (const auto mean = mixer.add(sample)) mono.push_back(*mean);
  if (const auto mean = mixer.rest()) mono.push_back(*mean);
  return mono;
}

std::uint64_t resampled_length(std::uint64_t samples, std::uint32_t source_rate) {
  const std::uint64_t rate = source_rate == 0 ? 1 : source_rate;
  return samples * kWhisperRate / rate;
}

std::vector<float> linear_resample(std::span<const float> samples, std::uint32_t source_rate) {
  const std::size_t n = samples.size();
  const auto m = static_cast<std::size_t>(resampled_length(n, source_rate));
  std::vector<float> out;
  if (m == 0) return out;
  out.resize(m);
  const double ratio = static_cast<double>(source_rate) / 16000.0;
  for (std::size_t i = 0; i < m; ++i) {
    const double pos = static_cast<double>(i) * ratio;
    const auto k = static_cast<std::size_t>(std::floor(pos));
    const std::size_t k2 = std::min(k + 1, n - 1);
    const auto frac = static_cast<float>(pos - static_cast<double>(k));
    out[i] = samples[k] + (samples[k2] - samples[k]) * frac;
  }
  return out;
}

Result<std::vector<float>> read_wav_mono_16k(const std::string& path) {
  std::vector<float> samples;
  WavFormat format;
  {
    auto reader = WavReader::open(path);
    if (!reader) return ErrorText{"Could not open transcription audio: " + reader.error()};
    format = reader->format();

    // Refused before anything is allocated, from what the header announces.
    const std::uint64_t frames = reader->total_samples() / format.channels;
    const std::uint64_t length =
        format.sample_rate == kWhisperRate ? frames : resampled_length(frames, format.sample_rate);
    if (length > kMaxTranscriptionSamples)
      return ErrorText{"The transcription audio is longer than 24 hours, the most this listener transcribes."};

    samples.reserve(reader->total_samples());
    const float divisor = std::max(1.0f, std::ldexp(1.0f, format.bits_per_sample - 1));
    Result<void> read = format.sample_format == WavSampleFormat::ieee_float
                            ? read_all<float>(*reader, samples, [](float v) { return v; })
                            : read_all<std::int32_t>(*reader, samples, [divisor](std::int32_t v) {
                                return static_cast<float>(v) / divisor;
                              });
    if (!read) return ErrorText{read.error()};
  }

  if (format.channels > 1) samples = interleaved_mono(samples, format.channels);
  if (format.sample_rate == kWhisperRate || samples.empty()) return samples;
  return linear_resample(samples, format.sample_rate);
}

}  // namespace ombri
