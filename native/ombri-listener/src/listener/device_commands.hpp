#pragma once
// `detect`: whether another program is using the default microphone.

#include <string>

#include "listener/runtime_state.hpp"
#include "protocol/envelope.hpp"
#include "protocol/json.hpp"

namespace ombri {

// False while our own capture runs (the device is not asked then); otherwise
// the device's answer, or null when it cannot be read.
void handle_detect(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id);

}  // namespace ombri
