#pragma once
// `start` in smoke listener mode: a fixed answer and four fixed events, no device touched.

#include <string>

#include "json.hpp"
#include "protocol.hpp"
#include "runtime_state.hpp"

namespace ombri {

void smoke_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id);

}  // namespace ombri
