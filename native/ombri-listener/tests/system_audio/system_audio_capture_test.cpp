#include "system_audio/system_audio_capture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>

#include "audio_reference.hpp"
#include "event_collector.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform_test_support.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

using namespace std::chrono_literals;
using platform::pcm_format;
using platform::PcmKind;
using test::eventually;

sim::AudioWorldSpec tap_world(double rate, std::uint32_t channels, PcmKind kind, sim::Signal signal) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.tap.format = pcm_format(rate, channels, kind);
  spec.tap.signal = std::move(signal);
  return spec;
}

class SystemAudioCaptureTest : public ::testing::Test {
 protected:
  // The support check asks the sw_vers stand-in, which answers a supported version.
  static void SetUpTestSuite() {
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (std::string(OMBRI_STANDINS_DIR) + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    ::unsetenv("OMBRI_SIM_MACOS_VERSION");
  }

  Result<SystemAudioCapture> start(bool streaming = true) {
    std::optional<StreamSink> sink;
    if (streaming) sink = StreamSink{events.sender(), "mic-m"};
    return SystemAudioCapture::start(dir.path().string(), std::make_shared<LevelHub>(events.sender(), "mic-m"),
                                     std::move(sink));
  }

  std::string wav_path() const { return dir.file("audio-system.wav"); }

  // Nothing of a capture is left in the world.
  static void expect_released(sim::ScopedAudioWorld& world) {
    EXPECT_TRUE(world->taps().empty());
    EXPECT_TRUE(world->aggregate_devices().empty());
    EXPECT_EQ(world->running_io_procs(world->device_id("BuiltInSpeakerDevice")), 0u);
  }

  std::vector<std::int16_t> chunk_pcm(const std::vector<Json>& sent) const {
    std::vector<std::string> texts;
    for (const auto& event : sent)
      if (event["type"] == "systemAudioChunk") texts.push_back(event["pcm"].get<std::string>());
    return test::decode_base64_pcm(dir, texts);
  }

  test::TempDir dir;
  test::EventCollector events;
};

std::size_t chunk_samples(const std::vector<Json>& sent) {
  std::size_t total = 0;
  for (const auto& event : sent)
    if (event["type"] == "systemAudioChunk") total += event["pcm"].get<std::string>().size() / 4 * 3 / 2;
  return total;
}

TEST_F(SystemAudioCaptureTest, RecordsAMono44kTapSampleBySampleAt48kAndStreamsIt24k) {
  std::vector<float> signal(44100 * 2);
  for (std::size_t i = 0; i < signal.size(); ++i)  // past full scale at its loudest: the WAV clamps
    signal[i] = 1.3f * std::sin(static_cast<float>(i) * 0.05f) * std::sin(static_cast<float>(i) * 0.0003f);
  sim::ScopedAudioWorld world(tap_world(44100, 1, PcmKind::F32, sim::Samples{signal, false}));

  auto capture = start();
  ASSERT_TRUE(capture) << capture.error();
  EXPECT_EQ(capture->path, wav_path());
  ASSERT_EQ(world->taps().size(), 1u);
  const auto devices = world->aggregate_devices();
  ASSERT_EQ(devices.size(), 1u);
  const auto description = world->aggregate_description(devices[0]);
  ASSERT_TRUE(description);
  EXPECT_TRUE(description->is_private);
  EXPECT_FALSE(description->tap_auto_start);
  EXPECT_EQ(description->name, "qir-audio-tap");
  EXPECT_TRUE(std::regex_match(description->uid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                                            "[0-9A-F]{12}")));
  ASSERT_EQ(description->taps.size(), 1u);
  hal::StringRef tap_uid;
  ASSERT_EQ(hal::get_property_data(world->taps()[0], test::global(hal::kAudioTapPropertyUID), tap_uid), 0);
  EXPECT_EQ(description->taps[0].uid, tap_uid);
  EXPECT_EQ(world->running_io_procs(devices[0]), 1u);
  EXPECT_TRUE(eventually([&] { return world->running_io_procs(world->device_id("BuiltInSpeakerDevice")) == 1; }));

  // Until the signal and half a second of the silence after it have gone through.
  ASSERT_TRUE(eventually([&] { return chunk_samples(events.values()) >= 24000 * 5 / 2; }, 30s));
  const SharedFlag stop = capture->stop_flag;
  ASSERT_TRUE(SystemAudioCapture::finish(std::move(*capture)));
  EXPECT_TRUE(stop->load());
  expect_released(world);
  const auto sent = events.done();

  const auto wav = test::read_with_sndfile(wav_path());
  EXPECT_EQ(wav.channels, 1);
  EXPECT_EQ(wav.rate, 48000);
  std::vector<float> delivered = signal;
  delivered.resize(wav.samples.size() * 44100 / 48000 + 2, 0.0f);
  const auto expected = test::reference_resample(dir, delivered, 44100, 48000, true);
  ASSERT_GE(expected.size(), wav.samples.size());
  ASSERT_GT(wav.samples.size(), 48000u * 2);
  for (std::size_t i = 0; i < wav.samples.size(); ++i) ASSERT_EQ(wav.samples[i], expected[i]) << i;

  const auto pcm = chunk_pcm(sent);
  const auto expected_chunks = test::reference_resample(dir, delivered, 44100, 24000, false);
  ASSERT_GT(pcm.size(), 24000u * 2);
  ASSERT_GE(expected_chunks.size(), pcm.size());
  for (std::size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], expected_chunks[i]) << i;
  for (const auto& event : sent)
    if (event["type"] == "level") {
      EXPECT_EQ(event["mic"], 0.0);
    }
}

TEST_F(SystemAudioCaptureTest, AStereoTapIsRecordedAtItsOwnRateWithoutResampling) {
  std::vector<float> signal;
  for (int i = 0; i < 20000; ++i) {
    signal.push_back(static_cast<float>(i % 2000) / 2000.0f);
    signal.push_back(-0.25f);
  }
  sim::ScopedAudioWorld world(tap_world(22050, 2, PcmKind::F32, sim::Samples{signal, false}));
  std::ofstream(wav_path()) << "an earlier file of that name";
  auto capture = start(false);
  ASSERT_TRUE(capture) << capture.error();
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(SystemAudioCapture::finish(std::move(*capture)));
  expect_released(world);

  const auto wav = test::read_with_sndfile(wav_path());
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 22050);
  ASSERT_GE(wav.samples.size(), signal.size());
  for (std::size_t i = 0; i < wav.samples.size(); ++i) {
    const float x = i < signal.size() ? signal[i] : 0.0f;
    ASSERT_EQ(wav.samples[i], static_cast<std::int16_t>(x * 32767.0f)) << i;
  }
  EXPECT_TRUE(events.of_type("systemAudioChunk").empty());
}

TEST_F(SystemAudioCaptureTest, EachFailingStepReleasesWhatItMade) {
  struct Case {
    std::optional<sim::Fault> fault;
    std::optional<double> tap_rate;
    std::string text;
    bool leaves_empty_wav;
  };
  const std::string param = R"(os::Error { raw: -50, fcc: "...." })";
  const Case cases[] = {
      {sim::Fault(sim::Call::CreateProcessTap, -50),
       {},
       "Could not create the system audio tap (permission or OS support): " + param,
       false},
      {sim::Fault(sim::Call::GetPropertyData, -50).property(hal::kAudioTapPropertyUID),
       {},
       "The system audio tap did not report a UID: " + param,
       false},
      {sim::Fault(sim::Call::GetPropertyData, platform::status_code("who?")).property(hal::kAudioTapPropertyFormat),
       {},
       R"(Could not read the system tap audio format: os::Error { raw: 2003332927, fcc: "who?" })",
       false},
      {sim::Fault(sim::Call::AudioFormatInit, 0), {}, "Unsupported system tap audio format.", false},
      {{}, std::nan(""), "Unsupported system tap audio format.", false},
      {sim::Fault(sim::Call::CreateAggregateDevice, -50),
       {},
       "Could not create the system audio device: " + param,
       true},
      {sim::Fault(sim::Call::CreateIOProcID, -50), {}, "Could not attach the system audio IO proc: " + param, true},
      {sim::Fault(sim::Call::DeviceStart, -50), {}, "Could not start the system audio device: " + param, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sim::ScopedAudioWorld world(tap_world(c.tap_rate.value_or(48000), 1, PcmKind::F32, sim::Tone{}));
    if (c.fault) world->fail(*c.fault);
    test::EventCollector failed_events;
    auto capture =
        SystemAudioCapture::start(dir.path().string(), std::make_shared<LevelHub>(failed_events.sender(), "mic-m"),
                                  StreamSink{failed_events.sender(), "mic-m"});
    ASSERT_FALSE(capture);
    EXPECT_EQ(capture.error(), c.text);
    expect_released(world);
    EXPECT_TRUE(failed_events.done().empty());  // the hub and the sink were released with the start
    if (c.leaves_empty_wav) {
      const auto wav = test::read_with_sndfile(wav_path());
      EXPECT_EQ(wav.rate, 48000);
      EXPECT_TRUE(wav.samples.empty());
      EXPECT_EQ(test::read_bytes(wav_path()).size(), 44u);
    } else {
      EXPECT_FALSE(std::filesystem::exists(wav_path()));
    }
    std::filesystem::remove(wav_path());
  }

  sim::ScopedAudioWorld world;
  const std::string missing = dir.file("not-there");
  auto capture = SystemAudioCapture::start(missing, std::make_shared<LevelHub>(events.sender(), "mic-m"), {});
  ASSERT_FALSE(capture);
  EXPECT_EQ(capture.error(),
            "Failed to create system WAV " + missing + "/audio-system.wav: No such file or directory (os error 2)");
  expect_released(world);
}

TEST_F(SystemAudioCaptureTest, ATapOfAnUnreadableSampleFormatRecordsNothing) {
  sim::ScopedAudioWorld world(tap_world(48000, 1, PcmKind::Other, sim::Tone{440, 0.5}));
  auto capture = start();
  ASSERT_TRUE(capture) << capture.error();
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(SystemAudioCapture::finish(std::move(*capture)));
  expect_released(world);
  EXPECT_TRUE(events.done().empty());  // no level, no chunk
  EXPECT_TRUE(test::read_with_sndfile(wav_path()).samples.empty());
}

TEST_F(SystemAudioCaptureTest, ReleasedWithoutFinishItStillEndsEverythingAndLeavesAValidWav) {
  sim::ScopedAudioWorld world(tap_world(48000, 1, PcmKind::I16, sim::Tone{440, 0.5}));
  {
    auto capture = start();
    ASSERT_TRUE(capture) << capture.error();
    ASSERT_TRUE(eventually([&] { return !events.of_type("level").empty(); }));
  }
  expect_released(world);
  events.done();  // every sender of the capture's threads is gone
  const auto wav = test::read_with_sndfile(wav_path());
  EXPECT_EQ(wav.rate, 48000);
  EXPECT_FALSE(wav.samples.empty());
}

TEST_F(SystemAudioCaptureTest, ManyStartsAndFinishesWhileStreaming) {
  sim::ScopedAudioWorld world(tap_world(48000, 1, PcmKind::F32, sim::Tone{440, 0.5}));
  for (int cycle = 0; cycle < 200; ++cycle) {
    auto capture = start();
    ASSERT_TRUE(capture) << capture.error();
    if (cycle % 50 == 0) std::this_thread::sleep_for(300ms);  // now and then long enough for a chunk
    ASSERT_TRUE(SystemAudioCapture::finish(std::move(*capture)));
    ASSERT_TRUE(world->taps().empty()) << cycle;
    ASSERT_TRUE(world->aggregate_devices().empty()) << cycle;
    ASSERT_EQ(world->running_io_procs(world->device_id("BuiltInSpeakerDevice")), 0u) << cycle;
  }
  EXPECT_FALSE(events.done().empty());
}

}  // namespace
}  // namespace ombri
