#include "calendar/upcoming_events.hpp"

#include <algorithm>
#include <chrono>

#include "calendar/event_json.hpp"
#include "platform/eventkit.hpp"

namespace ombri {
namespace {

using namespace eventkit;

constexpr double kSecondsPerHour = 3600.0;

// Whole seconds plus the nanoseconds, so the window keeps sub-second time;
// a clock set before 1970 counts as 1970.
double now_since_1970() {
  using namespace std::chrono;
  const auto since = system_clock::now().time_since_epoch();
  if (since.count() < 0) return 0.0;
  const auto whole = duration_cast<seconds>(since);
  const auto nanos = duration_cast<nanoseconds>(since - whole);
  return static_cast<double>(whole.count()) + static_cast<double>(nanos.count()) / 1e9;
}

// Written so that a NaN, which no JSON number gives, also means the shortest window.
double clamped_hours(double hours_forward) {
  if (!(hours_forward >= 1.0)) return 1.0;
  return std::min(hours_forward, 72.0);
}

}  // namespace

Result<std::vector<Json>> upcoming_events(double hours_forward) {
  if (EventStore::authorization_status_for_entity_type(EKEntityTypeEvent) != EKAuthorizationStatusFullAccess)
    return std::vector<Json>{};

  const EventStore store;
  const double now = now_since_1970();
  const Date start{now - kSecondsPerHour};
  const Date end{now + clamped_hours(hours_forward) * kSecondsPerHour};
  std::vector<Event> events;
  try {
    const Predicate predicate = store.predicate_for_events(start, end);
    events = store.events_matching(predicate);
  } catch (const PlatformException&) {
    return ErrorText{"EventKit query failed."};
  }

  std::vector<CalendarEventObject> found;
  found.reserve(events.size());
  for (Event& event : events)
    if (auto object = event_json(std::move(event))) found.push_back(std::move(*object));
  std::stable_sort(found.begin(), found.end(),
                   [](const CalendarEventObject& a, const CalendarEventObject& b) { return a.sort_key < b.sort_key; });

  std::vector<Json> objects;
  objects.reserve(found.size());
  for (CalendarEventObject& event : found) objects.push_back(std::move(event.object));
  return objects;
}

}  // namespace ombri
