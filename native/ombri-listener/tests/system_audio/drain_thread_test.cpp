#include "system_audio/drain_thread.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio_reference.hpp"
#include "event_collector.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "system_audio/tap_io_proc.hpp"
#include "test_support.hpp"
#include "wav/pcm16_sample.hpp"

namespace ombri {
namespace {

using platform::PcmKind;

sim::AudioWorldSpec tap_world(double rate, std::uint32_t channels) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.tap.format = platform::pcm_format(rate, channels, PcmKind::F32);
  return spec;
}

// A drain over a real (simulated) tap, run on the test's thread.
struct DrainRig {
  DrainRig(sim::ScopedAudioWorld& world, std::uint32_t channels, std::uint32_t rate, bool streaming)
      : ring(make_sample_ring()), stop(make_shared_flag()), live(make_shared_flag()) {
    hal::AudioObjectID tap_id = 0;
    EXPECT_EQ(hal::create_process_tap(hal::TapDescription::mono_global_excluding({}), tap_id), 0);
    auto wav = WavWriter::create(dir.file("audio-system.wav"), static_cast<std::uint16_t>(channels),
                                 channels == 1 ? 48000 : rate);
    EXPECT_TRUE(wav);
    writer = share_wav_writer(std::move(*wav));
    std::optional<LiveStream> stream;
    if (streaming)
      stream.emplace(LiveStream{StreamSink{events.sender(), "mic-m"}, rate, static_cast<std::uint16_t>(channels)});
    std::optional<LinearResampler> resampler;
    if (channels == 1) resampler = LinearResampler::between(rate, 48000);
    drain.emplace(DrainInputs{ring.consumer, writer, stop, live, std::make_shared<LevelHub>(events.sender(), "mic-m"),
                              std::move(stream), resampler, hal::ProcessTap(tap_id)});
    (void)world;
  }

  void push(const std::vector<float>& samples) {
    ASSERT_EQ(ring.producer.push(samples.data(), samples.size()), samples.size());
  }
  int drain_all() {
    int batches = 0;
    while (drain->drain_batch()) ++batches;
    return batches;
  }
  // Stops the drain and finalises the WAV; returns every event sent.
  std::vector<Json> finish() {
    stop->store(true);
    drain->run();
    drain.reset();
    {
      auto slot = writer->lock();
      if (slot->has_value()) {
        EXPECT_TRUE((*slot)->finalize());
      }
      slot->reset();
    }
    return events.done();
  }
  test::SndfileContent wav() const { return test::read_with_sndfile(dir.file("audio-system.wav")); }

  test::TempDir dir;
  test::EventCollector events;
  SampleRing ring;
  SharedWavWriter writer;
  SharedFlag stop, live;
  std::optional<Drain> drain;
};

std::vector<std::int16_t> chunk_pcm(const test::TempDir& dir, const std::vector<Json>& events,
                                    std::vector<std::size_t>* sizes = nullptr) {
  std::vector<std::string> texts;
  for (const auto& event : events)
    if (event["type"] == "systemAudioChunk") texts.push_back(event["pcm"].get<std::string>());
  if (sizes)
    for (const auto& text : texts) sizes->push_back(test::decode_base64_pcm(dir, {text}).size());
  return test::decode_base64_pcm(dir, texts);
}

std::vector<float> ramp(std::size_t count, float scale) {
  std::vector<float> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = scale * std::sin(static_cast<float>(i) * 0.01f);
  return values;
}

TEST(Drain, MonoTapAt48kHzWritesTheInputAndStreamsChunksOf6000) {
  sim::ScopedAudioWorld world(tap_world(48000, 1));
  DrainRig rig(world, 1, 48000, true);
  auto input = ramp(30000, 1.5f);  // beyond full scale: the WAV clamps
  input[10] = std::numeric_limits<float>::quiet_NaN();
  rig.push(input);
  EXPECT_EQ(rig.drain_all(), 8);  // 7 full batches and a shorter one
  EXPECT_TRUE(rig.live->load());
  const auto events = rig.finish();
  EXPECT_TRUE(world->taps().empty());  // the drain destroyed its tap on the way out

  const auto wav = rig.wav();
  EXPECT_EQ(wav.rate, 48000);
  ASSERT_EQ(wav.samples.size(), input.size() - 1);  // the last sample still waited for the next one
  // The input itself, but for the sample before the NaN, which interpolates towards it.
  for (std::size_t i = 0; i < wav.samples.size(); ++i)
    ASSERT_EQ(wav.samples[i], i == 9 ? 0 : pcm16_from_float(input[i])) << i;
  EXPECT_EQ(std::vector<std::int16_t>(wav.samples.begin(), wav.samples.end()),
            test::reference_resample(rig.dir, input, 48000, 48000, true));

  std::vector<std::size_t> sizes;
  const auto pcm = chunk_pcm(rig.dir, events, &sizes);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{6000, 6000, 3000}));
  EXPECT_EQ(pcm, test::reference_resample(rig.dir, input, 48000, 24000, false));
  for (const auto& event : events)
    if (event["type"] == "systemAudioChunk") {
      EXPECT_EQ(event["sessionId"], "mic-m");
    }
  // The first report goes out at once, with the first batch's clamped peak.
  const auto level = std::find_if(events.begin(), events.end(), [](const Json& e) { return e["type"] == "level"; });
  ASSERT_NE(level, events.end());
  EXPECT_EQ((*level)["system"], 1.0);
}

// Live chunks are mono whatever the tap: each frame goes out as the mean of
// its channels, at the tap's frame rate, also when batches end inside frames.
// The WAV keeps every channel.
TEST(Drain, ATapOfSeveralChannelsStreamsTheMeanOfEachFrame) {
  constexpr std::size_t kFrames = 30000;
  for (const std::uint32_t channels : {2u, 3u}) {
    std::vector<float> input(kFrames * channels);
    for (std::size_t i = 0; i < input.size(); ++i)
      input[i] = (0.2f + 0.3f * static_cast<float>(i % channels)) * std::sin(static_cast<float>(i / channels) * 0.01f);
    std::vector<std::vector<std::int16_t>> streams;
    for (const std::size_t piece : {input.size(), std::size_t{1001}}) {  // batches of 4096, and of an odd size
      SCOPED_TRACE(testing::Message() << channels << " channels, pieces of " << piece);
      sim::ScopedAudioWorld world(tap_world(48000, channels));
      DrainRig rig(world, channels, 48000, true);
      for (std::size_t at = 0; at < input.size(); at += piece) {
        rig.push(std::vector<float>(input.begin() + at, input.begin() + std::min(input.size(), at + piece)));
        rig.drain_all();
      }
      const auto events = rig.finish();
      std::vector<std::size_t> sizes;
      streams.push_back(chunk_pcm(rig.dir, events, &sizes));
      EXPECT_EQ(sizes, (std::vector<std::size_t>{6000, 6000, 3000}));
      const auto wav = rig.wav();
      EXPECT_EQ(wav.channels, static_cast<int>(channels));
      EXPECT_EQ(wav.rate, 48000);
      EXPECT_EQ(wav.samples.size(), input.size());
    }
    EXPECT_EQ(streams[0], streams[1]);
    EXPECT_EQ(streams[0], test::reference_resample(test::TempDir(), input, 48000, 24000, false, channels));
  }
}

TEST(Drain, ATapRateChangeRestartsBothResamplersAtThe32ndBatch) {
  sim::ScopedAudioWorld world(tap_world(48000, 1));
  DrainRig rig(world, 1, 48000, true);
  const auto input = ramp(64 * 4096, 0.5f);
  const auto batch = [&](int k) {
    return std::vector<float>(input.begin() + k * 4096, input.begin() + (k + 1) * 4096);
  };
  for (int k = 0; k < 31; ++k) rig.push(batch(k));
  EXPECT_EQ(rig.drain_all(), 31);
  world->set_tap_rate(24000.0);
  for (int k = 31; k < 63; ++k) rig.push(batch(k));
  EXPECT_EQ(rig.drain_all(), 32);
  // A failed read at the 64th batch keeps the rate it has.
  world->set_tap_rate(96000.0);
  world->fail(sim::Fault(sim::Call::GetPropertyData, -50).property(hal::kAudioTapPropertyFormat));
  rig.push(batch(63));
  EXPECT_EQ(rig.drain_all(), 1);
  const auto events = rig.finish();

  const std::vector<float> before(input.begin(), input.begin() + 31 * 4096);
  const std::vector<float> after(input.begin() + 31 * 4096, input.end());
  auto expected_wav = test::reference_resample(rig.dir, before, 48000, 48000, true);
  const auto wav_after = test::reference_resample(rig.dir, after, 24000, 48000, true);
  expected_wav.insert(expected_wav.end(), wav_after.begin(), wav_after.end());
  const auto wav = rig.wav();
  EXPECT_EQ(wav.rate, 48000);  // the header keeps the rate it was created with
  EXPECT_EQ(std::vector<std::int16_t>(wav.samples.begin(), wav.samples.end()), expected_wav);

  auto expected_chunks = test::reference_resample(rig.dir, before, 48000, 24000, false);
  const auto chunks_after = test::reference_resample(rig.dir, after, 24000, 24000, false);
  expected_chunks.insert(expected_chunks.end(), chunks_after.begin(), chunks_after.end());
  EXPECT_EQ(chunk_pcm(rig.dir, events), expected_chunks);
}

TEST(Drain, LiveFlagAndLevelFollowTheClampedPeak) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    std::vector<float> batch;
    bool live;
    double level;
  };
  const Case cases[] = {
      {{0.004f, -0.004f}, false, static_cast<double>(0.004f)},
      {{nan, 0.0f, -0.00401f, 0.0f}, true, static_cast<double>(0.00401f)},
      {{-7.0f, nan}, true, 1.0},
      {{0.0f, 0.0f}, false, 0.0},
  };
  for (const auto& c : cases) {
    sim::ScopedAudioWorld world(tap_world(48000, 2));
    DrainRig rig(world, 2, 48000, false);
    rig.push(c.batch);
    EXPECT_EQ(rig.drain_all(), 1);
    EXPECT_EQ(rig.live->load(), c.live) << c.batch[0];
    const auto events = rig.finish();
    ASSERT_EQ(events.size(), 1u);  // a level, and no chunk without streaming
    EXPECT_EQ(events[0]["type"], "level");
    EXPECT_EQ(events[0]["system"].get<double>(), c.level) << c.batch[0];
  }
}

TEST(Drain, ABatchThatCannotBeWrittenIsLostAndTheRestGoesOn) {
  for (const bool poisoned : {true, false}) {
    sim::ScopedAudioWorld world(tap_world(48000, 2));
    DrainRig rig(world, 2, 48000, true);
    if (poisoned) {
      test::poison(*rig.writer);
    } else {
      rig.writer->lock()->reset();  // the writer was taken: its file keeps a complete header
    }
    rig.push({0.5f, 0.5f, 0.5f, 0.5f});  // two frames: the first one streamed
    EXPECT_EQ(rig.drain_all(), 1);
    EXPECT_TRUE(rig.live->load());
    rig.stop->store(true);
    rig.drain->run();
    rig.drain.reset();
    rig.writer.reset();
    const auto events = rig.events.done();
    EXPECT_EQ(events.size(), 2u);  // the level and the chunk still went out
    EXPECT_TRUE(rig.wav().samples.empty());
  }
}

TEST(Drain, WhatAFullRingRefusedIsMissingAndTheOldestSamplesAreKept) {
  sim::ScopedAudioWorld world(tap_world(48000, 2));
  DrainRig rig(world, 2, 48000, false);
  Ctx ctx{rig.ring.producer, std::vector<float>(kTapScratchSamples, 0.0f), 3};
  std::vector<std::int16_t> cycle(1024);
  std::size_t offered = 0;
  for (int k = 0; k < 1040; ++k) {  // 1024 full cycles fit; the last 16 are refused
    for (std::size_t i = 0; i < cycle.size(); ++i) cycle[i] = static_cast<std::int16_t>((offered + i) % 30011);
    hal::AudioBuffer buffer{2, static_cast<std::uint32_t>(cycle.size() * 2), cycle.data()};
    const hal::AudioBufferList list{1, &buffer};
    ASSERT_EQ(tap_io_proc(1, nullptr, &list, nullptr, nullptr, nullptr, &ctx), 0);
    offered += cycle.size();
  }
  rig.drain_all();
  rig.finish();
  const auto wav = rig.wav();
  ASSERT_EQ(wav.samples.size(), kSampleRingCapacity);
  for (std::size_t i = 0; i < wav.samples.size(); ++i)
    ASSERT_EQ(wav.samples[i], pcm16_from_float(static_cast<float>(i % 30011) / 32767.0f)) << i;
}

}  // namespace
}  // namespace ombri
