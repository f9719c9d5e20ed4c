#include "options.hpp"

#include <sys/stat.h>

#include "failure.hpp"

namespace ombri_image {
namespace {

constexpr std::size_t kMaxPathBytes = 16'384;

enum class OptionName { input, output, maxBytes, maxEdge };

OptionName optionName(const std::string& name) {
  if (name == "--input") return OptionName::input;
  if (name == "--output") return OptionName::output;
  if (name == "--max-bytes") return OptionName::maxBytes;
  if (name == "--max-edge") return OptionName::maxEdge;
  throw Failure(ExitStatus::commandLine, "invalid_arguments");
}

}  // namespace

std::uint64_t positiveInteger(const std::filesystem::path& text, std::uint64_t limit) {
  const std::string& digits = text.native();
  if (digits.empty()) throw Failure(ExitStatus::commandLine, "invalid_limit");
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') throw Failure(ExitStatus::commandLine, "invalid_limit");
    const auto digit = static_cast<std::uint64_t>(c - '0');
    // Past the limit is past it whatever follows, so this also guards 64 bits.
    if (digit > limit || value > (limit - digit) / 10) throw Failure(ExitStatus::commandLine, "invalid_limit");
    value = value * 10 + digit;
  }
  if (value < 1) throw Failure(ExitStatus::commandLine, "invalid_limit");
  return value;
}

void validatePath(const std::filesystem::path& path) {
  const std::string& bytes = path.native();
  if (bytes.empty() || bytes.front() != '/' || bytes.size() > kMaxPathBytes)
    throw Failure(ExitStatus::commandLine, "invalid_path");
  for (unsigned char byte : bytes) {
    if (byte < 0x20) throw Failure(ExitStatus::commandLine, "invalid_path");
  }
}

Options parseOptions(const std::vector<std::filesystem::path>& args) {
  Options options;
  if (args.size() != 6 && args.size() != 8) throw Failure(ExitStatus::commandLine, "invalid_arguments");

  bool seen[4] = {false, false, false, false};
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const OptionName name = optionName(args[i].native());
    const std::filesystem::path& value = args[i + 1];
    switch (name) {
      case OptionName::input:
        options.inputPath = value;
        break;
      case OptionName::output:
        options.outputPath = value;
        break;
      case OptionName::maxBytes:
        options.maxBytes = positiveInteger(value, kMaxBudgetBytes);
        break;
      case OptionName::maxEdge:
        options.maxEdge = static_cast<std::uint32_t>(positiveInteger(value, kMaxEdgeLimit));
        break;
    }
    bool& already = seen[static_cast<int>(name)];
    if (already) throw Failure(ExitStatus::commandLine, "duplicate_argument");
    already = true;
  }
  if (!seen[static_cast<int>(OptionName::input)] || !seen[static_cast<int>(OptionName::output)] ||
      !seen[static_cast<int>(OptionName::maxBytes)]) {
    throw Failure(ExitStatus::commandLine, "missing_argument");
  }

  validatePath(options.inputPath);
  validatePath(options.outputPath);
  if (options.inputPath.lexically_normal() == options.outputPath.lexically_normal())
    throw Failure(ExitStatus::commandLine, "same_path");

  // Any entry at all, a dangling link included; a failing lstat leaves the
  // decision to the exclusive create.
  struct stat entry {};
  if (::lstat(options.outputPath.c_str(), &entry) == 0) throw Failure(ExitStatus::fileSystem, "output_exists");
  return options;
}

}  // namespace ombri_image
