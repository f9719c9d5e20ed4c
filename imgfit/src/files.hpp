#pragma once
// The tool's two files: the source, read whole and safely, and the JPEG,
// written and synced under a temporary name in the output's directory, then
// given its final name without replacing anything.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "phase_timings.hpp"

namespace ombri_image {

inline constexpr std::uint64_t kMaxSourceBytes = 25'165'824;

// Owns one POSIX descriptor; the close on destruction ignores its result.
struct Descriptor {
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  int fd = -1;
};

std::vector<std::uint8_t> readSource(const std::filesystem::path& path);

// A failed write or fsync removes the file again, and so does an entry that
// has appeared at `path` ("output_create_failed"); a failed close leaves the
// complete file under its final name.
void writeOutput(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes, PhaseTimings* timings);

}  // namespace ombri_image
