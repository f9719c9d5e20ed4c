#pragma once
// An owned file descriptor, and reads and writes that retry when a signal
// interrupts them, so that callers only ever see real errors.

#include <sys/types.h>

#include <cstddef>
#include <utility>

#include "base/result.hpp"

namespace ombri {

// Closes its descriptor when released; a move hands it over.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes the descriptor held (its error ignored) and holds `fd` instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// One read(2): the number of bytes read, 0 at the end, or the OS error text.
Result<std::size_t> read_some(int fd, void* data, std::size_t size);

// Writes all `size` bytes. `done` counts the bytes that reached the file,
// also when writing fails part of the way. A non-blocking descriptor that
// cannot take more is waited on, so the bytes are never cut short by it.
Result<void> write_all(int fd, const void* data, std::size_t size, std::size_t& done);

// Writes all `size` bytes at `offset`, leaving the file position alone;
// `done` as for write_all.
Result<void> write_all_at(int fd, const void* data, std::size_t size, off_t offset, std::size_t& done);

}  // namespace ombri
