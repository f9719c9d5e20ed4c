#pragma once
// Samples of the process's own resource usage (getrusage, RUSAGE_SELF).

#include <cstdint>
#include <optional>

namespace ombri_image {

struct ResourceSample {
  double userCpuMs = 0;
  double systemCpuMs = 0;
  std::uint64_t peakResidentBytes = 0;
};

std::optional<ResourceSample> sampleResourceUsage();

}  // namespace ombri_image
