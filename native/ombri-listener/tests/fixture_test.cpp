#include "fixture.hpp"

#include <gtest/gtest.h>

#include "capture_start.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::Bytes;
using test::TempDir;

TEST(FixtureTranscript, RoundsTheExactValueHalfToEven) {
  struct Case {
    const char* channel;
    WavChunk chunk;
    std::uint64_t index, total;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"mic",
       {0.0, 2.75, 0.1, 0.5f},
       1,
       3,
       "Fixture microphone audio chunk 1/3 captured from 0.0s to 2.8s (2.8s, peak 0.500)."},
      {"system",
       {0.25, 0.75, 0.1, 0.0625f},
       2,
       2,
       "Fixture system audio chunk 2/2 captured from 0.2s to 0.8s (0.5s, peak 0.062)."},
      {"mic",
       {12.25, 24.25, 0.1, 0.3f},
       10,
       12,
       "Fixture microphone audio chunk 10/12 captured from 12.2s to 24.2s (12.0s, peak 0.300)."},
      // 0.15 lies below the tie in binary, and 0.0005f above it.
      {"mic",
       {0.0, 0.15, 0.1, 0.0005f},
       1,
       1,
       "Fixture microphone audio chunk 1/1 captured from 0.0s to 0.1s (0.1s, peak 0.001)."},
  };
  for (const auto& c : cases) EXPECT_EQ(fixture_transcript(c.channel, c.chunk, c.index, c.total), c.text);
}

// Loud and quiet stretches, each loud one a chunk of its own.
std::string chunky_wav(const TempDir& dir, const std::string& name, int chunks) {
  Bytes raw;
  for (int c = 0; c < chunks; ++c) {
    for (int i = 0; i < 4000; ++i) test::put_u16(raw, 8000);
    for (int i = 0; i < 12000; ++i) test::put_u16(raw, 0);
  }
  return test::sox_wav(dir, name, "signed", 16, 1, 16000, raw);
}

TEST(FixtureEvents, OrderKeysAndNumberTypes) {
  TempDir dir;
  auto events = fixture_wav_events(chunky_wav(dir, "mic.wav", 3), chunky_wav(dir, "system.wav", 1), "demo");
  ASSERT_TRUE(events.ok()) << events.error();
  ASSERT_EQ(events->size(), 7u);
  const auto& e = *events;
  EXPECT_EQ(e[0]["type"], "status");
  EXPECT_EQ(e[0]["status"].size(), 3u);
  EXPECT_EQ(e[0]["status"]["state"], "recording");
  EXPECT_EQ(e[0]["status"]["sessionId"], "fixture-demo");
  EXPECT_EQ(e[1]["type"], "level");
  EXPECT_EQ(e[1]["sessionId"], "fixture-demo");
  EXPECT_TRUE(e[1]["mic"].is_number_float());
  EXPECT_EQ(e[1]["mic"].get<double>(), static_cast<double>(8000.0f / 32767.0f));
  const char* numbering[] = {"1/3", "2/3", "3/3", "1/1"};
  for (int i = 0; i < 4; ++i) {
    const Json& t = e[2 + i];
    EXPECT_EQ(t["type"], "transcript");
    EXPECT_EQ(t["channel"], i < 3 ? "mic" : "system");
    EXPECT_EQ(t["speaker"], i < 3 ? "You" : "Speaker");
    EXPECT_NE(t["text"].get<std::string>().find(numbering[i]), std::string::npos);
    EXPECT_TRUE(t["t0"].is_number_float());
    EXPECT_EQ(t["t0"].get<double>(), i < 3 ? i * 1.0 : 0.0);
    EXPECT_EQ(t["final"], true);
    EXPECT_EQ(t.size(), 10u);
  }
  EXPECT_EQ(to_json_text(e[2]["t0"]), "0.0");
  EXPECT_EQ(e[6]["status"].size(), 2u);
  EXPECT_EQ(e[6]["status"]["state"], "idle");
  // Start, completion, level: read in that order.
  const std::string reason = e[6]["status"]["reason"];
  const std::string lead = "Fixture WAV mode completed at ";
  ASSERT_EQ(reason.rfind(lead, 0), 0u);
  const double started = std::stod(e[0]["status"]["startedAt"].get<std::string>());
  const double completed = std::stod(reason.substr(lead.size()));
  const double level_at = std::stod(e[1]["at"].get<std::string>());
  EXPECT_LE(started, completed);
  EXPECT_LE(completed, level_at);
}

TEST(FixtureEvents, TheFirstFailingFileWins) {
  TempDir dir;
  const std::string good = chunky_wav(dir, "good.wav", 1);
  const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
  auto both_missing = fixture_wav_events(a, b, "x");
  ASSERT_FALSE(both_missing.ok());
  EXPECT_EQ(both_missing.error().rfind("Failed to open WAV " + a + ": ", 0), 0u);
  auto system_missing = fixture_wav_events(good, b, "x");
  ASSERT_FALSE(system_missing.ok());
  EXPECT_EQ(system_missing.error().rfind("Failed to open WAV " + b + ": ", 0), 0u);
}

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

  state.active_capture = ActiveCapture{"mic-meeting", dir.file("audio-mic.wav"), std::nullopt, nullptr};
  CommandOutcome refused;
  real_start(refused, start_request({{"inputWav", {{"mic", "a.wav"}, {"system", "b.wav"}}}}), state, "7");
  EXPECT_EQ(refused.response["error"]["code"], "capture_already_running");
  EXPECT_EQ(refused.response["error"]["message"], "A native meeting capture session is already running.");
  EXPECT_TRUE(state.active_capture);
}

}  // namespace
}  // namespace ombri
