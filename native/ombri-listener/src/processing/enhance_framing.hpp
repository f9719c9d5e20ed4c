#pragma once
// The sample path of speech enhancement: input samples to the denoiser's
// 16-bit scale, linear interpolation to 48 kHz in 480-sample frames, and the
// denoised values back to 16-bit integers. Every step is single precision in
// the order written, because the output bytes depend on it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/result.hpp"

namespace ombri {

// An integer sample at `bits` bits per sample (8 to 32): placed at the top of
// 32 bits, then shifted down to 16-bit scale, rounding toward minus infinity.
inline float integer_to_16bit_scale(std::int32_t value, unsigned bits) {
  const unsigned up = bits < 32 ? 32 - bits : 0;
  const auto top = static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)) << up);
  return static_cast<float>(top >> 16);
}

inline float float_to_16bit_scale(float value) { return value * 32768.0f; }

// Clamps first (a NaN becomes -32768), then truncates toward zero.
inline std::int16_t clamp_to_pcm16(float value) {
  const float low = value >= -32768.0f ? value : -32768.0f;
  const float clamped = low <= 32767.0f ? low : 32767.0f;
  return static_cast<std::int16_t>(clamped);
}

// Interpolates a stream of mono samples at any rate to 48 kHz and gathers the
// result into frames of exactly 480 samples. The phase is accumulated, never
// recomputed from an index, so the count per input pair follows the rounding
// of the running sum.
class FrameUpsampler {
 public:
  static constexpr std::size_t kFrameSamples = 480;
  using Frame = std::span<const float, kFrameSamples>;

  explicit FrameUpsampler(std::uint32_t sample_rate) : step_(sample_rate / 48000.0) {}

  // Emits the output samples between the previous input sample and x;
  // on_frame(Frame) runs for every full frame, and its error ends the push.
  template <class OnFrame>
  Result<void> push_sample(float x, OnFrame&& on_frame) {
    if (!primed_) {
      prev_ = x;
      primed_ = true;
      return {};
    }
    const float d = x - prev_;
    while (t_ < 1.0) {
      pending_[count_++] = prev_ + d * static_cast<float>(t_);
      if (count_ == kFrameSamples) {
        count_ = 0;
        if (auto done = on_frame(Frame(pending_)); !done) return done;
      }
      t_ += step_;
    }
    t_ -= 1.0;
    prev_ = x;
    return {};
  }

  // Zero-fills a partly filled frame and emits it; an empty one emits nothing.
  template <class OnFrame>
  Result<void> finish(OnFrame&& on_frame) {
    if (count_ == 0) return {};
    for (std::size_t i = count_; i < kFrameSamples; ++i) pending_[i] = 0.0f;
    count_ = 0;
    return on_frame(Frame(pending_));
  }

 private:
  double step_;
  double t_ = 0.0;
  float prev_ = 0.0f;
  bool primed_ = false;
  std::size_t count_ = 0;
  std::array<float, kFrameSamples> pending_{};
};

}  // namespace ombri
