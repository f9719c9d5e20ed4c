#include "system_audio/stream_state.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "audio_reference.hpp"
#include "event_collector.hpp"

namespace ombri {
namespace {

TEST(StreamState, ChunksCarryTheSessionRateSpeechAndPcm) {
  test::TempDir dir;
  test::EventCollector events;
  {
    StreamState state(StreamSink{events.sender(), "mic-m"}, 48000, 1);
    state.flush();  // nothing pending: no event
    const std::vector<std::vector<std::int16_t>> chunks{{59, -59, 0}, {60}, {-32768, 1}, {-60}};
    for (const auto& chunk : chunks) {
      state.pending = chunk;
      state.flush();
      EXPECT_TRUE(state.pending.empty());
      EXPECT_GE(state.pending.capacity(), 12000u);
    }
  }
  const auto sent = events.done();
  ASSERT_EQ(sent.size(), 4u);
  const bool speech[] = {false, true, true, true};
  const std::vector<std::vector<std::int16_t>> pcm{{59, -59, 0}, {60}, {-32768, 1}, {-60}};
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i]["speech"], speech[i]) << i;
    EXPECT_EQ(test::decode_base64_pcm(dir, {sent[i]["pcm"].get<std::string>()}), pcm[i]) << i;
  }
  EXPECT_EQ(to_json_text(sent[1]),
            R"({"pcm":"PAA=","rate":24000,"sessionId":"mic-m","speech":true,"type":"systemAudioChunk"})");
  EXPECT_TRUE(sent[1]["rate"].is_number_unsigned());
}

TEST(StreamState, SendsAChunkOnceSixThousandSamplesArePending) {
  test::EventCollector events;
  {
    StreamState state(StreamSink{events.sender(), "s"}, 48000, 1);
    for (int i = 0; i < 12000 * 2 + 1; ++i) state.add(0.25f);  // two chunks, no third one yet
    EXPECT_EQ(state.pending.size(), 0u);
    state.add(0.25f);
    state.add(0.25f);
    EXPECT_EQ(state.pending.size(), 1u);
  }
  const auto sent = events.done();
  ASSERT_EQ(sent.size(), 2u);
  test::TempDir dir;
  for (const auto& chunk : sent) {
    const auto pcm = test::decode_base64_pcm(dir, {chunk["pcm"].get<std::string>()});
    EXPECT_EQ(pcm, std::vector<std::int16_t>(6000, 8191));
  }
}

// One channel needs no mixing: the resampler sees every sample as it came,
// signed zeros, infinities and NaNs too.
TEST(StreamState, AMonoTapIsResampledAsItComes) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> input{-0.0f, 0.3f, -0.0f, -0.0f, nan, 0.7f, inf, -inf, 2.5f, -0.2f, 1e-30f, -0.0f, 0.9f};
  test::EventCollector events;
  StreamState state(StreamSink{events.sender(), "s"}, 44100, 1);
  auto direct = LinearResampler::between(44100, kChunkRate);
  std::vector<std::int16_t> expected;
  for (int round = 0; round < 50; ++round)
    for (const float x : input) {
      state.add(x);
      direct.process(x, expected);
    }
  EXPECT_EQ(state.pending, expected);
}

}  // namespace
}  // namespace ombri
