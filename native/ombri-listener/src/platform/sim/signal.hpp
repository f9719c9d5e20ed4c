#pragma once
// What a simulated device's input or a tap delivers.

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/result.hpp"

namespace ombri::sim {

struct Silence {};

// The same sine on every channel: amplitude * sin(2 pi frequency t).
struct Tone {
  double frequency = 440.0;
  double amplitude = 0.25;
};

// Interleaved samples as the test chose them (NaN and values past +-1
// included), played once and then silence, or over and over.
struct Samples {
  std::vector<float> values;
  bool loop = false;
};

using Signal = std::variant<Silence, Tone, Samples>;

// A WAV file's samples, interleaved as the file has them.
Result<Signal> wav_signal(const std::string& path, bool loop);

// Where one reader of a signal stands; each running IO proc has its own.
class SignalCursor {
 public:
  // Fills `out` (whole frames of `channels` samples) and moves on.
  void fill(const Signal& signal, std::uint64_t generation, double sample_rate, std::uint32_t channels,
            std::span<float> out);

 private:
  std::uint64_t generation_ = 0;
  std::uint64_t frame_ = 0;
  std::size_t position_ = 0;
};

}  // namespace ombri::sim
