#include "platform/eventkit.hpp"

#include "platform/sim/calendar_world.hpp"

namespace ombri::eventkit {

EKAuthorizationStatus EventStore::authorization_status_for_entity_type(EKEntityType type) {
  if (type != EKEntityTypeEvent) return EKAuthorizationStatusNotDetermined;
  return sim::calendar_world().authorization();
}

void EventStore::request_full_access_to_events(AccessCompletion completion) {
  sim::calendar_world().request_full_access(std::move(completion));
}

Predicate EventStore::predicate_for_events(Date start, Date end) const {
  sim::calendar_world().raise_if(sim::QueryRaise::Predicate);
  return {start, end};
}

std::vector<Event> EventStore::events_matching(const Predicate& predicate) const {
  sim::calendar_world().raise_if(sim::QueryRaise::Query);
  return sim::calendar_world().events_between(predicate.start, predicate.end);
}

}  // namespace ombri::eventkit
