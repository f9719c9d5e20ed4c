#pragma once
// The one line a run prints: the result on standard output, or the error
// on standard error. Members stand in a fixed order, not sorted.

#include <cstdint>
#include <ostream>

#include "phase_timings.hpp"

namespace ombri_image {

struct ImageSizes {
  std::uint32_t sourceWidth = 0;
  std::uint32_t sourceHeight = 0;
  std::uint32_t displayWidth = 0;
  std::uint32_t displayHeight = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Takes the peak resident size from a resource sample made while writing,
// so it covers everything up to the report.
void writeResultLine(std::ostream& out, const ImageSizes& sizes, std::uint64_t bytes, const PhaseTimings& timings);

// Exit status 3 is "unsupported"; every other failure is "error".
void writeErrorLine(std::ostream& out, int exitStatus, const char* code);

}  // namespace ombri_image
