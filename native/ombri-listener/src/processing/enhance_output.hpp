#pragma once
// Where the enhanced file of an input is written.

#include <sys/stat.h>

#include <optional>
#include <string>

#include "base/result.hpp"

namespace ombri {

// The path the enhanced file is renamed over: `output` followed through its
// symbolic links to what a create of it would write (a dangling link gives
// its target), so a link keeps pointing where it did and finds the new file
// there. The checks apply to that file, and each refuses before anything is
// created: it exists and is a FIFO, socket or device (a directory is left
// to the create, which answers as the system does); it is one of the
// listener's own standard streams (a log it writes to, or its protocol
// lines); it is a recording in progress; its name, or the name it is given,
// is of the listener's temporary form, another request's file in the making;
// it is the input file itself (`input` is its status, nothing when it could
// not be looked at), by any spelling or link; or the links lead to no name
// of it (a /proc link to a deleted file). Error texts are enhance's own.
// Thread-safe.
Result<std::string> enhance_destination(const std::optional<struct stat>& input, const std::string& output);

// Refuses a path that leads to a recording in progress: asked again just
// before the enhanced file takes the destination's place, since a meeting
// may have begun to record there meanwhile. Thread-safe.
Result<void> refuse_recording(const std::string& path);

}  // namespace ombri
