#pragma once
// The calendar commands: `calendarStatus`, `calendarEvents` and
// `calendarRequestAccess`, answered at once on the main thread. Each reports
// the calendar authorization status as read after its work.

#include <string>

#include "listener/runtime_state.hpp"
#include "protocol/envelope.hpp"
#include "protocol/json.hpp"

namespace ombri {

// "authorized" for full access, "notDetermined" before the user decided,
// "denied" for every other status (restricted, denied, write-only).
std::string calendar_authorization_status();

void handle_calendar_status(CommandOutcome& outcome, const Json& request, const RuntimeState& state,
                            const std::string& id);
// "args"."hoursForward": any JSON number; anything else means 12 hours.
void handle_calendar_events(CommandOutcome& outcome, const Json& request, const RuntimeState& state,
                            const std::string& id);
// Blocks for up to a minute while the user answers the system's prompt.
void handle_calendar_request_access(CommandOutcome& outcome, const Json& request, const RuntimeState& state,
                                    const std::string& id);

}  // namespace ombri
