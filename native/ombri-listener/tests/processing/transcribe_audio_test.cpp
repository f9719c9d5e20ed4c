#include "processing/transcribe_audio.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "sample_bytes.hpp"
#include "test_support.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::Bytes;
using test::float_bytes;
using test::hand_wav_file;
using test::le16;
using test::little_endian;
using test::sox_wav;
using test::TempDir;

TEST(TranscribeAudio, InterleavedMonoAveragesEachFrame) {
  // Five samples, two channels: the short last frame is its own mean.
  const std::vector<float> samples = {0.1f, 0.2f, 0.7f, -0.3f, 0.33f};
  // Single-precision sums and quotients, from numpy float32.
  EXPECT_EQ(interleaved_mono(samples, 2), (std::vector<float>{0x1.333334p-3f, 0x1.999998p-3f, 0x1.51eb86p-2f}));
  EXPECT_EQ(interleaved_mono(samples, 3).size(), 2u);
  EXPECT_TRUE(interleaved_mono(std::vector<float>{}, 2).empty());
}

TEST(TranscribeAudio, LinearResampleTo16kHz) {
  const std::vector<float> nine = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f};
  // 48 kHz: every third sample, the fraction always 0.
  EXPECT_EQ(linear_resample(nine, 48000), (std::vector<float>{0.1f, 0.4f, 0.7f}));
  EXPECT_TRUE(linear_resample(std::vector<float>{0.1f, 0.2f}, 48000).empty());

  // 8 kHz: each sample, then the midpoint; the last pair holds at the last sample.
  const std::vector<float> three = {0.25f, -0.5f, 1.0f};
  EXPECT_EQ(linear_resample(three, 8000), (std::vector<float>{0.25f, 0.25f + (-0.5f - 0.25f) * 0.5f, -0.5f,
                                                              -0.5f + (1.0f + 0.5f) * 0.5f, 1.0f, 1.0f}));

  // 11025 Hz: double positions, single-precision fractions and arithmetic (numpy float32).
  const std::vector<float> seven = {0.5f, -0.25f, 0.125f, 0.9f, -0.6f, 0.3f, 0.05f};
  EXPECT_EQ(linear_resample(seven, 11025),
            (std::vector<float>{0x1p-1f, -0x1.1333p-6f, -0x1.bb333p-4f, 0x1.6aa3d8p-3f, 0x1.6c147ap-1f, 0x1.db333p-3f,
                                -0x1.ea8f5cp-2f, 0x1.20f5c8p-3f, 0x1.600002p-3f, 0x1.99999ap-5f}));

  // 0 Hz counts as 1 Hz for the length; the ratio 0 repeats the first sample.
  const auto from_zero = linear_resample(std::vector<float>{0.75f, 0.1f}, 0);
  EXPECT_EQ(from_zero, std::vector<float>(32000, 0.75f));

  EXPECT_EQ(resampled_length(4294967295u, 1), 68719476720000u);
  EXPECT_EQ(resampled_length(44101, 44100), 16000u);
}

TEST(TranscribeAudio, UnusableSamplesBecomeZero) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> samples = {std::nanf(""), inf,       -inf, 1e30f,  -std::nextafter(1e9f, inf),
                                1e9f,          -32768.0f, 1.5f, -0.25f, 0.0f};
  zero_unusable_samples(samples);
  EXPECT_EQ(samples, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1e9f, -32768.0f, 1.5f, -0.25f, 0.0f}));
}

TEST(TranscribeAudio, ReadsEveryLayoutAsMono16kHz) {
  TempDir dir;
  const struct {
    const char* name;
    std::string path;
    std::vector<float> expected;
  } cases[] = {
      {"16-bit",
       sox_wav(dir, "16.wav", "signed-integer", 16, 1, 16000, le16({-32768, 0, 16384, 32767})),
       {-1.0f, 0.0f, 0.5f, 32767.0f / 32768.0f}},
      {"8-bit",
       sox_wav(dir, "8.wav", "unsigned-integer", 8, 1, 16000, {0x80, 0x00, 0xFF}),
       {0.0f, -1.0f, 127.0f / 128.0f}},
      {"24-bit",
       sox_wav(dir, "24.wav", "signed-integer", 24, 1, 16000, little_endian({-8388608, 4194304, 1}, 3)),
       {-1.0f, 0.5f, 1.0f / 8388608.0f}},
      {"32-bit",
       sox_wav(dir, "32.wav", "signed-integer", 32, 1, 16000,
               little_endian({-2147483648LL, 1073741824, 2147483647}, 4)),
       {-1.0f, 0.5f, 1.0f}},  // 2147483647 rounds to 2^31 in single precision
      {"float, not clamped",
       hand_wav_file(dir, "f.wav", {.format_tag = 3, .block_align = 4, .bits = 32}, float_bytes({1.5f, -0.25f})),
       {1.5f, -0.25f}},
      {"stereo",
       sox_wav(dir, "st.wav", "signed-integer", 16, 2, 16000, le16({100, 300, -50, 50})),
       {(100.0f / 32768.0f + 300.0f / 32768.0f) / 2.0f, 0.0f}},
      {"48 kHz",
       sox_wav(dir, "48.wav", "signed-integer", 16, 1, 48000, le16({1, 2, 3, 4, 5, 6, 7})),
       {1.0f / 32768.0f, 4.0f / 32768.0f}},
      {"two samples at 48 kHz", sox_wav(dir, "48-2.wav", "signed-integer", 16, 1, 48000, le16({1, 2})), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto buffer = read_wav_mono_16k(c.path);
    ASSERT_TRUE(buffer) << buffer.error();
    EXPECT_EQ(*buffer, c.expected);
  }
}

TEST(TranscribeAudio, ReadErrors) {
  TempDir dir;
  const struct {
    const char* name;
    std::string path;
    std::string error;
  } cases[] = {
      {"missing", dir.file("nope.wav"), "Could not open transcription audio: No such file or directory (os error 2)"},
      {"zero channels", hand_wav_file(dir, "nc.wav", {.channels = 0}, le16({1})),
       "Could not open transcription audio: Ill-formed WAVE file: file contains zero channels"},
      {"truncated", hand_wav_file(dir, "cut.wav", {.announced_data_bytes = 20}, le16({1, 2, 3})),
       "Failed to read enough bytes."},
      // 100000 samples at 1 Hz would become 1.6 billion at 16 kHz.
      {"tiny rate",
       hand_wav_file(dir, "slow.wav", {.sample_rate = 1, .block_align = 1, .bits = 8}, Bytes(100000, 0x80)),
       "The transcription audio is longer than 24 hours, the most this listener transcribes."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto buffer = read_wav_mono_16k(c.path);
    ASSERT_FALSE(buffer);
    EXPECT_EQ(buffer.error(), c.error);
  }
}

}  // namespace
}  // namespace ombri
