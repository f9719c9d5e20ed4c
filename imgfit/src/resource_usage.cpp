#include "resource_usage.hpp"

#include <sys/resource.h>

namespace ombri_image {
namespace {

double milliseconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_usec) / 1000.0;
}

// macOS reports ru_maxrss in bytes, Linux in KiB.
#ifdef __APPLE__
constexpr std::uint64_t kMaxRssUnitBytes = 1;
#else
constexpr std::uint64_t kMaxRssUnitBytes = 1024;
#endif

}  // namespace

std::optional<ResourceSample> sampleResourceUsage() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return std::nullopt;
  return ResourceSample{milliseconds(usage.ru_utime), milliseconds(usage.ru_stime),
                        static_cast<std::uint64_t>(usage.ru_maxrss) * kMaxRssUnitBytes};
}

}  // namespace ombri_image
