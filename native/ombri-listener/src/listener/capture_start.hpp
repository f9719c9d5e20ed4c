#pragma once
// The `start` command outside smoke mode.

#include <string>

#include "listener/runtime_state.hpp"
#include "protocol/envelope.hpp"
#include "protocol/json.hpp"

namespace ombri {

// The usable `meetingId`, else "meeting".
std::string meeting_id_of(const Json& args);

void real_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id);

}  // namespace ombri
