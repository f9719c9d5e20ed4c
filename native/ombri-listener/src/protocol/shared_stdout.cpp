#include "protocol/shared_stdout.hpp"

#include <cerrno>
#include <string>

#include "base/os_error.hpp"

namespace ombri {

SharedStdout make_shared_stdout(std::FILE* stream) {
  return std::make_shared<PoisonMutex<StdoutSlot>>(StdoutSlot{stream});
}

Result<void> write_response(const SharedStdout& out, const Json& value) {
  auto guard = out->lock();
  if (guard.poisoned()) return ErrorText{"stdout lock poisoned"};

  std::string line;
  append_json(line, value);
  line.push_back('\n');
  std::FILE* stream = guard->stream;
  errno = 0;
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  const int write_errno = errno;
  errno = 0;
  const bool flushed = std::fflush(stream) == 0;
  const int flush_errno = errno;
  if (!written) return ErrorText{os_error_text(write_errno ? write_errno : EIO)};
  if (!flushed) return ErrorText{os_error_text(flush_errno ? flush_errno : EIO)};
  return {};
}

}  // namespace ombri
