#include "processing/enhance_framing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace ombri {
namespace {

// Every frame the upsampler emits, in order.
struct FrameLog {
  std::vector<std::vector<float>> frames;
  auto sink() {
    return [this](FrameUpsampler::Frame frame) -> Result<void> {
      frames.emplace_back(frame.begin(), frame.end());
      return {};
    };
  }
};

TEST(EnhanceFraming, IntegerAndFloatSamplesTo16BitScale) {
  const struct {
    std::int32_t value;
    unsigned bits;
    float expected;
  } cases[] = {
      {-128, 8, -32768.0f},
      {127, 8, 32512.0f},
      {-32768, 16, -32768.0f},
      {12345, 16, 12345.0f},
      {-1, 24, -1.0f},
      {255, 24, 0.0f},
      {8388607, 24, 32767.0f},
      {-8388608, 24, -32768.0f},
      {-1, 32, -1.0f},
      {65535, 32, 0.0f},
      {65536, 32, 1.0f},
      {2147483647, 32, 32767.0f},
      {-2147483647 - 1, 32, -32768.0f},
  };
  for (const auto& c : cases)
    EXPECT_EQ(integer_to_16bit_scale(c.value, c.bits), c.expected) << c.value << " at " << c.bits << " bits";
  EXPECT_EQ(float_to_16bit_scale(1.0f), 32768.0f);
  EXPECT_EQ(float_to_16bit_scale(-0.5f), -16384.0f);
}

TEST(EnhanceFraming, ClampsBeforeTruncatingTowardZero) {
  const struct {
    float value;
    std::int16_t expected;
  } cases[] = {
      {100.7f, 100},
      {-100.7f, -100},
      {32767.9f, 32767},
      {40000.0f, 32767},
      {-32768.9f, -32768},
      {-1e9f, -32768},
      {std::numeric_limits<float>::infinity(), 32767},
      {std::numeric_limits<float>::quiet_NaN(), -32768},
  };
  for (const auto& c : cases) EXPECT_EQ(clamp_to_pcm16(c.value), c.expected) << c.value;
}

TEST(EnhanceFraming, FramesAtTheEdges) {
  std::vector<float> ramp(481);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) + 0.5f;
  const struct {
    const char* name;
    std::uint32_t rate;
    std::vector<float> input;
    std::size_t frames_while_pushing;
    std::vector<float> last_frame_head;  // the first values of the last frame; zeros follow where given short
    std::size_t last_frame_filled;       // values before the zero fill (480: a full frame)
  } cases[] = {
      // The last input sample only closes the interpolation: never emitted.
      {"481 samples at 48 kHz", 48000, ramp, 1, {0.5f, 1.5f, 2.5f}, 480},
      {"480 samples at 48 kHz", 48000, std::vector<float>(ramp.begin(), ramp.begin() + 480), 0, {0.5f, 1.5f}, 479},
      // Phases 1/3 and 2/3 as accumulated, then single precision (values from numpy float32).
      {"two samples at 16 kHz", 16000, {1000.3f, -2000.7f}, 0, {0x1.f42666p+9f, -0x1.118p-5f, -0x1.f42ef2p+9f}, 3},
      // Six additions of 1/6 stay below 1.0: seven samples for the first pair.
      {"two samples at 8 kHz", 8000, {1.0f, 1.0f}, 0, {1, 1, 1, 1, 1, 1, 1}, 7},
      {"one sample", 16000, {0.25f}, 0, {}, 0},
      {"no samples", 16000, {}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameUpsampler upsampler(c.rate);
    FrameLog log;
    for (float x : c.input) ASSERT_TRUE(upsampler.push_sample(x, log.sink()));
    EXPECT_EQ(log.frames.size(), c.frames_while_pushing);
    ASSERT_TRUE(upsampler.finish(log.sink()));
    if (c.last_frame_filled == 0) {
      EXPECT_TRUE(log.frames.empty());
      continue;
    }
    ASSERT_EQ(log.frames.size(), 1u);
    const auto& frame = log.frames.back();
    for (std::size_t i = 0; i < c.last_frame_head.size(); ++i) EXPECT_EQ(frame[i], c.last_frame_head[i]) << i;
    if (c.last_frame_filled == 480) {
      EXPECT_EQ(frame, std::vector<float>(ramp.begin(), ramp.begin() + 480));
    } else {
      EXPECT_NE(frame[c.last_frame_filled - 1], 0.0f);
      for (std::size_t i = c.last_frame_filled; i < frame.size(); ++i) ASSERT_EQ(frame[i], 0.0f) << i;
    }
  }
}

}  // namespace
}  // namespace ombri
