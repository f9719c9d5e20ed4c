#pragma once
// One event of the calendar store as the calendar event object the
// `calendarEvents` answer lists.

#include <optional>

#include "platform/eventkit.hpp"
#include "protocol/json.hpp"

namespace ombri {

struct CalendarEventObject {
  // The start in seconds since 1970, or the largest finite double when the
  // start is not a finite number, so such events sort last.
  double sort_key;
  // Exactly the keys "eventId", "title", "startsAtEpoch", "endsAtEpoch",
  // "organizer", "attendees", "acceptedCount", "location", "joinUrl",
  // "calendar" and "calendarColor"; what the event lacks is null, [] or 0.
  Json object;
};

// Nothing for an all-day event and for an event without a usable title
// (nil, empty or white space only).
std::optional<CalendarEventObject> event_json(eventkit::Event event);

}  // namespace ombri
