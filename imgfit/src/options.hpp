#pragma once
// The command line: four named options, checked in a fixed order so the
// first failing check decides the code.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace ombri_image {

inline constexpr std::uint64_t kMaxBudgetBytes = 25'165'824;
inline constexpr std::uint32_t kMaxEdgeLimit = 8192;
inline constexpr std::uint32_t kDefaultMaxEdge = 1800;

struct Options {
  std::filesystem::path inputPath;
  std::filesystem::path outputPath;
  std::uint64_t maxBytes = 0;
  std::uint32_t maxEdge = kDefaultMaxEdge;
};

Options parseOptions(const std::vector<std::filesystem::path>& args);

// Decimal digits only, 1 to `limit`.
std::uint64_t positiveInteger(const std::filesystem::path& text, std::uint64_t limit);

void validatePath(const std::filesystem::path& path);

}  // namespace ombri_image
