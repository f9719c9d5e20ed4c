#pragma once
// A new file written under a temporary name beside its destination and
// renamed over it only once complete, so the destination holds either its
// old contents, nothing, or the whole new file, whatever stops the writer:
// a kill leaves at most the temporary file, and an exit none.

#include <string>
#include <string_view>

#include "base/result.hpp"
#include "base/unique_fd.hpp"

namespace ombri {

// Not thread-safe itself; any number of staged files, for one destination
// too, may live at a time on different threads: each has a name of its own.
class StagedFile {
 public:
  // Creates an empty file under a unique hidden name in the destination's
  // directory, ".ombri-{purpose}-{pid}-{n}.tmp" (mode 0666 before umask).
  // Answers as creating and truncating the destination itself would: with
  // the system's text when that would fail (a directory, or an existing file
  // this process may not write, which stays untouched), and with the mode of
  // an existing file, which the new one takes over.
  static Result<StagedFile> create(const std::string& destination, const char* purpose);

  // True for a file name of the temporary form above, of any purpose.
  static bool is_temporary_name(std::string_view name);

  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&&) = delete;
  // Removes the temporary file unless it was committed, in the directory it
  // was made in, wherever that has been moved meanwhile.
  ~StagedFile();

  // A descriptor of its own for a writer to take over.
  Result<UniqueFd> duplicate_fd() const;
  // Syncs the file and renames it over the destination, both by the names
  // given (a directory moved away fails the rename); on failure the
  // destination is left as it was. Fails with "the temporary file was
  // replaced" when its temporary name no longer leads to the file it made,
  // which then is neither renamed nor removed: it is someone else's.
  Result<void> commit();

  // For a process about to exit with workers still writing: removes the
  // temporary file of every staged file not yet committed, whose commit then
  // fails, and makes every later create fail. Thread-safe.
  static void remove_uncommitted();

 private:
  StagedFile(UniqueFd directory, UniqueFd fd, std::string temporary, std::string destination);

  UniqueFd directory_;  // where the temporary file was made
  UniqueFd fd_;
  std::string temporary_;
  std::string destination_;
  bool settled_ = false;  // committed, or the name is no longer ours
};

}  // namespace ombri
