#pragma once
// The `enhance` and `transcribe` commands: arguments checked at once, the
// work on a detached worker thread per request, and the answer sent later
// through the event channel with the request's id.

#include <string>

#include "listener/runtime_state.hpp"
#include "protocol/envelope.hpp"
#include "protocol/json.hpp"

namespace ombri {

void handle_enhance(CommandOutcome& outcome, const Json& request, const RuntimeState& state, const std::string& id);
void handle_transcribe(CommandOutcome& outcome, const Json& request, const RuntimeState& state, const std::string& id);

}  // namespace ombri
