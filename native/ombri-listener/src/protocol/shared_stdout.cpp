#include "protocol/shared_stdout.hpp"

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <linux/sockios.h>
#endif

#include "base/os_error.hpp"
#include "base/unique_fd.hpp"

namespace ombri {
namespace {

constexpr const char* kClosed = "stdout closed";

// A line goes out in pieces of at most a pipe's atomic write size, each write
// returning as soon as the pipe has taken it: behind a slow reader the count
// of bytes handed over then grows as the reader makes room, not only once the
// whole line is out.
constexpr std::size_t kPieceBytes = 4096;

// The bytes written to `fd` that its reader has not taken yet, where the
// system tells: the unread bytes of a pipe, the unsent ones of a socket.
// Nothing for any other file, or on a system that does not tell.
std::optional<int> unread_bytes(int fd, const struct stat& file) {
#if defined(__linux__)
  const unsigned long request = S_ISFIFO(file.st_mode) ? FIONREAD : S_ISSOCK(file.st_mode) ? SIOCOUTQ : 0;
  int unread = 0;
  if (request != 0 && ::ioctl(fd, request, &unread) == 0) return unread;
#else
  (void)fd;
  (void)file;
#endif
  return std::nullopt;
}

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
  for (std::size_t at = 0; at < line.size();) {
    std::size_t done = 0;
    auto written = write_all(out->fd, line.data() + at, std::min(kPieceBytes, line.size() - at), done);
    out->handed_over += done;
    if (!written) return written;
    at += done;
  }
  return {};
}

// Polled rather than a timed lock: it happens once, at exit, and a timed
// mutex's lock is one that ThreadSanitizer does not see.
bool close_for_exit(const SharedStdout& out, ExitWait wait) {
  out->closing = true;
  struct stat file {};
  const bool known = ::fstat(out->fd, &file) == 0;
  const auto progress = [&] {
    return std::pair(out->handed_over.load(), known ? unread_bytes(out->fd, file) : std::nullopt);
  };

  const auto began = std::chrono::steady_clock::now();
  auto last_progress = began;
  auto seen = progress();
  for (;;) {
    // Free once the line in progress is out: a writer that takes it now
    // lets go at once, without a line.
    if (out->try_lock()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (auto current = progress(); current != seen) {
      seen = current;
      last_progress = now;
    }
    if (now - last_progress >= wait.stall || now - began >= wait.limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace ombri
