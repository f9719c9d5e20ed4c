// A normal start and stop on the simulated machine: the microphone recorded
// on the device's own thread, every failure of the start, the Bluetooth
// choice, device loss and `detect`.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "listener/commands.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform_test_support.hpp"
#include "test_support.hpp"
#include "wav/pcm16_sample.hpp"

namespace ombri {
namespace {

using platform::pcm_format;
using platform::PcmKind;
using sim::Call;
using sim::Fault;
using sim::ScopedAudioWorld;
using test::eventually;
using test::TempDir;

sim::DeviceSpec device(std::string uid, std::optional<PcmKind> input, std::uint32_t transport,
                       std::uint32_t channels = 1, double rate = 48000.0) {
  sim::DeviceSpec spec;
  spec.name = uid;
  spec.uid = std::move(uid);
  spec.transport = transport;
  if (input) spec.input = pcm_format(rate, channels, *input);
  spec.buffer_frames = 64;
  return spec;
}

sim::AudioWorldSpec world_with(std::vector<sim::DeviceSpec> devices, std::optional<std::string> default_input) {
  sim::AudioWorldSpec spec;
  spec.devices = std::move(devices);
  spec.default_input = std::move(default_input);
  return spec;
}

sim::AudioWorldSpec one_microphone(PcmKind kind = PcmKind::F32) {
  return world_with({device("mic", kind, hal::kAudioDeviceTransportTypeBuiltIn)}, "mic");
}

// Drives the command layer as the request loop does.
struct Listener {
  std::pair<EventSender, EventReceiver> channel = make_event_channel();
  RuntimeState state{channel.first};

  Listener() { unsetenv("QIR_MEETING_LISTENER_SMOKE"); }

  CommandOutcome send(const char* cmd, Json args = Json::object()) {
    CommandOutcome outcome;
    handle_command(outcome, Json{{"id", "r"}, {"cmd", cmd}, {"args", std::move(args)}}, state);
    return outcome;
  }
  CommandOutcome start(const std::string& dir, Json more = Json::object()) {
    more["meetingDir"] = dir;
    more["meetingId"] = "m";
    more["captureSystemAudio"] = false;
    return send("start", std::move(more));
  }
};

TEST(MicCapture, RecordsEverySampleTheDeviceDeliversUntilStop) {
  // A ramp the device plays once, then silence.
  std::vector<float> ramp;
  for (int i = 0; i < 1000; ++i) ramp.push_back(static_cast<float>(i) / 999.0f * 2.0f - 1.0f);
  auto spec = one_microphone();
  spec.devices[0].signal = sim::Samples{ramp, false};
  ScopedAudioWorld world(spec);
  TempDir dir;
  Listener listener;
  listener.state.status = ListenerStatus{"error", std::nullopt, std::nullopt, std::string("earlier failure")};

  const std::string meeting = dir.file("a/b");
  auto started = listener.start(meeting, {{"streamSystemAudio", true}});
  ASSERT_EQ(started.response["ok"], true) << started.response.dump();
  Json result = started.response["result"];
  const std::string started_at = result["startedAt"];
  result.erase("startedAt");
  result.erase("capabilities");
  EXPECT_EQ(to_json_text(result),
            R"({"audioPaths":{"mic":")" + meeting +
                R"(/audio-mic.wav","system":null},"captureMic":true,)"
                R"("captureSystemAudio":false,"sessionId":"mic-m","systemAudioReason":"System audio capture was )"
                R"(turned off for this session.","transcriptionReady":false})");
  EXPECT_EQ(started.response["result"]["capabilities"]["systemAudioCapture"],
            (Json{{"status", "unavailable"}, {"reason", "System audio capture was turned off for this session."}}));
  ASSERT_EQ(started.events.size(), 1u);
  EXPECT_EQ(to_json_text(started.events[0]), R"({"status":{"reason":null,"sessionId":"mic-m","startedAt":")" +
                                                 started_at + R"(","state":"recording"},"type":"status"})");

  // Level events of the session come from the device's thread.
  auto level = listener.channel.second.receive();
  ASSERT_TRUE(level);
  EXPECT_EQ((*level)["type"], "level");
  EXPECT_EQ((*level)["sessionId"], "mic-m");

  const auto mic = world->device_id("mic");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the ramp is 21 ms long
  auto stopped = listener.send("stop");
  EXPECT_EQ(world->running_io_procs(mic), 0u);
  EXPECT_EQ(stopped.response["result"]["audioPaths"]["mic"], meeting + "/audio-mic.wav");
  EXPECT_EQ(listener.state.status.to_json(), ListenerStatus{}.to_json());

  const auto file = test::read_with_sndfile(meeting + "/audio-mic.wav");
  EXPECT_EQ(file.channels, 1);
  EXPECT_EQ(file.rate, 48000);
  ASSERT_GE(file.samples.size(), ramp.size());
  EXPECT_EQ(file.samples.size() % 64, 0u) << "whole device buffers";
  for (std::size_t i = 0; i < file.samples.size(); ++i) {
    const float x = i < ramp.size() ? ramp[i] : 0.0f;
    ASSERT_EQ(file.samples[i], static_cast<short>(std::trunc(std::clamp(x, -1.0f, 1.0f) * 32767.0f))) << i;
  }
}

TEST(MicCapture, EveryFailedStepSetsTheErrorStatusAndKeepsTheDirectory) {
  struct Case {
    const char* name;
    sim::AudioWorldSpec world;
    std::optional<Fault> fault;
    std::string message;  // "{dir}" stands for the meeting directory
    bool header_only_wav;
  };
  std::vector<Case> cases = {
      {"no default microphone",
       world_with({device("mic", PcmKind::F32, hal::kAudioDeviceTransportTypeBuiltIn)}, {}),
       {},
       "No default microphone input device found.",
       false},
      {"24-bit microphone",
       one_microphone(PcmKind::Other),
       {},
       "Failed to read default mic input config: The requested stream type is not supported by the device.",
       false},
      {"stream not built", one_microphone(), Fault(Call::AudioUnitNew, -50),
       "Failed to build f32 mic stream: A backend-specific error has occurred: status -50", true},
      {"i16 stream not built", one_microphone(PcmKind::I16), Fault(Call::AudioUnitInitialize, -50),
       "Failed to build i16 mic stream: A backend-specific error has occurred: status -50", true},
      {"stream not started", one_microphone(), Fault(Call::DeviceStart, hal::kAudioHardwareIllegalOperationError),
       "Failed to build f32 mic stream: A backend-specific error has occurred: status 'nope' (1852797029)", true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedAudioWorld world(c.world);
    if (c.fault) world->fail(*c.fault);
    TempDir dir;
    Listener listener;
    auto outcome = listener.start(dir.file("meeting"));
    EXPECT_EQ(outcome.response["error"], (Json{{"code", "capture_unavailable"}, {"message", c.message}}));
    EXPECT_TRUE(outcome.events.empty());
    EXPECT_EQ(listener.state.status.to_json(), (ListenerStatus{"error", {}, {}, c.message}.to_json()));
    EXPECT_FALSE(listener.state.active_capture);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("meeting")));
    const std::string wav = dir.file("meeting/audio-mic.wav");
    EXPECT_EQ(std::filesystem::exists(wav), c.header_only_wav);
    if (c.header_only_wav) {
      EXPECT_EQ(std::filesystem::file_size(wav), 44u);
      EXPECT_EQ(test::read_with_sndfile(wav).rate, 48000);
    }
  }
}

TEST(MicCapture, FileSystemFailuresNameThePath) {
  ScopedAudioWorld world(one_microphone());
  TempDir dir;
  std::ofstream(dir.file("plain")) << "x";
  std::filesystem::create_directories(dir.file("m/audio-mic.wav"));
  Listener listener;
  EXPECT_EQ(listener.start(dir.file("plain/sub")).response["error"]["message"],
            "Failed to create meeting audio directory " + dir.file("plain/sub") + ": Not a directory (os error 20)");
  EXPECT_EQ(listener.start(dir.file("m") + "/").response["error"]["message"],
            "Failed to create mic WAV " + dir.file("m") + "/audio-mic.wav: Is a directory (os error 21)");
  EXPECT_EQ(listener.state.status.state, "error");

  // The next good start clears the error.
  auto started = listener.start(dir.file("ok"));
  ASSERT_EQ(started.response["ok"], true);
  EXPECT_EQ(listener.state.status.reason, std::nullopt);
  EXPECT_EQ(listener.start(dir.file("ok")).response["error"]["code"], "capture_already_running");
  EXPECT_EQ(listener.send("stop").response["ok"], true);
}

TEST(MicCapture, BuiltInMicrophoneInsteadOfABluetoothDefaultAndItsLoss) {
  auto builtin = device("Built-in Microphone", PcmKind::I16, hal::kAudioDeviceTransportTypeBuiltIn, 2, 16000.0);
  builtin.signal = sim::Tone{440.0, 0.5};
  auto speakers = device("Built-in Output", std::nullopt, hal::kAudioDeviceTransportTypeBuiltIn);
  speakers.output = pcm_format(48000.0, 2, PcmKind::F32);
  ScopedAudioWorld world(world_with(
      {device("Headset", PcmKind::F32, hal::kAudioDeviceTransportTypeBluetooth), speakers, builtin}, "Headset"));
  TempDir dir;
  Listener listener;

  testing::internal::CaptureStderr();
  ASSERT_EQ(listener.start(dir.path().string()).response["ok"], true);
  const auto mic = world->device_id("Built-in Microphone");
  ASSERT_TRUE(eventually([&] { return world->running_io_procs(mic) == 1; }));
  world->set_alive(mic, false);
  world->set_alive(mic, true);
  world->set_alive(mic, false);
  ASSERT_TRUE(eventually([&] { return world->property_listener_count() == 1 && world->running_io_procs(mic) == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(listener.state.status.state, "recording");
  EXPECT_EQ(listener.send("stop").response["ok"], true);
  const std::string lost =
      "ombri-listener mic stream error: The requested device is no longer available. For "
      "example, it has been unplugged.\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ombri-listener: default input is Bluetooth; capturing mic from 'Built-in Microphone' to keep the "
            "headset in high-quality playback mode\n" +
                lost + lost + lost);
  EXPECT_EQ(world->property_listener_count(), 0u);

  const auto file = test::read_with_sndfile(dir.file("audio-mic.wav"));
  EXPECT_EQ(file.channels, 2);
  EXPECT_EQ(file.rate, 16000);
}

TEST(MicCapture, LosingTheDefaultInputPrintsNothing) {
  ScopedAudioWorld world(one_microphone());
  TempDir dir;
  Listener listener;
  testing::internal::CaptureStderr();
  ASSERT_EQ(listener.start(dir.path().string()).response["ok"], true);
  world->set_alive(world->device_id("mic"), false);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(listener.send("stop").response["ok"], true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(test::read_with_sndfile(dir.file("audio-mic.wav")).rate, 48000);
}

TEST(MicCapture, DetectAsksTheDeviceOnlyWithoutACapture) {
  struct Case {
    const char* name;
    bool running_somewhere;
    std::optional<Fault> fault;
    bool capturing;
    Json answer;
  };
  const std::vector<Case> cases = {
      {"in use elsewhere", true, {}, false, true},
      {"free", false, {}, false, false},
      {"default input unreadable", true,
       Fault(Call::GetPropertyData, -50).property(hal::kAudioHardwarePropertyDefaultInputDevice).always(), false,
       nullptr},
      {"running flag unreadable", true,
       Fault(Call::GetPropertyData, -50).property(hal::kAudioDevicePropertyDeviceIsRunningSomewhere).always(), false,
       nullptr},
      {"our own capture runs", true,
       Fault(Call::GetPropertyData, -50).property(hal::kAudioDevicePropertyDeviceIsRunningSomewhere).always(), true,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto spec = one_microphone();
    spec.devices[0].running_somewhere = c.running_somewhere;
    ScopedAudioWorld world(spec);
    TempDir dir;
    Listener listener;
    if (c.capturing) {
      ASSERT_EQ(listener.start(dir.path().string()).response["ok"], true);
    }
    if (c.fault) world->fail(*c.fault);
    auto outcome = listener.send("detect");
    EXPECT_EQ(to_json_text(outcome.response),
              to_json_text(Json{{"id", "r"}, {"ok", true}, {"result", {{"micBusyElsewhere", c.answer}}}}));
    listener.send("stop");
  }
}

// Many sessions in a row on devices that deliver from their own threads: for
// the sanitizers, and so that no stream outlives its stop.
TEST(MicCapture, ManyStartStopCycles) {
  auto spec = one_microphone();
  spec.devices[0].signal = sim::Tone{};
  ScopedAudioWorld world(spec);
  TempDir dir;
  Listener listener;
  const auto mic = world->device_id("mic");
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(listener.start(dir.path().string()).response["ok"], true);
    if (i % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(listener.send("stop").response["ok"], true);
    ASSERT_EQ(world->running_io_procs(mic), 0u);
  }
  EXPECT_EQ(test::read_with_sndfile(dir.file("audio-mic.wav")).rate, 48000);
}

}  // namespace
}  // namespace ombri
