#pragma once
// Where one run spends its time, filled by the phases as they go.

#include <chrono>
#include <cstdint>
#include <optional>

namespace ombri_image {

struct CpuTimes {
  double userCpuMs = 0;
  double systemCpuMs = 0;
};

struct PhaseTimings {
  double readMs = 0;
  double metadataMs = 0;
  double renderMs = 0;
  double encodeMs = 0;
  double writeMs = 0;
  double flushMs = 0;
  double totalMs = 0;
  std::uint32_t renderAttempts = 0;
  std::uint32_t encodeAttempts = 0;
  std::optional<CpuTimes> cpu;
};

using Clock = std::chrono::steady_clock;

inline double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()) / 1'000'000.0;
}

}  // namespace ombri_image
