#include "listener/capture_start.hpp"

#include <gtest/gtest.h>

#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::chunky_wav;
using test::TempDir;

Json start_request(Json args) { return Json{{"id", "7"}, {"cmd", "start"}, {"args", std::move(args)}}; }

TEST(RealStart, InputWavChecks) {
  struct Case {
    const char* name;
    Json args;
    const char* code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"inputWav null",
       {{"inputWav", nullptr}},
       "invalid_request",
       "inputWav must be an object with mic and system WAV paths."},
      {"one usable path",
       {{"inputWav", {{"mic", "a.wav"}, {"system", " "}}}},
       "invalid_request",
       "inputWav requires both mic and system WAV paths."},
      {"an empty object is a normal start",
       {{"inputWav", Json::object()}},
       "invalid_request",
       "meetingDir is required."},
      {"non-string paths are a normal start",
       {{"inputWav", {{"mic", 1}, {"system", false}}}},
       "invalid_request",
       "meetingDir is required."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto [sender, receiver] = make_event_channel();
    RuntimeState state(sender);
    state.status.state = "error";
    CommandOutcome outcome;
    real_start(outcome, start_request(c.args), state, "7");
    EXPECT_EQ(outcome.response["id"], "7");
    EXPECT_EQ(outcome.response["error"]["code"], c.code);
    EXPECT_EQ(outcome.response["error"]["message"], c.message);
    EXPECT_TRUE(outcome.events.empty());
    EXPECT_EQ(state.status.state, "error");
  }
}

TEST(RealStart, FixtureBranchResetsTheStatusAndNeedsNoMeetingDir) {
  TempDir dir;
  const std::string mic = chunky_wav(dir, "mic.wav", 2);
  const std::string system = chunky_wav(dir, "system.wav", 1);
  RuntimeState state(std::nullopt);
  state.status = ListenerStatus{"error", std::string("s"), std::string("t"), std::string("broken")};
  CommandOutcome outcome;
  real_start(outcome, start_request({{"inputWav", {{"mic", mic}, {"system", system}}}, {"sessionId", "ignored"}}),
             state, "7");
  ASSERT_EQ(outcome.response["ok"], true) << outcome.response.dump();
  const Json& result = outcome.response["result"];
  EXPECT_EQ(result["sessionId"], "fixture-meeting");
  EXPECT_EQ(result["audioPaths"], (Json{{"mic", mic}, {"system", system}}));
  EXPECT_EQ(result["transcriptionReady"], true);
  EXPECT_FALSE(result.contains("systemAudioReason"));
  EXPECT_EQ(result["capabilities"]["fixtureInput"],
            (Json{{"status", "ready"}, {"reason", "Deterministic inputWav fixture mode is active."}}));
  EXPECT_EQ(outcome.events.size(), 2u + 2u + 1u + 1u);
  EXPECT_EQ(state.status.to_json(), ListenerStatus{}.to_json());
  EXPECT_FALSE(state.active_capture);
}

TEST(RealStart, FixtureFailuresAndARunningCaptureLeaveTheStatus) {
  TempDir dir;
  RuntimeState state(std::nullopt);
  state.status.state = "error";
  CommandOutcome failed;
  real_start(failed, start_request({{"inputWav", {{"mic", dir.file("no.wav")}, {"system", dir.file("no.wav")}}}}),
             state, "7");
  EXPECT_EQ(failed.response["error"]["code"], "input_wav_failed");
  EXPECT_EQ(state.status.state, "error");

  state.active_capture = ActiveCapture{.session_id = "mic-meeting",
                                       .mic_path = dir.file("audio-mic.wav"),
                                       .system_path = std::nullopt,
                                       .system_capture = std::nullopt,
                                       .mic_writer = nullptr,
                                       .mic_stream = std::nullopt};
  CommandOutcome refused;
  real_start(refused, start_request({{"inputWav", {{"mic", "a.wav"}, {"system", "b.wav"}}}}), state, "7");
  EXPECT_EQ(refused.response["error"]["code"], "capture_already_running");
  EXPECT_EQ(refused.response["error"]["message"], "A native meeting capture session is already running.");
  EXPECT_TRUE(state.active_capture);
}

}  // namespace
}  // namespace ombri
