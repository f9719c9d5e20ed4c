#include "protocol/level_hub.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace ombri {
namespace {

using namespace std::chrono_literals;

// The hub's monotonic clock, moved by hand.
LevelHub::Clock::duration fake_time{100s};
LevelHub::Clock::time_point fake_now() { return LevelHub::Clock::time_point(fake_time); }

// The events received so far, as text with "at" checked for its form and dropped.
std::vector<std::string> drain(EventReceiver& receiver, std::size_t count) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    auto event = receiver.receive();
    if (!event) break;
    EXPECT_TRUE(std::regex_match((*event)["at"].get<std::string>(), std::regex(R"(\d+\.\d{3}Z)")));
    event->erase("at");
    texts.push_back(to_json_text(*event));
  }
  return texts;
}

std::string level(const char* mic, const char* system) {
  return std::string(R"({"mic":)") + mic + R"(,"sessionId":"mic-m","system":)" + system + R"(,"type":"level"})";
}

TEST(LevelHub, OneClockForBothSourcesAtMostEvery250ms) {
  auto [sender, receiver] = make_event_channel();
  fake_time = 100s;
  LevelHub hub(std::move(sender), "mic-m", fake_now);

  hub.report(false, 0.5f);  // first report: at once
  hub.report(false, 0.25f);
  hub.report(true, 0.75f);
  fake_time += 249ms;
  hub.report(false, 0.5f);
  hub.report(true, std::nanf(""));  // changes no peak
  hub.report(false, -3.0f);         // never lowers one
  fake_time += 1ms;                 // exactly 250 ms
  hub.report(false, 0.125f);
  fake_time += 250ms;
  hub.report(true, std::nanf(""));  // still sends: both peaks restarted at 0
  fake_time += 300ms;
  hub.report(false, 1.000030517578125f);  // a peak above 1 is sent as 1
  fake_time += 300ms;
  hub.report(true, 0.1f);  // single precision widened: 0.10000000149011612
  fake_time -= 10s;        // a clock reading before the last event: no time passed
  hub.report(false, 0.3f);

  EXPECT_EQ(drain(receiver, 5),
            (std::vector<std::string>{level("0.5", "0.0"), level("0.5", "0.75"), level("0.0", "0.0"),
                                      level("1.0", "0.0"), level("0.0", "0.10000000149011612")}));
}

TEST(LevelHub, ReportsGoOnAfterTheReceiverIsGone) {
  auto [sender, receiver] = make_event_channel();
  fake_time = 100s;
  LevelHub hub(std::move(sender), "mic-m", fake_now);
  { EventReceiver gone = std::move(receiver); }
  for (int i = 0; i < 3; ++i, fake_time += 1s) hub.report(i % 2, 0.5f);
}

}  // namespace
}  // namespace ombri
