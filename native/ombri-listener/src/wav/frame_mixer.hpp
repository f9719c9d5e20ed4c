#pragma once
// The one way interleaved samples are mixed down to mono: each frame's
// channels summed in channel order in single precision, then divided by
// their number. Fed a sample at a time, so a frame may span two buffers.

#include <cstddef>
#include <optional>

namespace ombri {

class FrameMixer {
 public:
  // `channels` is at least 1; with 1 every sample comes out unchanged.
  explicit FrameMixer(std::size_t channels) : channels_(channels) {}

  // The mean of the frame that `sample` completes, or nothing while the
  // frame still lacks channels.
  std::optional<float> add(float sample) {
    if (channels_ == 1) return sample;
    sum_ += sample;
    if (++count_ < channels_) return std::nullopt;
    return take();
  }

  // The mean of a frame cut short by the end of the samples, if one is.
  std::optional<float> rest() {
    if (count_ == 0) return std::nullopt;
    return take();
  }

 private:
  float take() {
    const float mean = sum_ / static_cast<float>(count_);
    sum_ = 0.0f;
    count_ = 0;
    return mean;
  }

  std::size_t channels_;
  float sum_ = 0.0f;
  std::size_t count_ = 0;
};

}  // namespace ombri
