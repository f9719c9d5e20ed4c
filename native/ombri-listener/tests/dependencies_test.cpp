// Proves the source-built libraries link and run as bootstrap built them.
#include <gtest/gtest.h>
#include <rnnoise.h>
#include <whisper.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>

namespace ombri {
namespace {

TEST(Dependencies, WhisperReportsItsVersionAndSystemInfo) {
  EXPECT_STREQ(whisper_version(), OMBRI_WHISPER_VERSION);
  const std::string info = whisper_print_system_info();
  EXPECT_FALSE(info.empty());
}

TEST(Dependencies, RnnoiseDenoisesOneFrameOfSilence) {
  constexpr std::size_t frame_size = 480;
  const std::unique_ptr<DenoiseState, decltype(&rnnoise_destroy)> state(rnnoise_create(nullptr), &rnnoise_destroy);
  ASSERT_NE(state, nullptr);
  const std::array<float, frame_size> silence{};
  std::array<float, frame_size> out;
  out.fill(1.0f);
  const float voice_probability = rnnoise_process_frame(state.get(), out.data(), silence.data());
  EXPECT_GE(voice_probability, 0.0f);
  EXPECT_LE(voice_probability, 1.0f);
  for (const float sample : out) {
    EXPECT_LT(std::fabs(sample), 1e-3f);
  }
}

}  // namespace
}  // namespace ombri
