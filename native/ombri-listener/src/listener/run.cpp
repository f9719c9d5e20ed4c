#include "listener/run.hpp"

#include <new>
#include <thread>

#include "base/os_error.hpp"
#include "listener/commands.hpp"
#include "listener/runtime_state.hpp"
#include "protocol/request_loop.hpp"

namespace ombri {

Result<void> run(int input_fd) {
  SharedStdout out = make_shared_stdout();
  auto [sender, receiver] = make_event_channel();
  // Detached: it ends once every sender is gone, and the process never waits for it.
  std::thread(write_events, out, std::move(receiver)).detach();

  RuntimeState state(std::move(sender));
  auto served = serve_requests(input_fd, out, [&state](CommandOutcome& outcome, const Json& request) {
    handle_command(outcome, request, state);
  });
  if (!served) return served;
  // Out of memory while stopping ends the run as it does in the loop.
  try {
    (void)state.stop_active_capture();
  } catch (const std::bad_alloc&) {
    return ErrorText{kOutOfMemory};
  }
  return {};
}

}  // namespace ombri
