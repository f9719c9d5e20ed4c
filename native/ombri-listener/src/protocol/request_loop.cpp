#include "protocol/request_loop.hpp"

#include <new>
#include <string>
#include <string_view>

#include "base/os_error.hpp"
#include "base/unique_fd.hpp"
#include "base/utf8.hpp"

namespace ombri {
namespace {

// Splits a file descriptor into lines: LF ends a line, a CR before it goes
// with it, and a last line without LF still counts. A line is handed out in
// place, not copied, so a huge line is held once.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // True with a line, valid until the next call; false at the end of input;
  // an error text on a read error.
  Result<bool> next(std::string_view& line) {
    for (;;) {
      const auto newline = pending_.find('\n', scanned_);
      if (newline != std::string::npos) {
        std::size_t end = newline;
        if (end > start_ && pending_[end - 1] == '\r') --end;
        line = std::string_view(pending_).substr(start_, end - start_);
        start_ = scanned_ = newline + 1;
        return true;
      }
      if (at_end_) {
        if (start_ == pending_.size()) return false;
        line = std::string_view(pending_).substr(start_);
        start_ = scanned_ = pending_.size();
        return true;
      }
      // Consumed lines leave the buffer only before a read, not one by one.
      pending_.erase(0, start_);
      start_ = 0;
      scanned_ = pending_.size();
      // Memory taken by one long line is given back once it is answered.
      if (pending_.capacity() > kKeptCapacity && pending_.size() < pending_.capacity() / 4) pending_.shrink_to_fit();
      char buffer[65536];
      const auto n = read_some(fd_, buffer, sizeof buffer);
      if (!n) return ErrorText{n.error()};
      if (*n == 0) at_end_ = true;
      pending_.append(buffer, *n);
    }
  }

 private:
  static constexpr std::size_t kKeptCapacity = 1 << 20;

  int fd_;
  std::string pending_;
  std::size_t start_ = 0;  // where the next line begins
  std::size_t scanned_ = 0;
  bool at_end_ = false;
};

Result<void> write_outcome(const SharedStdout& out, const CommandOutcome& outcome) {
  if (!outcome.response.is_null())
    if (auto written = write_response(out, outcome.response); !written) return written;
  for (const auto& event : outcome.events)
    if (auto written = write_response(out, event); !written) return written;
  return {};
}

}  // namespace

void write_events(SharedStdout out, EventReceiver receiver) {
  while (auto value = receiver.receive()) (void)write_response(out, *value);
}

Result<void> serve_requests(int input_fd, const SharedStdout& out, const RequestHandler& handle) {
  LineReader reader(input_fd);
  std::string_view line;
  // An allocation that fails here, the handler's included, ends the loop like
  // a failed read or write instead of the process.
  try {
    for (;;) {
      auto got = reader.next(line);
      if (!got) return ErrorText{got.error()};
      if (!*got) return {};
      if (!is_valid_utf8(line)) return ErrorText{"stream did not contain valid UTF-8"};
      if (is_blank(line)) continue;

      CommandOutcome outcome;
      if (auto request = parse_json(line)) {
        handle(outcome, *request);
      } else {
        outcome.response = response_error_without_id("invalid_json", "Expected one JSON request per line.");
      }
      if (auto written = write_outcome(out, outcome); !written) return written;
    }
  } catch (const std::bad_alloc&) {
    return ErrorText{kOutOfMemory};
  }
}

}  // namespace ombri
