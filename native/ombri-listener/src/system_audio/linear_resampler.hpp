#pragma once
// The streaming linear-interpolation rate converter of system audio capture,
// with 16-bit outputs. Single precision throughout, each interpolation a
// rounded multiply followed by a rounded add (the build keeps the compiler
// from fusing them).

#include <cstdint>
#include <optional>
#include <vector>

namespace ombri {

struct LinearResampler {
  // Output k lies at input position k * ratio; the first output is the first input.
  static LinearResampler between(std::uint32_t in_rate, std::uint32_t out_rate);

  // Feeds one input sample and appends, as 16-bit samples, the outputs that
  // fall before it. The newest input waits in `prev` for the next one.
  void process(float x, std::vector<std::int16_t>& output);

  // A new input rate restarts the conversion (no `prev`, phase 0); the same rate changes nothing.
  void set_in_rate(std::uint32_t rate);

  std::optional<float> prev;  // the last input sample
  double ratio;               // in_rate / out_rate
  double phase;               // the next output's position, in input samples after `prev`
  std::uint32_t in_rate;
  std::uint32_t out_rate;
};

}  // namespace ombri
