#include "protocol.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <chrono>

#include "text.hpp"

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

Json response_ok(const std::string& id, Json result) {
  return Json{{"id", id}, {"ok", true}, {"result", std::move(result)}};
}

Json response_error(const std::string& id, const std::string& code, const std::string& message) {
  Json response = response_error_without_id(code, message);
  response["id"] = id;
  return response;
}

Json response_error_without_id(const std::string& code, const std::string& message) {
  return Json{{"error", {{"code", code}, {"message", message}}}, {"ok", false}};
}

std::string format_timestamp(long long seconds_since_epoch, long long nanoseconds) {
  if (seconds_since_epoch < 0 || nanoseconds < 0) return "0.000Z";
  return fmt::format("{}.{:03}Z", seconds_since_epoch, nanoseconds / 1'000'000);
}

std::string timestamp_now() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds);
  return format_timestamp(seconds.count(), nanoseconds.count());
}

}  // namespace ombri
