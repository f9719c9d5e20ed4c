#include "platform/sim/world_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/hal.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {
namespace {

using namespace eventkit;
using platform::pcm_kind;
using platform::PcmKind;

class PlatformWorldFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("ombri-world-" + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& text) {
    const auto path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(PlatformWorldFile, DescribesDevicesTapAndDefaults) {
  {
    auto writer = WavWriter::create((dir_ / "speech.wav").string(), 1, 16000);
    ASSERT_TRUE(writer.ok());
    for (std::int16_t s : {16384, -16384, 32767}) ASSERT_TRUE(writer->write_sample(s).ok());
    ASSERT_TRUE(writer->finalize().ok());
  }
  const auto path = write("world.json", R"({
    "devices": [
      {"uid": "headset", "name": "Headset", "transport": "blue",
       "input": {"rate": 24000, "channels": 1, "sample": "f32"},
       "output": {"rate": 48000, "channels": 2, "sample": "i16"}},
      {"uid": "mic", "name": "Built-in Microphone", "input": {"sample": "u16"}, "bufferFrames": 256,
       "signal": {"kind": "wav", "path": "speech.wav"}},
      {"uid": "mute", "name": null, "runningSomewhere": true, "alive": false,
       "signal": {"kind": "samples", "values": [0.5, "nan", "-inf", 3], "loop": true}},
      {"uid": "usb", "transport": "usb", "input": {"sample": "i24"}}
    ],
    "defaultInput": "headset",
    "defaultOutput": "headset",
    "tap": {"rate": 44100, "channels": 2, "signal": {"kind": "tone", "frequency": 1000, "amplitude": 0.5}}
  })");
  auto spec = sim::load_audio_world_file(path);
  ASSERT_TRUE(spec.ok()) << spec.error();
  ASSERT_EQ(spec->devices.size(), 4u);
  const auto& headset = spec->devices[0];
  EXPECT_EQ(headset.transport, hal::kAudioDeviceTransportTypeBluetooth);
  EXPECT_EQ(headset.input->mSampleRate, 24000.0);
  EXPECT_EQ(pcm_kind(*headset.output), PcmKind::I16);
  EXPECT_EQ(headset.output->mChannelsPerFrame, 2u);
  const auto& mic = spec->devices[1];
  EXPECT_EQ(mic.name, "Built-in Microphone");
  EXPECT_EQ(pcm_kind(*mic.input), PcmKind::U16);
  EXPECT_EQ(mic.buffer_frames, 256u);
  EXPECT_FALSE(mic.output.has_value());
  const auto& wav = std::get<sim::Samples>(mic.signal);
  EXPECT_EQ(wav.values, (std::vector<float>{0.5f, -0.5f, 32767.0f / 32768.0f}));
  EXPECT_FALSE(wav.loop);
  const auto& mute = spec->devices[2];
  EXPECT_FALSE(mute.name.has_value());
  EXPECT_FALSE(mute.alive);
  EXPECT_TRUE(mute.running_somewhere);
  const auto& numbers = std::get<sim::Samples>(mute.signal).values;
  EXPECT_TRUE(std::isnan(numbers[1]));
  EXPECT_EQ(numbers[2], -INFINITY);
  EXPECT_EQ(numbers[3], 3.0f);
  EXPECT_EQ(spec->devices[3].transport, hal::kAudioDeviceTransportTypeUSB);
  EXPECT_EQ(spec->devices[3].name, "usb");  // the uid stands in for a missing name
  EXPECT_EQ(pcm_kind(*spec->devices[3].input), PcmKind::Other);
  EXPECT_EQ(spec->default_input, "headset");
  EXPECT_EQ(spec->tap.format.mSampleRate, 44100.0);
  EXPECT_EQ(spec->tap.format.mChannelsPerFrame, 2u);
  EXPECT_EQ(std::get<sim::Tone>(spec->tap.signal).frequency, 1000.0);
}

TEST_F(PlatformWorldFile, MistakesAreNamed) {
  struct Case {
    const char* json;
    const char* error;
  };
  const Case cases[] = {
      {R"({"device": []})", "world: unknown key \"device\""},
      {R"({"devices": [{"name": "x"}]})", "world.devices[0].uid: every device needs a uid"},
      {R"({"devices": [{"uid": "a"}, {"uid": "a"}]})", "world.devices: uid \"a\" is used twice"},
      {R"({"devices": [{"uid": "a"}], "defaultInput": "b"})", "world.defaultInput: no device has the uid \"b\""},
      {R"({"devices": [{"uid": "a", "input": {"sample": "f16"}}]})",
       "world.devices[0].input.sample: \"f16\" is not one of f32, f64, i16, i32, u16, i24"},
      {R"({"devices": [{"uid": "a", "input": {"channels": 0}}]})",
       "world.devices[0].input.channels: expected a whole number from 1 to 64"},
      {R"({"tap": {"signal": {"kind": "noise"}}})",
       "world.tap.signal.kind: expected \"silence\", \"tone\", \"samples\" or \"wav\""},
      {R"({"tap": {"signal": {"kind": "wav", "path": "missing.wav"}}})", "missing.wav: No such file or directory"},
  };
  for (const Case& c : cases) {
    auto spec = sim::load_audio_world_file(write("bad.json", c.json));
    ASSERT_FALSE(spec.ok()) << c.json;
    EXPECT_NE(spec.error().find(c.error), std::string::npos) << spec.error();
  }
  EXPECT_EQ(sim::load_audio_world_file(write("broken.json", "{")).error(), "not valid JSON");
  EXPECT_EQ(sim::load_audio_world_file((dir_ / "none.json").string()).error(), "cannot be read");
}

TEST_F(PlatformWorldFile, TheStandardWorldHasABuiltInMicrophoneAndOutput) {
  const auto spec = sim::AudioWorldSpec::standard();
  ASSERT_EQ(spec.devices.size(), 2u);
  EXPECT_EQ(spec.devices[0].input->mChannelsPerFrame, 1u);
  EXPECT_EQ(spec.devices[1].output->mChannelsPerFrame, 2u);
  EXPECT_EQ(spec.devices[0].transport, hal::kAudioDeviceTransportTypeBuiltIn);
  EXPECT_TRUE(std::holds_alternative<sim::Silence>(spec.tap.signal));
  EXPECT_EQ(pcm_kind(spec.tap.format), PcmKind::F32);
}

TEST(CalendarWorldFile, TimesAreRelativeToNow) {
  const auto json = sim::Json::parse(R"({
    "authorization": "fullAccess",
    "answer": {"decision": "deny", "delaySeconds": 1.5},
    "events": [
      {"id": "e1", "title": "Standup", "startsInMinutes": 10, "endsInMinutes": 25,
       "url": "https://meet.example/abc", "location": null,
       "organizer": {"name": "Ada", "status": "accepted"},
       "attendees": [{"name": "Bob", "status": "accepted"}, {"status": "declined"}],
       "calendar": {"title": "Work", "color": [0.2, 0.4, 0.6, 1.0]}},
      {"title": "Odd", "startsInMinutes": "nan", "allDay": true, "calendar": {"title": "", "color": {"components": null}}}
    ]})");
  auto spec = sim::calendar_world_from_json(json, 1000.0);
  ASSERT_TRUE(spec.ok()) << spec.error();
  EXPECT_EQ(spec->authorization, EKAuthorizationStatusFullAccess);
  EXPECT_EQ(spec->answer.decision, sim::AccessAnswer::Decision::Deny);
  EXPECT_EQ(spec->answer.delay, std::chrono::milliseconds(1500));
  ASSERT_EQ(spec->events.size(), 2u);
  const Event& standup = spec->events[0];
  EXPECT_EQ(standup.start_date.time_interval_since_1970, 1600.0);
  EXPECT_EQ(standup.end_date.time_interval_since_1970, 2500.0);
  EXPECT_EQ(standup.url->absolute_string, "https://meet.example/abc");
  EXPECT_FALSE(standup.location.has_value());
  EXPECT_FALSE(standup.notes.has_value());
  EXPECT_EQ(standup.organizer->participant_status, EKParticipantStatusAccepted);
  ASSERT_EQ(standup.attendees->size(), 2u);
  EXPECT_FALSE((*standup.attendees)[1].name.has_value());
  EXPECT_EQ(standup.calendar->cg_color->components, (std::vector<double>{0.2, 0.4, 0.6, 1.0}));
  const Event& odd = spec->events[1];
  EXPECT_TRUE(std::isnan(odd.start_date.time_interval_since_1970));
  EXPECT_TRUE(odd.is_all_day);
  EXPECT_FALSE(odd.attendees.has_value());
  ASSERT_TRUE(odd.calendar->cg_color.has_value());
  EXPECT_FALSE(odd.calendar->cg_color->components.has_value());

  for (const char* bad :
       {R"({"authorisation": "denied"})", R"({"authorization": "granted"})",
        R"({"events": [{"title": "x", "startsInMinutes": "soon"}]})", R"({"answer": {"delaySeconds": -1}})"}) {
    auto refused = sim::calendar_world_from_json(sim::Json::parse(bad), 0.0);
    EXPECT_FALSE(refused.ok()) << bad;
  }
}

}  // namespace
}  // namespace ombri
