#pragma once
// Smoke listener mode: chosen per request by QIR_MEETING_LISTENER_SMOKE, it
// lets the parent run the whole start road without audio hardware. `start`
// then gives a fixed answer and four fixed events and touches no device.

#include <string>

#include "listener/runtime_state.hpp"
#include "protocol/envelope.hpp"
#include "protocol/json.hpp"

namespace ombri {

// Read afresh for every request: true when QIR_MEETING_LISTENER_SMOKE,
// ASCII-lower-cased and untrimmed, is "1", "true" or "yes".
bool smoke_flag();

void smoke_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id);

}  // namespace ombri
