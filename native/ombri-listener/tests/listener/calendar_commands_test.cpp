#include "listener/calendar_commands.hpp"

#include <gtest/gtest.h>

#include "calendar_events.hpp"
#include "listener/commands.hpp"
#include "platform/sim/calendar_world.hpp"

namespace ombri {
namespace {

using namespace eventkit;
using namespace std::chrono_literals;
using sim::AccessAnswer;
using sim::CalendarWorldSpec;
using sim::ScopedCalendarWorld;

std::string answer(const Json& request) {
  RuntimeState state(std::nullopt);
  CommandOutcome outcome;
  handle_command(outcome, request, state);
  EXPECT_TRUE(outcome.events.empty());
  return to_json_text(outcome.response);
}

std::string answer(const char* cmd) { return answer(Json{{"id", "c"}, {"cmd", cmd}}); }

TEST(CalendarCommands, TheAuthorizationStatusText) {
  struct Case {
    EKAuthorizationStatus status;
    const char* text;
  };
  for (const Case& c :
       {Case{EKAuthorizationStatusNotDetermined, "notDetermined"}, Case{EKAuthorizationStatusRestricted, "denied"},
        Case{EKAuthorizationStatusDenied, "denied"}, Case{EKAuthorizationStatusFullAccess, "authorized"},
        Case{EKAuthorizationStatusWriteOnly, "denied"}, Case{static_cast<EKAuthorizationStatus>(9), "denied"}}) {
    CalendarWorldSpec spec;
    spec.authorization = c.status;
    ScopedCalendarWorld world(spec);
    EXPECT_EQ(answer("calendarStatus"), std::string(R"({"id":"c","ok":true,"result":{"status":")") + c.text + "\"}}");
  }
}

// The status is read after the user's decision, not before the request.
TEST(CalendarCommands, RequestAccessReportsTheStatusAfterTheAnswer) {
  for (auto decision : {AccessAnswer::Decision::Grant, AccessAnswer::Decision::Deny}) {
    CalendarWorldSpec spec;
    spec.answer = {decision, 20ms, "ignored"};
    ScopedCalendarWorld world(spec);
    EXPECT_EQ(answer("calendarRequestAccess"),
              decision == AccessAnswer::Decision::Grant
                  ? R"({"id":"c","ok":true,"result":{"granted":true,"status":"authorized"}})"
                  : R"({"id":"c","ok":true,"result":{"granted":false,"status":"denied"}})");
  }
}

TEST(CalendarCommands, EventsWithoutFullAccessAreEmptyAndAFailedQueryIsAnError) {
  CalendarWorldSpec spec;
  spec.raise = sim::QueryRaise::Predicate;
  spec.events = {test::timed_event("soon", 0, 1e12)};
  ScopedCalendarWorld world(spec);
  EXPECT_EQ(answer("calendarEvents"), R"({"id":"c","ok":true,"result":{"events":[],"status":"notDetermined"}})");
  world->set_authorization(EKAuthorizationStatusFullAccess);
  EXPECT_EQ(answer("calendarEvents"),
            R"({"error":{"code":"calendar_failed","message":"EventKit query failed."},"id":"c","ok":false})");
}

// hoursForward is any JSON number; 12 hours otherwise. Events a minute
// inside the 1, 12 and 72 hour edges tell which window was asked for.
TEST(CalendarCommands, HoursForwardTakesEveryJsonNumber) {
  const double now = test::seconds_since_1970();
  CalendarWorldSpec spec;
  spec.authorization = EKAuthorizationStatusFullAccess;
  for (double hours : {0.5, 2.0, 11.9, 23.9, 71.9})
    spec.events.push_back(test::timed_event(std::to_string(hours), now + hours * 3600, now + hours * 3600 + 60));
  ScopedCalendarWorld world(spec);
  struct Case {
    Json args;
    std::size_t count;
  };
  const Case cases[] = {
      {Json{{"hoursForward", 24}}, 4},
      {Json{{"hoursForward", -3}}, 1},
      {Json{{"hoursForward", 2.5}}, 2},
      {Json{{"hoursForward", std::numeric_limits<std::uint64_t>::max()}}, 5},
      {Json{{"hoursForward", std::numeric_limits<std::int64_t>::min()}}, 1},
      {Json{{"hoursForward", "24"}}, 3},
      {Json{{"hoursForward", true}}, 3},
      {Json{{"hoursForward", nullptr}}, 3},
      {Json{{"hoursForward", Json::array({24})}}, 3},
      {Json::object(), 3},
      {Json("hoursForward"), 3},
      {nullptr, 3},
  };
  for (const Case& c : cases) {
    Json request{{"id", "c"}, {"cmd", "calendarEvents"}};
    if (!c.args.is_null()) request["args"] = c.args;
    const Json response = Json::parse(answer(request));
    EXPECT_EQ(response["result"]["events"].size(), c.count) << c.args;
  }
}

}  // namespace
}  // namespace ombri
