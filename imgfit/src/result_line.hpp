#pragma once
// The one line a run prints: the result on standard output, or the error
// on standard error. Members stand in a fixed order, not sorted.

#include <cstdint>
#include <ostream>

#include "failure.hpp"
#include "image_sizes.hpp"
#include "phase_timings.hpp"

namespace ombri_image {

// Takes the peak resident size from a resource sample made while writing,
// so it covers everything up to the report.
void writeResultLine(std::ostream& out, const ImageSizes& sizes, std::uint64_t bytes, const PhaseTimings& timings);

// ExitStatus::unsupported is "unsupported"; every other failure is "error".
void writeErrorLine(std::ostream& out, ExitStatus exitStatus, const char* code);

}  // namespace ombri_image
