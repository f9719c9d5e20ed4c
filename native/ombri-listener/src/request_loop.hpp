#pragma once
// The listener protocol: one JSON request per line on standard input, one
// JSON line per response or event on standard output.

#include "result.hpp"

namespace ombri {

// Runs until the end of input (success) or a read or main-thread write error.
Result<void> run(int input_fd = 0);

}  // namespace ombri
