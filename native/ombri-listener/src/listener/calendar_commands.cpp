#include "listener/calendar_commands.hpp"

#include "calendar/access_request.hpp"
#include "calendar/upcoming_events.hpp"
#include "platform/eventkit.hpp"
#include "protocol/request_args.hpp"

namespace ombri {
namespace {

constexpr double kDefaultHoursForward = 12.0;

// Unsigned, negative and floating-point numbers alike; the window's bounds
// are upcoming_events' business.
double hours_forward(const Json& request) {
  const Json& args = request_args(request);
  const auto hours = args.find("hoursForward");
  if (hours == args.end() || !hours->is_number()) return kDefaultHoursForward;
  return hours->get<double>();
}

}  // namespace

std::string calendar_authorization_status() {
  using namespace eventkit;
  switch (EventStore::authorization_status_for_entity_type(EKEntityTypeEvent)) {
    case EKAuthorizationStatusFullAccess:
      return "authorized";
    case EKAuthorizationStatusNotDetermined:
      return "notDetermined";
    default:
      return "denied";
  }
}

void handle_calendar_status(CommandOutcome& outcome, const Json&, const RuntimeState&, const std::string& id) {
  outcome.response = response_ok(id, Json{{"status", calendar_authorization_status()}});
}

void handle_calendar_events(CommandOutcome& outcome, const Json& request, const RuntimeState&, const std::string& id) {
  auto events = upcoming_events(hours_forward(request));
  if (!events) {
    outcome.response = response_error(id, "calendar_failed", events.error());
    return;
  }
  outcome.response = response_ok(id, Json{{"events", std::move(*events)}, {"status", calendar_authorization_status()}});
}

void handle_calendar_request_access(CommandOutcome& outcome, const Json&, const RuntimeState&, const std::string& id) {
  const bool granted = request_access();
  outcome.response = response_ok(id, Json{{"granted", granted}, {"status", calendar_authorization_status()}});
}

}  // namespace ombri
