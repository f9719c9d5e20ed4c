#include "protocol/shared_stdout.hpp"

#include <new>
#include <string>
#include <thread>

#include "base/os_error.hpp"
#include "base/unique_fd.hpp"

namespace ombri {
namespace {

constexpr const char* kClosed = "stdout closed";

}  // namespace

SharedStdout make_shared_stdout(int fd) { return std::make_shared<StdoutLock>(fd); }

Result<void> write_response(const SharedStdout& out, const Json& value) {
  if (out->closing) return ErrorText{kClosed};
  auto guard = out->lock();
  if (guard.poisoned()) return ErrorText{"stdout lock poisoned"};
  if (out->closing) return ErrorText{kClosed};

  std::string line;
  try {
    append_json(line, value);
    line.push_back('\n');
  } catch (const std::bad_alloc&) {
    return ErrorText{kOutOfMemory};
  }
  std::size_t done = 0;
  return write_all(guard->fd, line.data(), line.size(), done);
}

// Polled rather than a timed lock: it happens once, at exit, and a timed
// mutex's lock is one that ThreadSanitizer does not see.
bool close_for_exit(const SharedStdout& out, std::chrono::milliseconds timeout) {
  out->closing = true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // Free once the line in progress is out: a writer that takes it now
    // lets go at once, without a line.
    if (out->try_lock()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace ombri
