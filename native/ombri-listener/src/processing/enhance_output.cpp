#include "processing/enhance_output.hpp"

#include <sys/stat.h>

#include <optional>

#include "base/path_status.hpp"
#include "base/staged_file.hpp"
#include "wav/recordings_in_progress.hpp"

namespace ombri {
namespace {

// Which of the listener's standard streams the file is, if any.
const char* standard_stream(const struct stat& file) {
  static constexpr const char* kNames[] = {"standard input", "standard output", "standard error"};
  for (int fd = 0; fd < 3; ++fd) {
    struct stat stream {};
    if (::fstat(fd, &stream) == 0 && same_file(stream, file)) return kNames[fd];
  }
  return nullptr;
}

std::string_view file_name(std::string_view path) { return path.substr(path.rfind('/') + 1); }

Result<void> refuse_recording(const struct stat& file) {
  if (RecordingInProgress::marks(file))
    return ErrorText{"output is a recording in progress; choose another output path"};
  return {};
}

}  // namespace

Result<std::string> enhance_destination(const std::optional<struct stat>& input, const std::string& output) {
  // The system's own answer, /proc's links to open files included.
  auto named = path_status(output);
  if (!named) return ErrorText{"could not open output: " + named.error()};
  if (*named) {
    if (is_special_file(**named)) return ErrorText{"output exists and is not a regular file"};
    if (const char* stream = standard_stream(**named))
      return ErrorText{std::string("output is the listener's own ") + stream + "; choose another output path"};
    if (auto free = refuse_recording(**named); !free) return ErrorText{free.error()};
  }

  auto destination = link_target(output);
  if (!destination) return ErrorText{"could not open output: " + destination.error()};
  // Another request's file in the making: renamed over, it would be lost.
  if (StagedFile::is_temporary_name(file_name(output)) || StagedFile::is_temporary_name(file_name(*destination)))
    return ErrorText{"output has the name of one of the listener's temporary files; choose another output path"};
  // The file written must be the one just checked. A /proc link names an
  // open file by a path that may no longer lead to it.
  const auto reached = path_status(*destination);
  const bool same = reached && named->has_value() == reached->has_value() && (!*named || same_file(**named, **reached));
  if (!same) return ErrorText{"output is a link that leads to no name of its file"};

  if (*named && input && same_file(*input, **named))
    return ErrorText{"output is the input file itself; choose another output path"};
  return destination;
}

Result<void> refuse_recording(const std::string& path) {
  const auto status = path_status(path);
  if (status && *status) return refuse_recording(**status);
  return {};
}

}  // namespace ombri
