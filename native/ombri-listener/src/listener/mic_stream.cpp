#include "listener/mic_stream.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "wav/pcm16_sample.hpp"

namespace ombri {

void write_pcm_sample(const SharedWavWriter& writer, std::int16_t sample) {
  auto slot = writer->lock();
  if (slot.poisoned() || !*slot) return;
  (void)(*slot)->write_sample(sample);
}

MicSample mic_sample(float sample) {
  // NaN passes the clamp, and its level raises no peak.
  return {std::fabs(std::clamp(sample, -1.0f, 1.0f)), pcm16_from_float(sample)};
}

MicSample mic_sample(std::int16_t sample) { return {std::fabs(static_cast<float>(sample) / 32767.0f), sample}; }

MicSample mic_sample(std::uint16_t sample) {
  const int centred = static_cast<int>(sample) - 32768;
  return {std::min(static_cast<float>(std::abs(centred)) / 32768.0f, 1.0f), static_cast<std::int16_t>(centred)};
}

template <class T>
audio_io::InputCallback<T> mic_audio_callback(SharedWavWriter writer, std::shared_ptr<LevelHub> levels) {
  return [writer = std::move(writer), levels = std::move(levels)](std::span<const T> samples) {
    float peak = 0.0f;
    for (const T sample : samples) {
      const MicSample converted = mic_sample(sample);
      if (converted.level > peak) peak = converted.level;  // false for NaN
      write_pcm_sample(writer, converted.pcm);
    }
    levels->report(false, peak);
  };
}

template audio_io::InputCallback<float> mic_audio_callback(SharedWavWriter, std::shared_ptr<LevelHub>);
template audio_io::InputCallback<std::int16_t> mic_audio_callback(SharedWavWriter, std::shared_ptr<LevelHub>);
template audio_io::InputCallback<std::uint16_t> mic_audio_callback(SharedWavWriter, std::shared_ptr<LevelHub>);

void report_mic_stream_error(const audio_io::StreamError& error) {
  // One write for the whole line; a failure to write it changes nothing.
  const std::string line = fmt::format("ombri-listener mic stream error: {}\n", error.message);
  (void)std::fwrite(line.data(), 1, line.size(), stderr);
}

namespace {

template <class T>
Result<audio_io::Stream> build_typed(const audio_io::Device& device, const audio_io::SupportedStreamConfig& config,
                                     SharedWavWriter writer, std::shared_ptr<LevelHub> levels, const char* type) {
  auto stream = device.build_input_stream<T>({config.channels, config.sample_rate},
                                             mic_audio_callback<T>(std::move(writer), std::move(levels)),
                                             report_mic_stream_error);
  if (!stream) return ErrorText{fmt::format("Failed to build {} mic stream: {}", type, stream.error())};
  return stream;
}

}  // namespace

Result<audio_io::Stream> build_mic_stream(const audio_io::Device& device, const audio_io::SupportedStreamConfig& config,
                                          SharedWavWriter writer, std::shared_ptr<LevelHub> levels) {
  switch (config.sample_format) {
    case audio_io::SampleFormat::F32:
      return build_typed<float>(device, config, std::move(writer), std::move(levels), "f32");
    case audio_io::SampleFormat::I16:
      return build_typed<std::int16_t>(device, config, std::move(writer), std::move(levels), "i16");
    case audio_io::SampleFormat::U16:
      return build_typed<std::uint16_t>(device, config, std::move(writer), std::move(levels), "u16");
    default:
      return ErrorText{
          fmt::format("Unsupported microphone sample format: {}", audio_io::sample_format_name(config.sample_format))};
  }
}

}  // namespace ombri
