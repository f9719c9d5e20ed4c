#include "base/unique_fd.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "base/os_error.hpp"

namespace ombri {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Result<std::size_t> read_some(int fd, void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, data, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return ErrorText{os_error_text(errno)};
  }
}

Result<void> write_all(int fd, const void* data, std::size_t size, std::size_t& done) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, -1) < 0 && errno != EINTR) return ErrorText{os_error_text(errno)};
        continue;
      }
      return ErrorText{os_error_text(errno)};
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

Result<void> write_all_at(int fd, const void* data, std::size_t size, off_t offset, std::size_t& done) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorText{os_error_text(errno)};
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace ombri
