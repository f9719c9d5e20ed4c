#include "calendar/event_json.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "calendar/calendar_color.hpp"
#include "calendar/join_url.hpp"
#include "calendar/ns_string.hpp"

namespace ombri {
namespace {

using eventkit::Event;
using eventkit::Participant;

std::optional<std::string_view> view_of(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

Json text_or_null(std::optional<std::string> text) { return text ? Json(std::move(*text)) : Json(nullptr); }

Json seconds_or_null(double seconds) { return std::isfinite(seconds) ? Json(seconds) : Json(nullptr); }

}  // namespace

std::optional<CalendarEventObject> event_json(Event event) {
  if (event.is_all_day) return std::nullopt;
  std::optional<std::string> title = ns_string_value(std::move(event.title));
  if (!title) return std::nullopt;

  const double starts = event.start_date.time_interval_since_1970;
  const double ends = event.end_date.time_interval_since_1970;
  std::optional<std::string> location = ns_string_value(std::move(event.location));
  const std::optional<std::string> notes = ns_string_value(std::move(event.notes));
  std::optional<std::string> url_text;
  if (event.url) url_text = ns_string_value(std::move(event.url->absolute_string));
  std::optional<std::string> join_url = find_join_url({view_of(url_text), view_of(location), view_of(notes)});

  std::optional<std::string> organizer;
  if (event.organizer) organizer = ns_string_value(std::move(event.organizer->name));

  Json attendees = Json::array();
  std::uint64_t accepted = 0;
  if (event.attendees) {
    attendees.get_ref<Json::array_t&>().reserve(event.attendees->size());
    for (Participant& participant : *event.attendees) {
      if (auto name = ns_string_value(std::move(participant.name))) attendees.push_back(std::move(*name));
      // Counted named or not: an accepted invitee without a name is still there.
      if (participant.participant_status == eventkit::EKParticipantStatusAccepted) ++accepted;
    }
  }

  Json calendar = nullptr;
  Json calendar_color = nullptr;
  if (event.calendar) {
    calendar = ns_string_text(std::move(event.calendar->title));
    calendar_color = text_or_null(calendar_color_hex(event.calendar->cg_color));
  }

  // Filled key by key: a braced list would build a two-element array per key first.
  Json object = Json::object();
  object.emplace("eventId", text_or_null(ns_string_value(std::move(event.event_identifier))));
  object.emplace("title", std::move(*title));
  object.emplace("startsAtEpoch", seconds_or_null(starts));
  object.emplace("endsAtEpoch", seconds_or_null(ends));
  object.emplace("organizer", text_or_null(std::move(organizer)));
  object.emplace("attendees", std::move(attendees));
  object.emplace("acceptedCount", accepted);
  object.emplace("location", text_or_null(std::move(location)));
  object.emplace("joinUrl", text_or_null(std::move(join_url)));
  object.emplace("calendar", std::move(calendar));
  object.emplace("calendarColor", std::move(calendar_color));
  const double sort_key = std::isfinite(starts) ? starts : std::numeric_limits<double>::max();
  return CalendarEventObject{sort_key, std::move(object)};
}

}  // namespace ombri
