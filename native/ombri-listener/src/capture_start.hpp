#pragma once
// The `start` command outside smoke mode.

#include <string>

#include "json.hpp"
#include "protocol.hpp"
#include "runtime_state.hpp"

namespace ombri {

void real_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id);

}  // namespace ombri
