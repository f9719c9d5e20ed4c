#pragma once
// The listener protocol's normal mode: the shared standard output, the event
// channel and its writer thread, the runtime state, and the request loop.

#include "base/result.hpp"

namespace ombri {

// Runs until the end of input (success; an active capture is stopped first)
// or a read error, a main-thread write error or an allocation of the main
// thread that fails; then an active capture is released, not stopped. Either
// way the process is ready to exit: no line is being written (the one in
// progress is waited for while it goes out: until 2 s pass without progress,
// or 60 s in all), no later line is, and no staged file is left.
Result<void> run(int input_fd = 0);

}  // namespace ombri
