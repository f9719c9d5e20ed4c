// Meetings with system audio through the command layer: what a stop leaves
// behind, over many sessions in a row.

#include <gtest/gtest.h>

#include <cstdlib>

#include "listener/commands.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

// For the sanitizers, and so that nothing of a session outlives its stop: no
// tap, no aggregate device, no silent output stream, no microphone stream.
TEST(SystemCapture, ManyStartStopCyclesWithStreaming) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.devices[0].signal = sim::Tone{};
  spec.tap.signal = sim::Tone{440, 0.3};
  sim::ScopedAudioWorld world(spec);
  test::TempDir dir;
  const char* path = std::getenv("PATH");
  ::setenv("PATH", (std::string(OMBRI_STANDINS_DIR) + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
  ::unsetenv("QIR_MEETING_LISTENER_SMOKE");
  ::unsetenv("OMBRI_SIM_MACOS_VERSION");
  // The probes of these sessions outlive them by design; they need play no tone.
  ::setenv("TMPDIR", dir.file("no-tone-here").c_str(), 1);
  testing::internal::CaptureStderr();

  auto [sender, receiver] = make_event_channel();
  RuntimeState state(sender);
  const auto mic = world->device_id("BuiltInMicrophoneDevice");
  const auto speakers = world->device_id("BuiltInSpeakerDevice");
  const Json args{{"meetingDir", dir.path().string()}, {"meetingId", "m"}, {"streamSystemAudio", true}};
  for (int i = 0; i < 200; ++i) {
    CommandOutcome started;
    handle_command(started, Json{{"id", "a"}, {"cmd", "start"}, {"args", args}}, state);
    ASSERT_EQ(started.response["result"]["captureSystemAudio"], true) << started.response;
    if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CommandOutcome stopped;
    handle_command(stopped, Json{{"id", "b"}, {"cmd", "stop"}}, state);
    ASSERT_EQ(stopped.response["result"]["audioPaths"]["system"], dir.file("audio-system.wav"));
    ASSERT_TRUE(world->taps().empty()) << i;
    ASSERT_TRUE(world->aggregate_devices().empty()) << i;
    ASSERT_EQ(world->running_io_procs(speakers), 0u) << i;
    ASSERT_EQ(world->running_io_procs(mic), 0u) << i;
  }
  testing::internal::GetCapturedStderr();
  const auto system = test::read_with_sndfile(dir.file("audio-system.wav"));
  EXPECT_EQ(system.rate, 48000);
}

}  // namespace
}  // namespace ombri
