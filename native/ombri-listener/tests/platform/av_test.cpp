#include "platform/av.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"

namespace ombri {
namespace {

using hal::AudioStreamBasicDescription;
using platform::pcm_format;
using platform::PcmKind;

TEST(PlatformFormat, CommonFormatOfStreamDescriptions) {
  sim::ScopedAudioWorld world;
  struct Case {
    AudioStreamBasicDescription description;
    std::optional<av::AVAudioCommonFormat> expected;
  };
  auto big_endian = pcm_format(48000, 1, PcmKind::F32);
  big_endian.mFormatFlags |= hal::kAudioFormatFlagIsBigEndian;
  auto no_channels = pcm_format(48000, 1, PcmKind::F32);
  no_channels.mChannelsPerFrame = 0;
  const Case cases[] = {
      {pcm_format(48000, 1, PcmKind::F32), av::AVAudioPCMFormatFloat32},
      {pcm_format(48000, 2, PcmKind::F64), av::AVAudioPCMFormatFloat64},
      {pcm_format(44100, 1, PcmKind::I16), av::AVAudioPCMFormatInt16},
      {pcm_format(96000, 1, PcmKind::I32), av::AVAudioPCMFormatInt32},
      {pcm_format(48000, 1, PcmKind::U16), av::AVAudioOtherFormat},
      {pcm_format(48000, 1, PcmKind::Other), av::AVAudioOtherFormat},
      {big_endian, av::AVAudioOtherFormat},
      {pcm_format(0, 1, PcmKind::F32), std::nullopt},
      {pcm_format(std::nan(""), 1, PcmKind::F32), std::nullopt},
      {no_channels, std::nullopt},
  };
  for (const Case& c : cases) {
    auto format = av::AudioFormat::with_stream_description(c.description);
    ASSERT_EQ(format.has_value(), c.expected.has_value());
    if (format) {
      EXPECT_EQ(format->common_format(), *c.expected);
    }
  }
  world->fail(sim::Fault(sim::Call::AudioFormatInit, 0));
  EXPECT_FALSE(av::AudioFormat::with_stream_description(pcm_format(48000, 1, PcmKind::F32)).has_value());
}

template <class T>
std::vector<T> encoded(PcmKind kind, const std::vector<float>& samples) {
  std::vector<T> out(samples.size());
  platform::encode_pcm(samples, pcm_format(48000, 1, kind), out.data());
  return out;
}

TEST(PlatformFormat, SignalsAreEncodedByRoundingAndSaturating) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> in{-2.0f, -1.0f, 0.5f, 1.0f, 1.5f / 32768.0f, nan};
  EXPECT_EQ(encoded<std::int16_t>(PcmKind::I16, in), (std::vector<std::int16_t>{-32768, -32768, 16384, 32767, 2, 0}));
  EXPECT_EQ(encoded<std::uint16_t>(PcmKind::U16, in), (std::vector<std::uint16_t>{0, 0, 49152, 65535, 32770, 32768}));
  EXPECT_EQ(encoded<std::int32_t>(PcmKind::I32, in),
            (std::vector<std::int32_t>{INT32_MIN, INT32_MIN, 1073741824, INT32_MAX, 98304, 0}));
  const auto doubles = encoded<double>(PcmKind::F64, {0.1f});
  EXPECT_EQ(doubles[0], static_cast<double>(0.1f));
  std::vector<unsigned char> other(6, 0xAA);  // two 24-bit samples
  platform::encode_pcm(std::vector<float>{0.5f, 0.5f}, pcm_format(48000, 1, PcmKind::Other), other.data());
  EXPECT_EQ(other, std::vector<unsigned char>(6, 0));
}

}  // namespace
}  // namespace ombri
