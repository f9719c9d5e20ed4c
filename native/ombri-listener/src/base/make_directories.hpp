#pragma once
// A directory created with all its missing parents.

#include <string>

#include "base/result.hpp"

namespace ombri {

// Each missing directory is made with mkdir(2), mode 0777 before the umask,
// the outermost first; an existing directory is accepted, also one that
// appears meanwhile. A failure is mkdir's own text for the first directory
// that could not be made: "File exists (os error 17)" when `path` is
// something other than a directory, "Not a directory (os error 20)" below a
// file. A path holding a NUL character is refused before anything is made
// (kPathHoldsNul, base/path.hpp). Thread-safe.
Result<void> make_directories(const std::string& path);

}  // namespace ombri
