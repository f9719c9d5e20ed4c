#pragma once
// The events of all calendars from an hour ago to some hours ahead.

#include <vector>

#include "base/result.hpp"
#include "protocol/json.hpp"

namespace ombri {

// The calendar event objects (see event_json.hpp) of the window from one hour
// before now to `hours_forward` hours after it, clamped to 1..72 hours,
// ordered by start with equal starts in the store's order and events without
// a finite start last. Without full access to events: an empty list. A query
// that the store fails by raising: "EventKit query failed.".
// Blocks the calling thread for as long as the store's query takes.
Result<std::vector<Json>> upcoming_events(double hours_forward);

}  // namespace ombri
