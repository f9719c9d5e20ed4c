#include "platform/eventkit.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "platform/sim/calendar_world.hpp"

namespace ombri {
namespace {

using namespace eventkit;
using sim::AccessAnswer;
using sim::CalendarWorldSpec;
using sim::ScopedCalendarWorld;
using Clock = std::chrono::steady_clock;

struct Answer {
  bool granted;
  std::optional<std::string> error;
  std::thread::id thread;
  Clock::time_point at;
  EKAuthorizationStatus status_inside;
};

std::future<Answer> request() {
  auto promise = std::make_shared<std::promise<Answer>>();
  EventStore().request_full_access_to_events([promise](bool granted, std::optional<std::string> error) {
    promise->set_value({granted, std::move(error), std::this_thread::get_id(), Clock::now(),
                        EventStore::authorization_status_for_entity_type(EKEntityTypeEvent)});
  });
  return promise->get_future();
}

TEST(PlatformEventKit, TheDefaultCalendarIsUndecidedAndEmpty) {
  ScopedCalendarWorld world;
  EXPECT_EQ(EventStore::authorization_status_for_entity_type(EKEntityTypeEvent), EKAuthorizationStatusNotDetermined);
  EventStore store;
  EXPECT_TRUE(store.events_matching(store.predicate_for_events({0.0}, {1e12})).empty());
}

TEST(PlatformEventKit, TheUsersAnswerArrivesLaterOnAnotherThread) {
  struct Case {
    AccessAnswer::Decision decision;
    bool granted;
    EKAuthorizationStatus after;
  };
  for (const Case& c : {Case{AccessAnswer::Decision::Grant, true, EKAuthorizationStatusFullAccess},
                        Case{AccessAnswer::Decision::Deny, false, EKAuthorizationStatusDenied}}) {
    CalendarWorldSpec spec;
    spec.answer = {c.decision, std::chrono::milliseconds(150), "the user closed the prompt"};
    ScopedCalendarWorld world(spec);
    const auto asked = Clock::now();
    auto answer = request();
    const Answer got = answer.get();
    EXPECT_EQ(got.granted, c.granted);
    EXPECT_EQ(got.error, "the user closed the prompt");
    EXPECT_NE(got.thread, std::this_thread::get_id());
    EXPECT_GE(got.at - asked, std::chrono::milliseconds(150));
    EXPECT_EQ(got.status_inside, c.after);  // decided before the completion runs
  }
}

TEST(PlatformEventKit, ADecidedStoreAnswersAtOnceWithoutAsking) {
  CalendarWorldSpec spec;
  spec.authorization = EKAuthorizationStatusDenied;
  spec.answer = {AccessAnswer::Decision::Grant, std::chrono::hours(1), std::nullopt};
  ScopedCalendarWorld world(spec);
  EXPECT_FALSE(request().get().granted);
  EXPECT_EQ(EventStore::authorization_status_for_entity_type(EKEntityTypeEvent), EKAuthorizationStatusDenied);
  world->set_authorization(EKAuthorizationStatusFullAccess);
  EXPECT_TRUE(request().get().granted);
}

TEST(PlatformEventKit, AnUnansweredRequestKeepsItsCompletionUntilTheStoreGoes) {
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watch = held;
  {
    CalendarWorldSpec spec;
    spec.answer.decision = AccessAnswer::Decision::Never;
    ScopedCalendarWorld world(spec);
    std::atomic<bool> called{false};
    EventStore().request_full_access_to_events(
        [held = std::move(held), &called](bool, std::optional<std::string>) { called = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(called);
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(EventStore::authorization_status_for_entity_type(EKEntityTypeEvent), EKAuthorizationStatusNotDetermined);
  }
  EXPECT_TRUE(watch.expired());
}

TEST(PlatformEventKit, ALateAnswerIsDroppedWhenTheStoreGoesFirst) {
  std::atomic<bool> called{false};
  {
    CalendarWorldSpec spec;
    spec.answer = {AccessAnswer::Decision::Grant, std::chrono::hours(1), std::nullopt};
    ScopedCalendarWorld world(spec);
    EventStore().request_full_access_to_events([&called](bool, std::optional<std::string>) { called = true; });
  }
  EXPECT_FALSE(called);
}

TEST(PlatformEventKit, QueriesRaiseWhereTheWorldSaysAndReturnTheWindowInStoreOrder) {
  CalendarWorldSpec spec;
  auto event = [](std::string title, double start, double end) {
    Event e;
    e.title = std::move(title);
    e.start_date = {start};
    e.end_date = {end};
    return e;
  };
  spec.events = {event("late", 500, 600), event("inside", 150, 160), event("before", 0, 100),
                 event("untimed", NAN, NAN), event("overlapping", 50, 101)};
  ScopedCalendarWorld world(spec);
  EventStore store;
  std::vector<std::string> titles;
  for (const Event& e : store.events_matching(store.predicate_for_events({100}, {200}))) titles.push_back(*e.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"inside", "untimed", "overlapping"}));

  world->set_raise(sim::QueryRaise::Predicate);
  EXPECT_THROW((void)store.predicate_for_events({100}, {200}), PlatformException);
  world->set_raise(sim::QueryRaise::Query);
  const Predicate predicate = store.predicate_for_events({100}, {200});
  EXPECT_THROW((void)store.events_matching(predicate), PlatformException);
}

}  // namespace
}  // namespace ombri
