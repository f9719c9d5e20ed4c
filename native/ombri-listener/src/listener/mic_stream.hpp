#pragma once
// The microphone input stream of a capture: its data callbacks turn every
// buffer into 16-bit samples for "audio-mic.wav" and report the buffer's
// peak to the session's LevelHub; its error callback prints the stream's
// errors, device loss included, on standard error.
//
// The data callbacks run on the device's IO thread, one buffer at a time.
// They take the writer's lock once per sample, so the stop side can take the
// writer out between any two samples, and the hub's lock once per buffer,
// never both at once.

#include <cstdint>
#include <memory>

#include "base/result.hpp"
#include "platform/audio_io.hpp"
#include "protocol/level_hub.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {

// Writes one sample unless the lock is poisoned or the writer has been taken
// out; then, like on a failed write, the sample is dropped without a word.
void write_pcm_sample(const SharedWavWriter& writer, std::int16_t sample);

// What one delivered sample becomes: its level (never negative; NaN for a
// float NaN, which raises no peak) and the 16-bit sample written.
struct MicSample {
  float level;
  std::int16_t pcm;
};
MicSample mic_sample(float sample);
MicSample mic_sample(std::int16_t sample);
MicSample mic_sample(std::uint16_t sample);

// The data callback for samples of type T (float, int16_t or uint16_t): every
// sample into `writer`, then one report of the buffer's peak, empty buffers included.
template <class T>
audio_io::InputCallback<T> mic_audio_callback(SharedWavWriter writer, std::shared_ptr<LevelHub> levels);

// Prints "ombri-listener mic stream error: {}" and does nothing else.
void report_mic_stream_error(const audio_io::StreamError& error);

// Builds the running input stream on `device` with its default configuration
// and the callbacks of its sample type. Fails with "Unsupported microphone
// sample format: {}" or "Failed to build f32 mic stream: {}" (i16, u16 alike).
Result<audio_io::Stream> build_mic_stream(const audio_io::Device& device, const audio_io::SupportedStreamConfig& config,
                                          SharedWavWriter writer, std::shared_ptr<LevelHub> levels);

}  // namespace ombri
