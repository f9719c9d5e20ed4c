#pragma once
// A new file written under a temporary name beside its destination and
// renamed over it only once complete, so the destination holds either its
// old contents, nothing, or the whole new file, whatever stops the writer:
// a kill leaves at most the temporary file, and an exit none.

#include <string>

#include "base/result.hpp"
#include "base/unique_fd.hpp"

namespace ombri {

// Not thread-safe itself; any number of staged files, for one destination
// too, may live at a time on different threads: each has a name of its own.
class StagedFile {
 public:
  // Creates an empty file under a unique hidden name in the destination's
  // directory, ".ombri-{purpose}-{pid}-{n}.tmp" (mode 0666 before umask).
  // Fails with the system's text, as creating the destination itself would.
  static Result<StagedFile> create(const std::string& destination, const char* purpose);

  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&&) = delete;
  // Removes the temporary file unless it was committed.
  ~StagedFile();

  // A descriptor of its own for a writer to take over.
  Result<UniqueFd> duplicate_fd() const;
  // Syncs the file and renames it over the destination; on failure the
  // destination is left as it was.
  Result<void> commit();

  // For a process about to exit with workers still writing: removes the
  // temporary file of every staged file not yet committed, whose commit then
  // fails, and makes every later create fail. Thread-safe.
  static void remove_uncommitted();

 private:
  StagedFile(UniqueFd fd, std::string temporary, std::string destination);

  UniqueFd fd_;
  std::string temporary_;
  std::string destination_;
  bool committed_ = false;
};

}  // namespace ombri
