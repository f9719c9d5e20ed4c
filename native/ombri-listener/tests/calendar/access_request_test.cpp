#include "calendar/access_request.hpp"

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "platform/sim/calendar_world.hpp"
#include "platform_test_support.hpp"

namespace ombri {
namespace {

using namespace eventkit;
using namespace std::chrono_literals;
using sim::AccessAnswer;
using sim::CalendarWorldSpec;
using sim::ScopedCalendarWorld;
using Clock = std::chrono::steady_clock;

EKAuthorizationStatus status() { return EventStore::authorization_status_for_entity_type(EKEntityTypeEvent); }

TEST(RequestAccess, TheUsersAnswerWithinTheWait) {
  struct Case {
    EKAuthorizationStatus before;
    AccessAnswer answer;
    bool granted;
    EKAuthorizationStatus after;
  };
  const Case cases[] = {
      {EKAuthorizationStatusNotDetermined,
       {AccessAnswer::Decision::Grant, 30ms, std::nullopt},
       true,
       EKAuthorizationStatusFullAccess},
      {EKAuthorizationStatusNotDetermined,
       {AccessAnswer::Decision::Deny, 30ms, std::nullopt},
       false,
       EKAuthorizationStatusDenied},
      // The error rides along; the granted flag alone decides.
      {EKAuthorizationStatusNotDetermined,
       {AccessAnswer::Decision::Grant, 0ms, "prompt dismissed"},
       true,
       EKAuthorizationStatusFullAccess},
      {EKAuthorizationStatusNotDetermined,
       {AccessAnswer::Decision::Deny, 0ms, "prompt dismissed"},
       false,
       EKAuthorizationStatusDenied},
      {EKAuthorizationStatusWriteOnly,
       {AccessAnswer::Decision::Grant, 0ms, std::nullopt},
       true,
       EKAuthorizationStatusFullAccess},
      {EKAuthorizationStatusDenied,
       {AccessAnswer::Decision::Never, 0ms, std::nullopt},
       false,
       EKAuthorizationStatusDenied},
      {EKAuthorizationStatusFullAccess,
       {AccessAnswer::Decision::Never, 0ms, std::nullopt},
       true,
       EKAuthorizationStatusFullAccess},
  };
  for (const Case& c : cases) {
    CalendarWorldSpec spec;
    spec.authorization = c.before;
    spec.answer = c.answer;
    ScopedCalendarWorld world(spec);
    EXPECT_EQ(request_access(test::kPatience), c.granted) << c.before;
    EXPECT_EQ(status(), c.after) << c.before;
  }
}

// The late answer lands after request_access has returned and dropped its
// end of the channel; the sanitizer builds check that nothing freed is touched.
TEST(RequestAccess, AnAnswerAfterTheWaitIsFalseAndOnlyLaterReadsSeeIt) {
  CalendarWorldSpec spec;
  spec.answer = {AccessAnswer::Decision::Grant, 300ms, std::nullopt};
  ScopedCalendarWorld world(spec);
  const auto asked = Clock::now();
  EXPECT_FALSE(request_access(20ms));
  EXPECT_LT(Clock::now() - asked, 300ms);
  EXPECT_EQ(status(), EKAuthorizationStatusNotDetermined);
  EXPECT_TRUE(test::eventually([] { return status() == EKAuthorizationStatusFullAccess; }));

  // Decided now: a second request is answered at once.
  EXPECT_TRUE(request_access(test::kPatience));
}

TEST(RequestAccess, NoAnswerIsFalseAfterTheWait) {
  CalendarWorldSpec spec;
  spec.answer.decision = AccessAnswer::Decision::Never;
  ScopedCalendarWorld world(spec);
  const auto asked = Clock::now();
  EXPECT_FALSE(request_access(100ms));
  EXPECT_GE(Clock::now() - asked, 100ms);
  EXPECT_EQ(status(), EKAuthorizationStatusNotDetermined);
}

TEST(RequestAccess, AStoreThatDropsTheRequestUnansweredEndsTheWaitAtOnce) {
  CalendarWorldSpec spec;
  spec.answer.decision = AccessAnswer::Decision::Never;
  auto world = std::make_unique<ScopedCalendarWorld>(spec);
  const auto asked = Clock::now();
  auto granted = std::async(std::launch::async, [] { return request_access(test::kPatience); });
  std::this_thread::sleep_for(200ms);  // the request reaches the store meanwhile
  world.reset();                       // the store goes, and with it the kept completion
  EXPECT_FALSE(granted.get());
  EXPECT_LT(Clock::now() - asked, test::kPatience);
}

}  // namespace
}  // namespace ombri
