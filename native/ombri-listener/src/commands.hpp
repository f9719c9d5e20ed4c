#pragma once
// The command layer: envelope checks, the smoke flag and the command table.

#include "json.hpp"
#include "protocol.hpp"
#include "runtime_state.hpp"

namespace ombri {

void handle_command(CommandOutcome& outcome, const Json& request, RuntimeState& state);

// True when QIR_MEETING_LISTENER_SMOKE, ASCII-lower-cased, is "1", "true" or "yes".
bool smoke_flag();

}  // namespace ombri
