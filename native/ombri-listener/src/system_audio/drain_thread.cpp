#include "system_audio/drain_thread.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "system_audio/tap_format.hpp"
#include "wav/pcm16_sample.hpp"

namespace ombri {
namespace {

constexpr auto kIdleSleep = std::chrono::milliseconds(20);
constexpr std::uint32_t kFormatRereadBatches = 32;
constexpr float kLiveThreshold = 0.004f;

float batch_peak(std::span<const float> batch) {
  float peak = 0.0f;
  for (const float x : batch)
    if (!std::isnan(x)) peak = std::max(peak, std::fabs(std::clamp(x, -1.0f, 1.0f)));
  return peak;
}

}  // namespace

Drain::Drain(DrainInputs inputs) : in_(std::move(inputs)), batch_(kDrainBatchSamples, 0.0f) {
  if (in_.stream) stream_.emplace(std::move(in_.stream->sink), in_.stream->tap_rate, in_.stream->tap_channels);
  in_.stream.reset();
  wav_samples_.reserve(16384);
}

bool Drain::drain_batch() {
  const std::size_t n = in_.consumer.pop(batch_.data(), batch_.size());
  if (n == 0) return false;
  process(std::span<const float>(batch_.data(), n));
  return true;
}

void Drain::run() {
  for (;;) {
    if (drain_batch()) continue;
    if (in_.stop->load(std::memory_order_acquire)) break;
    std::this_thread::sleep_for(kIdleSleep);
  }
  if (stream_) stream_->flush();  // the last, usually shorter chunk
  stream_.reset();
  in_.tap.reset();
}

void Drain::process(std::span<const float> batch) {
  if (++batches_ % kFormatRereadBatches == 0) reread_tap_rate();
  const float peak = batch_peak(batch);
  if (stream_)
    for (const float x : batch) stream_->add(x);
  write_wav(batch);
  if (peak > kLiveThreshold) in_.live->store(true, std::memory_order_release);
  in_.levels->report(true, peak);
}

// Only the rate can follow a change of the tap's format: the WAV header keeps
// the rate and channel count it was created with.
void Drain::reread_tap_rate() {
  hal::AudioStreamBasicDescription format{};
  if (read_tap_format(in_.tap.get(), format) != hal::kAudioHardwareNoError) return;
  const std::uint32_t rate = tap_rate(format.mSampleRate);
  if (in_.wav_resampler) in_.wav_resampler->set_in_rate(rate);
  if (stream_) stream_->resampler.set_in_rate(rate);
}

// A sample the writer refuses is skipped and the next one written; a
// poisoned lock or a writer already taken loses the batch.
void Drain::write_wav(std::span<const float> batch) {
  if (in_.wav_resampler) {
    wav_samples_.clear();
    for (const float x : batch) in_.wav_resampler->process(std::clamp(x, -1.0f, 1.0f), wav_samples_);
  }
  auto writer = in_.writer->lock();
  if (writer.poisoned() || !writer->has_value()) return;
  if (in_.wav_resampler) {
    for (const std::int16_t s : wav_samples_) (void)(*writer)->write_sample(s);
  } else {
    for (const float x : batch) (void)(*writer)->write_sample(pcm16_from_float(x));
  }
}

std::thread spawn_drain_thread(DrainInputs inputs) {
  return std::thread([drain = Drain(std::move(inputs))]() mutable {
    // A fault (out of memory) ends this thread alone, as its owner expects of
    // a failed thread: finish() still joins it and finalises the WAV, and a
    // fault inside the writer's lock has poisoned that lock for finish() to report.
    try {
      drain.run();
    } catch (...) {
    }
  });
}

}  // namespace ombri
