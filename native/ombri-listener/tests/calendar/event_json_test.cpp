#include "calendar/event_json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "calendar_events.hpp"

namespace ombri {
namespace {

using namespace eventkit;
using test::timed_event;

std::string object_text(Event event) {
  auto object = event_json(std::move(event));
  return object ? to_json_text(object->object) : "skipped";
}

TEST(EventJson, SkipsAllDayEventsAndEventsWithoutAUsableTitle) {
  struct Case {
    std::optional<std::string> title;
    bool all_day;
    bool kept;
  };
  const Case cases[] = {
      {"Standup", false, true}, {"Standup", true, false},      {std::nullopt, false, false},
      {"", false, false},       {" \t\u3000\n", false, false}, {"\u200b", false, true},
  };
  for (const Case& c : cases) {
    Event event = timed_event("", 1000, 2000);
    event.title = c.title;
    event.is_all_day = c.all_day;
    EXPECT_EQ(event_json(event).has_value(), c.kept) << ::testing::PrintToString(c.title) << " " << c.all_day;
  }
}

TEST(EventJson, AFullEventGivesAllElevenKeys) {
  Event event = timed_event("  Weekly sync ", 1700000000.25, 1700001800.5);
  event.event_identifier = "E1:abc";
  event.location = "Room 4 (https://example.com/room)";
  event.notes = "Agenda: https://docs.example.com\nJoin: https://acme.zoom.us/j/123?pwd=x), bye";
  event.url = Url{"https://meet.google.com/abc-defg-hij"};
  event.organizer = Participant{"Ada Lovelace", EKParticipantStatusAccepted};
  event.attendees = std::vector<Participant>{{"Bob", EKParticipantStatusAccepted},
                                             {std::nullopt, EKParticipantStatusAccepted},
                                             {" ", EKParticipantStatusDeclined},
                                             {"Zo\u00eb", EKParticipantStatusTentative},
                                             {"Carl", EKParticipantStatusAccepted}};
  event.calendar = Calendar{"Work", Color{{{0.2, 0.4, 0.6, 1.0}}}};
  EXPECT_EQ(object_text(event), R"({"acceptedCount":3,"attendees":["Bob","Zo)"
                                "\u00eb"
                                R"(","Carl"],"calendar":"Work","calendarColor":"#336699","endsAtEpoch":1700001800.5,)"
                                R"("eventId":"E1:abc","joinUrl":"https://meet.google.com/abc-defg-hij",)"
                                R"j("location":"Room 4 (https://example.com/room)","organizer":"Ada Lovelace",)j"
                                R"("startsAtEpoch":1700000000.25,"title":"  Weekly sync "})");

  // Without the URL field the notes' link is found, without its trailing ")," .
  event.url = Url{std::nullopt};
  EXPECT_NE(object_text(event).find(R"("joinUrl":"https://acme.zoom.us/j/123?pwd=x")"), std::string::npos);
}

TEST(EventJson, WhatTheEventLacksIsNullEmptyOrZero) {
  const double nan = std::nan("");
  Event bare = timed_event("Focus", nan, nan);
  EXPECT_EQ(object_text(bare),
            R"({"acceptedCount":0,"attendees":[],"calendar":null,"calendarColor":null,"endsAtEpoch":null,)"
            R"("eventId":null,"joinUrl":null,"location":null,"organizer":null,"startsAtEpoch":null,"title":"Focus"})");

  Event blanks = timed_event("Focus", 10, std::numeric_limits<double>::infinity());
  blanks.event_identifier = " ";
  blanks.location = "";
  blanks.notes = "\u3000";
  blanks.url = Url{"  "};
  blanks.organizer = Participant{std::nullopt, EKParticipantStatusAccepted};
  blanks.attendees = std::vector<Participant>{};
  blanks.calendar = Calendar{"", std::nullopt};
  EXPECT_EQ(object_text(blanks),
            R"({"acceptedCount":0,"attendees":[],"calendar":"","calendarColor":null,"endsAtEpoch":null,)"
            R"("eventId":null,"joinUrl":null,"location":null,"organizer":null,"startsAtEpoch":10.0,"title":"Focus"})");

  Event colourless = timed_event("Focus", 10, 20);
  colourless.calendar = Calendar{" Home ", Color{std::vector<double>{}}};
  colourless.organizer = Participant{"\t", EKParticipantStatusUnknown};
  const Json object = event_json(colourless)->object;
  EXPECT_EQ(object["calendar"], " Home ");
  EXPECT_TRUE(object["calendarColor"].is_null());
  EXPECT_TRUE(object["organizer"].is_null());
}

TEST(EventJson, TheSortKeyIsTheStartOrTheLargestDouble) {
  const double max = std::numeric_limits<double>::max();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double starts;
    double key;
  };
  for (const Case& c :
       {Case{1700000000.5, 1700000000.5}, Case{-5.0, -5.0}, Case{std::nan(""), max}, Case{inf, max}, Case{-inf, max}}) {
    const auto object = event_json(timed_event("x", c.starts, 0.0));
    ASSERT_TRUE(object);
    EXPECT_EQ(object->sort_key, c.key) << c.starts;
  }
}

TEST(EventJson, StoreTextThatIsNotUtf8IsRepaired) {
  Event event = timed_event(std::string("Plan\xff", 5), 0, 0);
  event.calendar = Calendar{std::string("\xc3", 1), std::nullopt};
  const Json object = event_json(event)->object;
  EXPECT_EQ(object["title"], "Plan\ufffd");
  EXPECT_EQ(object["calendar"], "\ufffd");
}

}  // namespace
}  // namespace ombri
