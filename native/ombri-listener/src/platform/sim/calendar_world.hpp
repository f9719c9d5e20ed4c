#pragma once
// The simulated calendar store: its authorization, how the user answers a
// full-access request, whether a query raises, and the events.
//
// The program runs on one world: the one a test installed, else the one the
// JSON file named by OMBRI_SIM_CALENDAR describes, else an empty calendar
// whose access is not determined yet.

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/eventkit.hpp"
#include "platform/sim/current_world.hpp"

namespace ombri::sim {

struct AccessAnswer {
  enum class Decision { Grant, Deny, Never };
  Decision decision = Decision::Grant;
  std::chrono::milliseconds delay{0};  // how long the user takes
  std::optional<std::string> error;    // handed to the completion with the decision
};

enum class QueryRaise { None, Predicate, Query };

struct CalendarWorldSpec {
  eventkit::EKAuthorizationStatus authorization = eventkit::EKAuthorizationStatusNotDetermined;
  AccessAnswer answer;
  QueryRaise raise = QueryRaise::None;
  std::vector<eventkit::Event> events;  // absolute times

  // Access not determined yet, no events.
  static CalendarWorldSpec standard() { return {}; }
};

class CalendarWorld {
 public:
  explicit CalendarWorld(CalendarWorldSpec spec);
  ~CalendarWorld();  // answers still pending are dropped
  CalendarWorld(const CalendarWorld&) = delete;
  CalendarWorld& operator=(const CalendarWorld&) = delete;

  void set_authorization(eventkit::EKAuthorizationStatus status);
  void set_answer(AccessAnswer answer);
  void set_raise(QueryRaise raise);
  void set_events(std::vector<eventkit::Event> events);

  eventkit::EKAuthorizationStatus authorization() const;
  void request_full_access(eventkit::AccessCompletion completion);
  void raise_if(QueryRaise point) const;
  std::vector<eventkit::Event> events_between(eventkit::Date start, eventkit::Date end) const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  CalendarWorldSpec spec_;
  bool shutting_down_ = false;
  struct Answering {
    std::thread thread;
    bool done = false;  // joined by the next request, so threads do not pile up
  };
  std::list<Answering> answering_;
  std::vector<eventkit::AccessCompletion> never_answered_;  // kept, as the store keeps the block
};

CalendarWorld& calendar_world();

using ScopedCalendarWorld = ScopedWorld<CalendarWorld, CalendarWorldSpec>;

}  // namespace ombri::sim
