#pragma once
// The `start` command outside smoke mode.

#include <string>

#include "json.hpp"
#include "protocol.hpp"
#include "runtime_state.hpp"

namespace ombri {

// The request's "args" when it is an object; an empty object otherwise.
const Json& start_arguments(const Json& request);
// The usable `meetingId`, else "meeting".
std::string meeting_id_of(const Json& args);

void real_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id);

}  // namespace ombri
