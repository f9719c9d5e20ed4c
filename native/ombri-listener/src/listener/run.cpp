#include "listener/run.hpp"

#include <chrono>
#include <new>
#include <thread>

#include "base/os_error.hpp"
#include "base/staged_file.hpp"
#include "listener/commands.hpp"
#include "listener/runtime_state.hpp"
#include "protocol/request_loop.hpp"

namespace ombri {
namespace {

// A reader that still reads, however slowly, gets the line being written
// whole; one that has stopped reading holds the exit up for 2 s, and none for
// more than a minute.
constexpr ExitWait kLastLineWait{std::chrono::seconds(2), std::chrono::seconds(60)};

// Errors are not reported; out of memory ends the run as it does in the loop.
Result<void> stop_at_end_of_input(RuntimeState& state) {
  try {
    (void)state.stop_active_capture();
  } catch (const std::bad_alloc&) {
    return ErrorText{kOutOfMemory};
  }
  return {};
}

}  // namespace

Result<void> run(int input_fd) {
  SharedStdout out = make_shared_stdout();
  auto [sender, receiver] = make_event_channel();
  // Detached: it ends once every sender is gone, and the process never waits for it.
  std::thread(write_events, out, std::move(receiver)).detach();

  RuntimeState state(std::move(sender));
  auto served = serve_requests(input_fd, out, [&state](CommandOutcome& outcome, const Json& request) {
    handle_command(outcome, request, state);
  });
  if (served) served = stop_at_end_of_input(state);
  // The process exits next, while the writer thread and workers may still
  // run: it must not end inside a line, nor leave an enhancement's
  // temporary file behind. Values still in the channel are dropped.
  (void)close_for_exit(out, kLastLineWait);
  StagedFile::remove_uncommitted();
  return served;
}

}  // namespace ombri
