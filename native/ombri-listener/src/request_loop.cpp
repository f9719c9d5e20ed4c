#include "request_loop.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "commands.hpp"
#include "event_channel.hpp"
#include "protocol.hpp"
#include "runtime_state.hpp"
#include "text.hpp"

namespace ombri {
namespace {

// Splits a file descriptor into lines: LF ends a line, a CR before it goes
// with it, and a last line without LF still counts.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // True with a line; false at the end of input; an error text on a read error.
  Result<bool> next(std::string& line) {
    for (;;) {
      const auto newline = pending_.find('\n', scanned_);
      if (newline != std::string::npos) {
        std::size_t end = newline;
        if (end > start_ && pending_[end - 1] == '\r') --end;
        line.assign(pending_, start_, end - start_);
        start_ = scanned_ = newline + 1;
        return true;
      }
      // Consumed lines leave the buffer only before a read, not one by one.
      pending_.erase(0, start_);
      start_ = 0;
      scanned_ = pending_.size();
      if (at_end_) {
        if (pending_.empty()) return false;
        line = std::move(pending_);
        pending_.clear();
        scanned_ = 0;
        return true;
      }
      char buffer[65536];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrorText{os_error_text(errno)};
      }
      if (n == 0) at_end_ = true;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::string pending_;
  std::size_t start_ = 0;  // where the next line begins
  std::size_t scanned_ = 0;
  bool at_end_ = false;
};

void stdout_writer(SharedStdout out, EventReceiver receiver) {
  while (auto value = receiver.receive()) (void)write_response(out, *value);
}

Result<void> write_outcome(const SharedStdout& out, const CommandOutcome& outcome) {
  if (!outcome.response.is_null())
    if (auto written = write_response(out, outcome.response); !written) return written;
  for (const auto& event : outcome.events)
    if (auto written = write_response(out, event); !written) return written;
  return {};
}

}  // namespace

Result<void> run(int input_fd) {
  SharedStdout out = make_shared_stdout();
  auto [sender, receiver] = make_event_channel();
  std::thread(stdout_writer, out, std::move(receiver)).detach();

  RuntimeState state(std::move(sender));
  LineReader reader(input_fd);
  std::string line;
  for (;;) {
    auto got = reader.next(line);
    if (!got) return ErrorText{got.error()};
    if (!*got) break;
    if (!is_valid_utf8(line)) return ErrorText{"stream did not contain valid UTF-8"};
    if (is_blank(line)) continue;

    CommandOutcome outcome;
    if (auto request = parse_json(line)) {
      handle_command(outcome, *request, state);
    } else {
      outcome.response = response_error_without_id("invalid_json", "Expected one JSON request per line.");
    }
    if (auto written = write_outcome(out, outcome); !written) return written;
  }

  (void)state.stop_active_capture();
  return {};
}

}  // namespace ombri
