#pragma once
// The one lock around the process's standard output, and the writing of one
// protocol line under it.
//
// Thread-safe: the main thread and the stdout writer thread share it, and a
// line is written, flushed and only then unlocked, so lines never interleave.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <variant>

#include "base/poison_mutex.hpp"
#include "base/result.hpp"
#include "protocol/json.hpp"

namespace ombri {

// Holding the lock is the right to write a line to `fd`: standard output, or
// in tests any file. It is written directly, with no buffer of its own in
// between.
struct StdoutLock : PoisonMutex<std::monostate> {
  explicit StdoutLock(int fd) : fd(fd) {}

  const int fd;
  // The exit's mark. Writers read it before they take the lock, so that none
  // queues up for it once the exit waits there, and again once they hold it,
  // so that none starts a line after that.
  std::atomic<bool> closing{false};
  // The bytes that writes have handed to the system so far: read without the
  // lock by the exit's wait, as one sign that a line is still going out.
  std::atomic<std::uint64_t> handed_over{0};
};
using SharedStdout = std::shared_ptr<StdoutLock>;

SharedStdout make_shared_stdout(int fd = STDOUT_FILENO);

// Writes one value as one line under the lock, in one piece: a non-blocking
// output that is full is waited on, never left with half a line. Fails with
// "stdout lock poisoned" once a holder failed while holding it, with "out of
// memory" (nothing written, the lock intact) when the line cannot be made,
// and with "stdout closed" after close_for_exit.
Result<void> write_response(const SharedStdout& out, const Json& value);

// How long the exit waits for the line in progress: as long as it keeps
// going out, but no longer than `stall` without a byte of progress (a reader
// that stopped reading) nor than `limit` in all.
struct ExitWait {
  std::chrono::milliseconds stall;
  std::chrono::milliseconds limit;
};

// For a process about to exit while other threads may still be writing:
// refuses every line not yet begun, then waits for the line being written,
// if any, to be complete, so the output never ends inside one. Progress is
// a write handing bytes over or, for a pipe or socket, the reader taking
// some. False when the wait gave up.
bool close_for_exit(const SharedStdout& out, ExitWait wait);

}  // namespace ombri
