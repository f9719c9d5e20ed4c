#include "system_audio/linear_resampler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "audio_reference.hpp"
#include "wav/pcm16_sample.hpp"

namespace ombri {
namespace {

std::vector<std::int16_t> run(LinearResampler resampler, const std::vector<float>& input) {
  std::vector<std::int16_t> out;
  for (const float x : input) resampler.process(x, out);
  return out;
}

TEST(LinearResampler, EdgeRatios) {
  const std::vector<float> input{0.1f, -0.2f, 0.3f, 0.4f, -0.5f};
  std::vector<std::int16_t> converted;
  for (const float x : input) converted.push_back(pcm16_from_float(x));
  // Ratio 1: the input itself, the newest sample still waiting.
  EXPECT_EQ(run(LinearResampler::between(48000, 48000), input),
            std::vector<std::int16_t>(converted.begin(), converted.end() - 1));
  // Ratio 2: every other input, no filtering.
  EXPECT_EQ(run(LinearResampler::between(48000, 24000), input),
            (std::vector<std::int16_t>{converted[0], converted[2]}));
  // Upsampling: two outputs per input, the first one the input itself.
  const auto doubled = run(LinearResampler::between(24000, 48000), {0.0f, 0.5f, 1.0f});
  EXPECT_EQ(doubled, (std::vector<std::int16_t>{0, 8191, 16383, 24575}));
  EXPECT_TRUE(run(LinearResampler::between(44100, 48000), {0.5f}).empty());
}

TEST(LinearResampler, MatchesAnIndependentFloat32ResamplerSampleBySample) {
  test::TempDir dir;
  std::mt19937 engine(3);
  std::uniform_real_distribution<float> noise(-1.2f, 1.2f);
  std::vector<float> input(20000);
  for (std::size_t i = 0; i < input.size(); ++i)
    input[i] = 0.6f * std::sin(static_cast<float>(i) * 0.03f) + 0.4f * noise(engine);
  struct Case {
    std::uint32_t in_rate, out_rate;
  };
  for (const Case c : {Case{44100, 48000}, Case{44100, 24000}, Case{16000, 48000}, Case{96000, 24000},
                       Case{22050, 24000}, Case{8000, 24000}}) {
    const auto expected = test::reference_resample(dir, input, c.in_rate, c.out_rate, false);
    const auto actual = run(LinearResampler::between(c.in_rate, c.out_rate), input);
    ASSERT_EQ(actual.size(), expected.size()) << c.in_rate << " -> " << c.out_rate;
    for (std::size_t i = 0; i < actual.size(); ++i)
      ASSERT_EQ(actual[i], expected[i]) << c.in_rate << " -> " << c.out_rate << " at " << i;
  }
}

TEST(LinearResampler, ANewInputRateRestartsIt) {
  auto resampler = LinearResampler::between(44100, 48000);
  std::vector<std::int16_t> out;
  for (const float x : {0.1f, 0.2f, 0.3f}) resampler.process(x, out);
  resampler.set_in_rate(44100);  // unchanged: keeps its place
  EXPECT_TRUE(resampler.prev.has_value());
  resampler.set_in_rate(24000);
  EXPECT_FALSE(resampler.prev.has_value());
  EXPECT_EQ(resampler.phase, 0.0);
  EXPECT_EQ(resampler.ratio, 0.5);
  EXPECT_EQ(resampler.in_rate, 24000u);
  EXPECT_EQ(resampler.out_rate, 48000u);
}

}  // namespace
}  // namespace ombri
