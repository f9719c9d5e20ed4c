#pragma once
// What the listener can do right now: the capability objects and the results
// of `ping`, `modelStatus` and `devices`.

#include <optional>
#include <string>

#include "protocol/json.hpp"

namespace ombri {

Json capability(const std::string& status, const std::optional<std::string>& reason);
Json listener_capabilities(bool smoke, bool mic);

Json listener_ping_payload(bool smoke);
Json model_status_payload(bool smoke);
Json listener_devices_payload(bool smoke);

}  // namespace ombri
