#pragma once
// The one lock around the process's standard output, and the writing of one
// protocol line under it.
//
// Thread-safe: the main thread and the stdout writer thread share it, and a
// line is written, flushed and only then unlocked, so lines never interleave.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "base/poison_mutex.hpp"
#include "base/result.hpp"
#include "protocol/json.hpp"

namespace ombri {

// The descriptor behind the lock: standard output, or in tests any file. It
// is written directly, with no buffer of its own in between.
struct StdoutSlot {
  int fd = STDOUT_FILENO;
};

// The lock, and beside it the exit's mark. Writers read the mark before they
// take the lock, so that none queues up for it once the exit waits there,
// and again once they hold it, so that none starts a line after that.
struct StdoutLock : PoisonMutex<StdoutSlot> {
  explicit StdoutLock(int fd) : PoisonMutex(StdoutSlot{fd}) {}
  std::atomic<bool> closing{false};
};
using SharedStdout = std::shared_ptr<StdoutLock>;

SharedStdout make_shared_stdout(int fd = STDOUT_FILENO);

// Writes one value as one line under the lock, in one piece: a non-blocking
// output that is full is waited on, never left with half a line. Fails with
// "stdout lock poisoned" once a holder failed while holding it, with "out of
// memory" (nothing written, the lock intact) when the line cannot be made,
// and with "stdout closed" after close_for_exit.
Result<void> write_response(const SharedStdout& out, const Json& value);

// For a process about to exit while other threads may still be writing:
// refuses every line not yet begun, then waits up to `timeout` for the line
// being written, if any, to be complete, so the output never ends inside one.
// False when the wait ran out (a reader that stopped reading holds the line
// up).
bool close_for_exit(const SharedStdout& out, std::chrono::milliseconds timeout);

}  // namespace ombri
