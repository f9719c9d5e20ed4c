#pragma once
// The files that this process's recordings are writing now, by device and
// inode, so that nothing else of the process puts another file in the place
// of one while it records: its name would then lead to the other file, and
// the meeting would be lost. Thread-safe.

#include <sys/stat.h>

#include <optional>

namespace ombri {

// Marks one open file as a recording in progress while the mark lives.
class RecordingInProgress {
 public:
  // A descriptor that cannot be looked at marks nothing.
  explicit RecordingInProgress(int fd);
  RecordingInProgress(RecordingInProgress&& other) noexcept;
  RecordingInProgress& operator=(RecordingInProgress&&) = delete;
  ~RecordingInProgress();

  // True when `file` is a file marked now.
  static bool marks(const struct stat& file);

 private:
  std::optional<struct stat> file_;
};

}  // namespace ombri
