#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "failure.hpp"

namespace ombri_image {

Descriptor::~Descriptor() {
  if (fd >= 0) ::close(fd);
}

std::vector<std::uint8_t> readSource(const std::filesystem::path& path) {
  // O_NONBLOCK: a FIFO must not stall the open; it is refused just below.
  Descriptor source(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (source.fd < 0) throw Failure(ExitStatus::fileSystem, "input_open_failed");

  struct stat status {};
  if (::fstat(source.fd, &status) != 0 || !S_ISREG(status.st_mode))
    throw Failure(ExitStatus::commandLine, "input_not_regular");
  if (status.st_size < 1 || static_cast<std::uint64_t>(status.st_size) > kMaxSourceBytes) {
    throw Failure(ExitStatus::sourceTooLarge, "source_byte_limit");
  }

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(source.fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw Failure(ExitStatus::fileSystem, "input_read_failed");
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

namespace {

// The output is written under this name beside its final one and linked into
// place only once complete, so a run killed while writing leaves no partial
// file under the final name.
constexpr const char* kTemporaryName = ".imgfit-XXXXXX";

}  // namespace

void writeOutput(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes, PhaseTimings* timings) {
  const Clock::time_point start = Clock::now();
  std::string temporary = (path.parent_path() / kTemporaryName).native();
  // Created exclusively, with mode 0600 less the umask.
  Descriptor output(::mkostemp(temporary.data(), O_CLOEXEC));
  if (output.fd < 0) throw Failure(ExitStatus::fileSystem, "output_create_failed");

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = ::write(output.fd, bytes.data() + written, bytes.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      ::unlink(temporary.c_str());
      throw Failure(ExitStatus::fileSystem, "output_write_failed");
    }
    written += static_cast<std::size_t>(put);
  }

  const Clock::time_point flushStart = Clock::now();
  if (::fsync(output.fd) != 0) {
    ::unlink(temporary.c_str());
    throw Failure(ExitStatus::fileSystem, "output_flush_failed");
  }
  const Clock::time_point flushEnd = Clock::now();
  // link, unlike rename, never replaces an entry that appeared at the final
  // name since the command line was checked.
  const bool linked = ::link(temporary.c_str(), path.c_str()) == 0;
  ::unlink(temporary.c_str());
  if (!linked) throw Failure(ExitStatus::fileSystem, "output_create_failed");
  if (::close(std::exchange(output.fd, -1)) != 0) throw Failure(ExitStatus::fileSystem, "output_close_failed");

  if (timings != nullptr) {
    timings->flushMs = millisecondsBetween(flushStart, flushEnd);
    timings->writeMs = millisecondsBetween(start, Clock::now()) - timings->flushMs;
  }
}

}  // namespace ombri_image
