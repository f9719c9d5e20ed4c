#include "calendar/upcoming_events.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "calendar_events.hpp"
#include "platform/sim/calendar_world.hpp"

namespace ombri {
namespace {

using namespace eventkit;
using sim::CalendarWorldSpec;
using sim::QueryRaise;
using sim::ScopedCalendarWorld;
using test::seconds_since_1970;
using test::timed_event;

std::vector<std::string> titles(const Result<std::vector<Json>>& events) {
  std::vector<std::string> found;
  EXPECT_TRUE(events.ok()) << events.error();
  if (!events) return found;
  for (const Json& event : *events) found.push_back(event["title"].get<std::string>());
  return found;
}

CalendarWorldSpec full_access(std::vector<Event> events) {
  CalendarWorldSpec spec;
  spec.authorization = EKAuthorizationStatusFullAccess;
  spec.events = std::move(events);
  return spec;
}

TEST(UpcomingEvents, OnlyFullAccessReadsTheStore) {
  const double now = seconds_since_1970();
  struct Case {
    EKAuthorizationStatus status;
    std::size_t count;
  };
  for (const Case& c : {Case{EKAuthorizationStatusNotDetermined, 0}, Case{EKAuthorizationStatusRestricted, 0},
                        Case{EKAuthorizationStatusDenied, 0}, Case{EKAuthorizationStatusWriteOnly, 0},
                        Case{EKAuthorizationStatusFullAccess, 1}}) {
    CalendarWorldSpec spec = full_access({timed_event("soon", now + 60, now + 120)});
    spec.authorization = c.status;
    spec.raise = c.count ? QueryRaise::None : QueryRaise::Query;  // a query would fail loudly
    ScopedCalendarWorld world(spec);
    auto events = upcoming_events(12);
    ASSERT_TRUE(events.ok()) << c.status;
    EXPECT_EQ(events->size(), c.count) << c.status;
  }
}

TEST(UpcomingEvents, ARaisingStoreIsAFailedQuery) {
  for (QueryRaise raise : {QueryRaise::Predicate, QueryRaise::Query}) {
    CalendarWorldSpec spec = full_access({timed_event("soon", 0, 1e12)});
    spec.raise = raise;
    ScopedCalendarWorld world(spec);
    auto events = upcoming_events(12);
    ASSERT_FALSE(events.ok());
    EXPECT_EQ(events.error(), "EventKit query failed.");
  }
}

// The window runs from an hour ago to 1..72 hours ahead; events are a
// minute inside or outside each edge, so the test's own clock may lag.
TEST(UpcomingEvents, TheWindowIsClampedToOneToSeventyTwoHoursAhead) {
  const double now = seconds_since_1970();
  const double hour = 3600, minute = 60;
  ScopedCalendarWorld world(full_access({
      timed_event("ended before the window", now - 2 * hour, now - hour - minute),
      timed_event("still running from before", now - 2 * hour, now - hour + minute),
      timed_event("in the first hour", now + hour - minute, now + hour + 10 * minute),
      timed_event("after the first hour", now + hour + minute, now + 2 * hour),
      timed_event("before 12 hours", now + 12 * hour - minute, now + 13 * hour),
      timed_event("after 12 hours", now + 12 * hour + minute, now + 13 * hour),
      timed_event("before 72 hours", now + 72 * hour - minute, now + 73 * hour),
      timed_event("after 72 hours", now + 72 * hour + minute, now + 73 * hour),
  }));
  const std::vector<std::string> one_hour = {"still running from before", "in the first hour"};
  const std::vector<std::string> twelve = {"still running from before", "in the first hour", "after the first hour",
                                           "before 12 hours"};
  std::vector<std::string> seventy_two = twelve;
  seventy_two.insert(seventy_two.end(), {"after 12 hours", "before 72 hours"});
  struct Case {
    double hours;
    std::vector<std::string> titles;
  };
  for (const Case& c : {Case{0, one_hour}, Case{-3, one_hour}, Case{0.5, one_hour}, Case{-1e300, one_hour},
                        Case{std::nan(""), one_hour}, Case{12, twelve}, Case{72, seventy_two}, Case{100, seventy_two},
                        Case{1.8446744073709552e19, seventy_two}, Case{INFINITY, seventy_two}})
    EXPECT_EQ(titles(upcoming_events(c.hours)), c.titles) << c.hours;
}

TEST(UpcomingEvents, SortedByStartStablyWithUntimedEventsLast) {
  const double now = seconds_since_1970();
  const double nan = std::nan("");
  Event all_day = timed_event("all day", now, now + 60);
  all_day.is_all_day = true;
  ScopedCalendarWorld world(full_access({
      timed_event("untimed 1", nan, now + 60),
      timed_event("late", now + 300, now + 400),
      timed_event("equal a", now + 100, now + 200),
      all_day,
      timed_event("", now, now + 60),
      timed_event("early", now - 100, now + 50),
      timed_event("equal b", now + 100, now + 150),
      timed_event("untimed 2", nan, nan),
      timed_event("equal c", now + 100, now + 101),
  }));
  EXPECT_EQ(titles(upcoming_events(12)),
            (std::vector<std::string>{"early", "equal a", "equal b", "equal c", "late", "untimed 1", "untimed 2"}));
}

}  // namespace
}  // namespace ombri
