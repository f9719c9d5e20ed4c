#pragma once
// Finds where something audible happens in a WAV file, by energy alone:
// 250 ms windows, a level or peak threshold, and runs of voiced windows
// joined into chunks of at most about 12 seconds.

#include <cstdint>
#include <string>
#include <vector>

#include "result.hpp"

namespace ombri {

struct WavChunk {
  double start_time = 0;  // seconds
  double end_time = 0;    // seconds, greater than start_time
  double rms = 0;         // of the normalised samples, all channels
  float peak = 0;         // largest absolute normalised sample
};

struct WavProbe {
  std::vector<WavChunk> chunks;
  double duration_seconds = 0;
  float peak = 0;
};

// The samples (of all channels) of one 250 ms window.
struct EnergyWindow {
  std::uint64_t count = 0;
  double sum_sq = 0;
  float peak = 0;
};

Result<WavProbe> probe_wav(const std::string& path);

bool is_voiced(const EnergyWindow& window);

// Joins voiced windows (bridging single silent ones) into chunks of at most
// 48 windows; chunk ends are cut at the file's duration.
std::vector<WavChunk> chunks_from_windows(const std::vector<EnergyWindow>& windows, double duration_seconds);

}  // namespace ombri
