#include "listener/commands.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "mic_capture.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

using test::capture_writing;
using test::TempDir;

const char kIdleStatusEvent[] =
    R"({"status":{"reason":null,"sessionId":null,"startedAt":null,"state":"idle"},"type":"status"})";

// The response text with its stop time (checked for its form) replaced by T.
std::string without_stop_time(Json response) {
  if (response.contains("result")) {
    auto& result = response["result"];
    const auto stopped_at = result["stoppedAt"].get<std::string>();
    EXPECT_TRUE(std::regex_match(stopped_at, std::regex(R"(\d+\.\d{3}Z)"))) << stopped_at;
    result["stoppedAt"] = "T";
  }
  return to_json_text(response);
}

// Whatever the stop gives, the state afterwards is a fresh idle one that
// still sends into the same channel, and one idle status event follows.
TEST(StopCommand, AnswersThenResetsTheState) {
  TempDir dir;
  const std::string mic = dir.file("audio-mic.wav");
  struct Case {
    const char* name;
    std::optional<std::string> session_before;
    std::uint16_t channels;  // 0: no capture running
    int samples;
    std::string response;
  };
  const Case cases[] = {
      {"no capture", std::nullopt, 0, 0,
       R"({"id":"s","ok":true,"result":{"audioPaths":{"mic":null,"system":null},"sessionId":null,"stoppedAt":"T"}})"},
      {"no capture after a smoke start", "smoke-b", 0, 0,
       R"({"id":"s","ok":true,"result":{"audioPaths":{"mic":null,"system":null},"sessionId":"smoke-b","stoppedAt":"T"}})"},
      {"capture stopped", "mic-m", 1, 10,
       R"({"id":"s","ok":true,"result":{"audioPaths":{"mic":")" + mic +
           R"(","system":null},"sessionId":"mic-m","stoppedAt":"T"}})"},
      {"capture fails to stop", "mic-m", 2, 3,
       R"({"error":{"code":"capture_stop_failed","message":"Failed to finalize mic WAV: The number of samples )"
       R"(written is not a multiple of the number of channels."},"id":"s","ok":false})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto [sender, receiver] = make_event_channel();
    RuntimeState state(std::move(sender));
    state.status.state = "recording";
    state.status.session_id = c.session_before;
    state.status.started_at = "1.000Z";
    if (c.channels > 0) state.active_capture = capture_writing(mic, c.channels, c.samples);

    CommandOutcome outcome;
    handle_command(outcome, Json{{"id", "s"}, {"cmd", "stop"}}, state);
    EXPECT_EQ(without_stop_time(outcome.response), c.response);
    ASSERT_EQ(outcome.events.size(), 1u);
    EXPECT_EQ(to_json_text(outcome.events[0]), kIdleStatusEvent);

    EXPECT_FALSE(state.active_capture);
    ASSERT_TRUE(state.event_sender);
    state.event_sender->send(Json("still connected"));
    EXPECT_EQ(receiver.receive(), Json("still connected"));

    CommandOutcome status;
    handle_command(status, Json{{"id", "t"}, {"cmd", "status"}}, state);
    EXPECT_EQ(to_json_text(status.response),
              R"({"id":"t","ok":true,"result":{"reason":null,"sessionId":null,"startedAt":null,"state":"idle"}})");
  }
}

}  // namespace
}  // namespace ombri
