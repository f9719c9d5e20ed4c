#pragma once
// A small RIFF/WAVE reader for the simulated world: a WAV file becomes the
// signal a device or tap plays, and the afplay stand-in learns a file's length.

#include <cstdint>
#include <string>
#include <vector>

#include "result.hpp"

namespace ombri::sim {

struct WavSamples {
  std::uint16_t channels = 0;
  std::uint32_t sample_rate = 0;
  std::vector<float> samples;  // interleaved, integers scaled by 2^-(bits-1)

  double duration_seconds() const;
};

// Integer PCM of 8, 16, 24 or 32 bits and 32-bit float, plain or extensible.
Result<WavSamples> read_wav_samples(const std::string& path);

}  // namespace ombri::sim
