#include "platform/sim/calendar_world.hpp"

#include <cmath>

#include "platform/sim/world_file.hpp"

namespace ombri::sim {

using namespace eventkit;

CalendarWorld::CalendarWorld(CalendarWorldSpec spec) : spec_(std::move(spec)) {}

CalendarWorld::~CalendarWorld() {
  std::list<Answering> threads;
  {
    std::lock_guard lock(mutex_);
    shutting_down_ = true;
    threads.swap(answering_);
  }
  changed_.notify_all();
  for (auto& answering : threads) answering.thread.join();
}

void CalendarWorld::set_authorization(EKAuthorizationStatus status) {
  std::lock_guard lock(mutex_);
  spec_.authorization = status;
}

void CalendarWorld::set_answer(AccessAnswer answer) {
  std::lock_guard lock(mutex_);
  spec_.answer = std::move(answer);
}

void CalendarWorld::set_raise(QueryRaise raise) {
  std::lock_guard lock(mutex_);
  spec_.raise = raise;
}

void CalendarWorld::set_events(std::vector<Event> events) {
  std::lock_guard lock(mutex_);
  spec_.events = std::move(events);
}

EKAuthorizationStatus CalendarWorld::authorization() const {
  std::lock_guard lock(mutex_);
  return spec_.authorization;
}

void CalendarWorld::request_full_access(AccessCompletion completion) {
  std::lock_guard lock(mutex_);
  const bool asks_user = spec_.authorization == EKAuthorizationStatusNotDetermined ||
                         spec_.authorization == EKAuthorizationStatusWriteOnly;
  AccessAnswer answer = spec_.answer;
  if (!asks_user) {
    // Decided before: the store answers at once with what stands.
    answer = {spec_.authorization == EKAuthorizationStatusFullAccess ? AccessAnswer::Decision::Grant
                                                                     : AccessAnswer::Decision::Deny,
              std::chrono::milliseconds(0), std::nullopt};
  } else if (answer.decision == AccessAnswer::Decision::Never) {
    never_answered_.push_back(std::move(completion));
    return;
  }
  for (auto it = answering_.begin(); it != answering_.end();) {
    if (!it->done) {
      ++it;
      continue;
    }
    it->thread.join();
    it = answering_.erase(it);
  }
  Answering& slot = answering_.emplace_back();
  // The thread needs the lock held here before it touches its slot.
  slot.thread = std::thread([this, &slot, answer, asks_user, completion = std::move(completion)] {
    const bool granted = answer.decision == AccessAnswer::Decision::Grant;
    {
      std::unique_lock wait(mutex_);
      if (changed_.wait_for(wait, answer.delay, [this] { return shutting_down_; })) return;
      if (asks_user) spec_.authorization = granted ? EKAuthorizationStatusFullAccess : EKAuthorizationStatusDenied;
    }
    completion(granted, answer.error);
    std::lock_guard finished(mutex_);
    slot.done = true;
  });
}

void CalendarWorld::raise_if(QueryRaise point) const {
  std::lock_guard lock(mutex_);
  if (spec_.raise == point) throw PlatformException("simulated calendar query failure");
}

std::vector<Event> CalendarWorld::events_between(Date start, Date end) const {
  std::lock_guard lock(mutex_);
  std::vector<Event> found;
  for (const Event& event : spec_.events) {
    const double from = event.start_date.time_interval_since_1970;
    const double to = event.end_date.time_interval_since_1970;
    // An event without usable times is kept, so readers see such events too.
    const bool untimed = std::isnan(from) || std::isnan(to);
    if (untimed || (from < end.time_interval_since_1970 && to > start.time_interval_since_1970)) found.push_back(event);
  }
  return found;
}

CalendarWorld& calendar_world() {
  return current_world<CalendarWorld, CalendarWorldSpec>("OMBRI_SIM_CALENDAR", load_calendar_world_file);
}

}  // namespace ombri::sim
