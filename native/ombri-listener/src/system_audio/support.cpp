#include "system_audio/support.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <limits>
#include <string>
#include <thread>

#include "base/unique_fd.hpp"
#include "base/utf8.hpp"

extern char** environ;

namespace ombri {
namespace {

// Unsigned 32-bit decimal: an optional "+", then one or more ASCII digits.
std::optional<std::uint32_t> parse_u32(std::string_view field) {
  if (!field.empty() && field.front() == '+') field.remove_prefix(1);
  if (field.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up; 0 once it has passed.
int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, std::numeric_limits<int>::max()));
}

// Reads both pipes to their ends (so the child never blocks on a full one);
// keeps stdout. Nothing when the deadline comes first.
std::optional<std::string> drain(int out_fd, int err_fd, Clock::time_point deadline) {
  std::string output;
  std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    const int wait_ms = remaining_ms(deadline);
    if (wait_ms == 0) return std::nullopt;
    if (::poll(fds.data(), fds.size(), wait_ms) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (auto& entry : fds) {
      if (entry.fd < 0 || entry.revents == 0) continue;
      const auto n = read_some(entry.fd, buffer, sizeof buffer);
      if (n && *n > 0) {
        if (entry.fd == out_fd) output.append(buffer, *n);
      } else {
        entry.fd = -1;
        --open_count;
      }
    }
  }
  return output;
}

// True once the child has ended and is reaped, false while it still runs at the deadline.
bool reaped_by(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped < 0 && errno == EINTR) continue;
    if (reaped != 0) return true;
    if (remaining_ms(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::optional<std::string> run_sw_vers(std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return std::nullopt;
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  char tool[] = "sw_vers";
  char flag[] = "-productVersion";
  char* argv[] = {tool, flag, nullptr};
  pid_t pid;
  const int spawned = ::posix_spawnp(&pid, tool, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  std::optional<std::string> output;
  if (spawned == 0) output = drain(out_pipe[0], err_pipe[0], deadline);
  // Closed before the wait: a child still writing after a failed read gets a broken pipe instead of blocking us.
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  if (spawned == 0 && !(output && reaped_by(pid, deadline))) {
    // A tool that does not end in time gives no answer and does not outlive the check.
    ::kill(pid, SIGKILL);
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    output.reset();
  }
  return output;
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_macos_version(std::string_view output) {
  const std::string text = to_utf8_lossy(output);
  const std::string_view trimmed = trim_unicode_whitespace(text);
  const auto first_dot = trimmed.find('.');
  const auto major = parse_u32(trimmed.substr(0, first_dot));
  if (!major) return std::nullopt;
  std::uint32_t minor = 0;
  if (first_dot != std::string_view::npos) {
    const std::string_view rest = trimmed.substr(first_dot + 1);
    minor = parse_u32(rest.substr(0, rest.find('.'))).value_or(0);
  }
  return std::pair{*major, minor};
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> macos_version(std::chrono::milliseconds bound) {
  const auto output = run_sw_vers(bound);
  if (!output) return std::nullopt;
  return parse_macos_version(*output);
}

Result<void> support_for_version(std::optional<std::pair<std::uint32_t, std::uint32_t>> version) {
  if (!version) return ErrorText{"Could not determine the macOS version for system audio capture."};
  const auto [major, minor] = *version;
  if (major > 14 || (major == 14 && minor >= 2)) return {};
  return ErrorText{fmt::format("System audio capture needs macOS 14.2 or newer (running {}.{}).", major, minor)};
}

const Result<void>& system_audio_support() {
  static const Result<void> SUPPORT = support_for_version(macos_version());
  return SUPPORT;
}

}  // namespace ombri
