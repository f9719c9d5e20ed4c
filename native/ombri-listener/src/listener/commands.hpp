#pragma once
// The command layer: the envelope checks and the command table that routes
// each of the twelve commands to its handling. Runs on the main thread only.

#include "listener/runtime_state.hpp"
#include "protocol/envelope.hpp"
#include "protocol/json.hpp"

namespace ombri {

void handle_command(CommandOutcome& outcome, const Json& request, RuntimeState& state);

}  // namespace ombri
