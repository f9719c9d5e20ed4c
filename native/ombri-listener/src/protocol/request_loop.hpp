#pragma once
// The framing of the listener protocol: requests read as lines from standard
// input, each answered through a handler, and the stdout writer thread that
// writes what producers send into the event channel.

#include <functional>

#include "base/result.hpp"
#include "protocol/envelope.hpp"
#include "protocol/event_channel.hpp"
#include "protocol/json.hpp"
#include "protocol/shared_stdout.hpp"

namespace ombri {

// Fills the outcome of one parsed request.
using RequestHandler = std::function<void(CommandOutcome& outcome, const Json& request)>;

// Reads `input_fd` line by line until its end (success). Blank lines are
// skipped, a line that is not JSON gets "invalid_json", every other line goes
// to `handle`, and the outcome is written to `out`. A read error, a line that
// is not UTF-8, a failed write or an allocation that fails (the handler's
// included: "out of memory") ends the loop with that error.
Result<void> serve_requests(int input_fd, const SharedStdout& out, const RequestHandler& handle);

// The stdout writer thread's body: writes every value until every sender is
// gone, ignoring write errors.
void write_events(SharedStdout out, EventReceiver receiver);

}  // namespace ombri
