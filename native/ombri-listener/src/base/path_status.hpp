#pragma once
// What a path from a request names, as the system answers: how the listener
// looks at such a path before it opens or creates anything there. A path
// holding a NUL character is never asked about: each function answers it
// with the error kPathHoldsNul (base/path.hpp). Thread-safe.

#include <sys/stat.h>

#include <optional>
#include <string>

#include "base/result.hpp"

namespace ombri {

// stat(2) of the path, symbolic links followed; nothing when the system
// cannot answer (nothing there, a directory on the way not searchable, ...).
Result<std::optional<struct stat>> path_status(const std::string& path);

// The path that creating `path` writes to: its last component followed
// through symbolic links (a relative target from the link's directory) until
// it is no link or names nothing, so a dangling link gives its target. The
// directories on the way are left for the system to resolve. Errors are the
// system's texts, such as too many levels of links.
Result<std::string> link_target(const std::string& path);

// One file: the same device and inode.
bool same_file(const struct stat& a, const struct stat& b);

// A FIFO, a socket or a device: opening or reading one can block for ever
// or reach hardware, so a path from a request must not lead to one.
// Directories and regular files are not.
bool is_special_file(const struct stat& file);

}  // namespace ombri
