#pragma once
// The audio side of transcription: any WAV file the reader takes, as the
// mono 16 kHz float buffer whisper.cpp wants. Single precision throughout,
// in the order written, so the buffer is the same on every machine.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.hpp"

namespace ombri {

// The longest buffer handed to whisper.cpp: 24 hours at 16 kHz (5.5 GB of
// floats). Longer than a WAV file at 44.1 or 48 kHz can hold, below
// whisper.cpp's signed 32-bit sample count, and what keeps a tiny header rate
// from asking for an absurd buffer.
inline constexpr std::uint64_t kMaxTranscriptionSamples = 16000ull * 60 * 60 * 24;

// The whole file as mono 16 kHz samples, nominally in [-1, 1] (not clamped).
Result<std::vector<float>> read_wav_mono_16k(const std::string& path);

// The largest sample size handed to whisper.cpp: far past any audio level,
// and small enough that its spectrogram cannot overflow single precision.
inline constexpr float kMaxWhisperSample = 1e9f;

// Sets to 0 every sample that is not a finite number or whose size passes
// kMaxWhisperSample: whisper.cpp would otherwise compute on infinities and
// not-a-numbers and decode for hours instead of seconds.
void zero_unusable_samples(std::span<float> samples);

// One value per frame of `channels` samples: their single-precision sum
// divided by the number of samples the frame has (a short last frame too).
std::vector<float> interleaved_mono(std::span<const float> samples, std::size_t channels);

// The 16 kHz length linear_resample gives for `samples` at `source_rate`.
std::uint64_t resampled_length(std::uint64_t samples, std::uint32_t source_rate);

// Linear interpolation at positions i * rate / 16000; a rate of 0 counts as
// 1 for the length and repeats the first sample.
std::vector<float> linear_resample(std::span<const float> samples, std::uint32_t source_rate);

}  // namespace ombri
