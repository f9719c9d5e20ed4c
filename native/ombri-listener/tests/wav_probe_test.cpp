#include "wav_probe.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::Bytes;
using test::HandHeader;
using test::TempDir;

// Windows from a pattern: 'V' voiced (4 samples, energy 1, peak 0.5), 's' silent.
std::vector<EnergyWindow> windows_from(const std::string& pattern) {
  std::vector<EnergyWindow> windows;
  for (char c : pattern) windows.push_back(c == 'V' ? EnergyWindow{4, 1.0, 0.5f} : EnergyWindow{4, 0.0, 0.0f});
  return windows;
}

TEST(WavProbe, SegmentationJoinsBridgesAndCuts) {
  struct Case {
    const char* name;
    std::string pattern;
    double duration;
    std::vector<WavChunk> expected;
  };
  const double all_voiced = std::sqrt(1.0 / 4.0);
  const std::vector<Case> cases = {
      {"one silent window is bridged and counts", "VsV", 10, {{0.0, 0.75, std::sqrt(2.0 / 12.0), 0.5f}}},
      {"two silent windows split", "VssV", 10, {{0.0, 0.25, all_voiced, 0.5f}, {0.75, 1.0, all_voiced, 0.5f}}},
      {"a trailing silent window is not part of the chunk", "sVs", 10, {{0.25, 0.5, all_voiced, 0.5f}}},
      {"30 s of sound become 12 s chunks",
       std::string(120, 'V'),
       30,
       {{0.0, 12.0, all_voiced, 0.5f}, {12.0, 24.0, all_voiced, 0.5f}, {24.0, 30.0, all_voiced, 0.5f}}},
      {"a bridged 48th window makes 49",
       std::string(47, 'V') + "sVV",
       30,
       {{0.0, 12.25, std::sqrt(48.0 / 196.0), 0.5f}, {12.25, 12.5, all_voiced, 0.5f}}},
      {"the end is cut at the duration", "VVV", 0.6, {{0.0, 0.6, all_voiced, 0.5f}}},
      {"a chunk starting at the duration is dropped", "VssV", 0.75, {{0.0, 0.25, all_voiced, 0.5f}}},
      {"silence", "sssss", 10, {}},
      {"no windows", "", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto chunks = chunks_from_windows(windows_from(c.pattern), c.duration);
    ASSERT_EQ(chunks.size(), c.expected.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].start_time, c.expected[i].start_time);
      EXPECT_EQ(chunks[i].end_time, c.expected[i].end_time);
      EXPECT_EQ(chunks[i].rms, c.expected[i].rms);
      EXPECT_EQ(chunks[i].peak, c.expected[i].peak);
    }
  }
}

TEST(WavProbe, VoicedByLevelOrByPeak) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(is_voiced({1, 0.005 * 0.005, 0.0f}));
  EXPECT_FALSE(is_voiced({1, 0.0039 * 0.0039, 0.0f}));
  EXPECT_TRUE(is_voiced({100, 0.0, 0.012f}));
  EXPECT_FALSE(is_voiced({100, 0.0, std::nextafter(0.012f, 0.0f)}));
  EXPECT_TRUE(is_voiced({3, nan, 1.0f}));
  EXPECT_FALSE(is_voiced({3, nan, 0.0f}));
}

// The probe as its rules read, one sample at a time, for 16-bit data: a
// reference for the block-wise implementation.
WavProbe reference_probe16(const std::vector<std::int16_t>& samples, unsigned channels, unsigned rate) {
  const std::uint64_t window_frames = std::max<std::uint64_t>((rate + 2) / 4, 1);
  std::vector<EnergyWindow> windows;
  WavProbe probe;
  for (std::size_t n = 0; n < samples.size(); ++n) {
    float x = static_cast<float>(samples[n]) / 32767.0f;
    if (x < -1.0f) x = -1.0f;
    const float a = std::fabs(x);
    probe.peak = std::max(probe.peak, a);
    const std::size_t w = n / channels / window_frames;
    if (windows.size() <= w) windows.resize(w + 1);
    windows[w].count += 1;
    windows[w].sum_sq += static_cast<double>(x) * static_cast<double>(x);
    windows[w].peak = std::max(windows[w].peak, a);
  }
  probe.duration_seconds = static_cast<double>(samples.size() / channels) / rate;
  probe.chunks = chunks_from_windows(windows, probe.duration_seconds);
  return probe;
}

// Bursts of noise of changing loudness with quiet gaps.
std::vector<std::int16_t> bursts(std::size_t count, unsigned period) {
  std::vector<std::int16_t> samples(count);
  std::uint32_t noise = 7;
  for (std::size_t i = 0; i < count; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const bool loud = (i / period) % 3 != 2;
    const int amplitude = loud ? 200 + static_cast<int>((i / period) % 7) * 1500 : 60;
    samples[i] = static_cast<std::int16_t>(static_cast<int>(noise >> 16) % (2 * amplitude + 1) - amplitude);
  }
  return samples;
}

TEST(WavProbe, MatchesTheSampleBySampleRulesBitForBit) {
  struct Case {
    unsigned rate, channels;
    std::size_t samples;
  };
  for (const Case c : {Case{48000, 2, 48000 * 2 * 20}, Case{16000, 1, 16000 * 31 + 77}, Case{11025, 1, 11025 * 40},
                       Case{8000, 3, 8000 * 3 * 9}, Case{22050, 2, 22050 * 2 * 7}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
    TempDir dir;
    const auto samples = bursts(c.samples, c.rate / 3);
    Bytes raw;
    for (auto s : samples) test::put_u16(raw, static_cast<std::uint16_t>(s));
    const std::string path =
        test::sox_wav(dir, "noise.wav", "signed", 16, static_cast<int>(c.channels), static_cast<int>(c.rate), raw);
    auto probe = probe_wav(path);
    ASSERT_TRUE(probe.ok()) << probe.error();
    const WavProbe expected = reference_probe16(samples, c.channels, c.rate);
    EXPECT_EQ(probe->duration_seconds, expected.duration_seconds);
    EXPECT_EQ(probe->peak, expected.peak);
    ASSERT_EQ(probe->chunks.size(), expected.chunks.size());
    ASSERT_FALSE(expected.chunks.empty());
    for (std::size_t i = 0; i < expected.chunks.size(); ++i) {
      EXPECT_EQ(probe->chunks[i].start_time, expected.chunks[i].start_time);
      EXPECT_EQ(probe->chunks[i].end_time, expected.chunks[i].end_time);
      EXPECT_EQ(probe->chunks[i].rms, expected.chunks[i].rms);
      EXPECT_EQ(probe->chunks[i].peak, expected.chunks[i].peak);
    }
  }
}

// Float, 24-bit and 32-bit data, whose normalising differs, against the same
// rules applied one sample at a time; a window length that is no multiple of
// 8, floats beyond full scale, infinite or not a number (either sign), and
// 32-bit samples beyond half of full scale included.
TEST(WavProbe, FloatAndWideDataMatchTheSampleBySampleRules) {
  constexpr unsigned kRate = 7997, kChannels = 2;
  const std::uint64_t window = (kRate + 2) / 4 * kChannels;
  const auto noise = bursts(window * 21 + 6, static_cast<unsigned>(window * 2));
  std::vector<float> floats;
  for (auto s : noise) floats.push_back(static_cast<float>(s) / 9000.0f);
  floats[window * 3 + 1] = 2.5f;
  floats[window * 9 + 7] = -4.0f;
  floats[window * 12 + 2] = std::numeric_limits<float>::quiet_NaN();
  floats[window * 13 + 9] = -std::numeric_limits<float>::quiet_NaN();
  // Late in the last loud window before a quiet stretch, where no later
  // sample could mend a peak that a not-a-number had replaced, and where a
  // lost peak would end the chunk early.
  floats[window * 10 - 11] = std::numeric_limits<float>::quiet_NaN();
  floats[window * 10 - 1] = std::numeric_limits<float>::quiet_NaN();
  floats[window * 5 + 4] = std::numeric_limits<float>::infinity();
  floats[window * 14 + 3] = -std::numeric_limits<float>::infinity();
  Bytes float_raw, wide_raw, widest_raw;
  std::vector<float> wide, widest;
  for (std::size_t i = 0; i < noise.size(); ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, &floats[i], 4);
    test::put_u32(float_raw, bits);
    const std::int32_t v = noise[i] * 256 + static_cast<std::int32_t>(i % 256);
    for (int b = 0; b < 3; ++b)
      wide_raw.push_back(static_cast<unsigned char>(static_cast<std::uint32_t>(v) >> (8 * b)));
    wide.push_back(static_cast<float>(v) / 8388607.0f);
    // The loudest stretches pass 2^30 and clip, the quiet ones stay quiet; the
    // low bits make the conversion to single precision round.
    const std::int32_t w = noise[i] * std::abs(noise[i]) * 22 + static_cast<std::int32_t>(i % 4099);
    test::put_u32(widest_raw, static_cast<std::uint32_t>(w));
    widest.push_back(static_cast<float>(w) / 1073741824.0f);
  }
  TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    const std::vector<float>& normalised;  // before clipping
  };
  const std::vector<Case> cases = {
      {"float",
       test::hand_wav_file(dir, "f32.wav",
                           {.format_tag = 3, .channels = kChannels, .sample_rate = kRate, .block_align = 8, .bits = 32},
                           float_raw),
       floats},
      {"24-bit", test::sox_wav(dir, "s24.wav", "signed", 24, kChannels, kRate, wide_raw), wide},
      {"32-bit", test::sox_wav(dir, "s32.wav", "signed", 32, kChannels, kRate, widest_raw), widest},
  };
  const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<EnergyWindow> windows(c.normalised.size() / window + 1);
    float peak = 0;
    for (std::size_t i = 0; i < c.normalised.size(); ++i) {
      const float x = std::min(std::max(c.normalised[i], -1.0f), 1.0f);
      EnergyWindow& w = windows[i / window];
      w.count += 1;
      w.sum_sq += static_cast<double>(x) * static_cast<double>(x);
      const float a = std::fabs(x);
      if (a > w.peak) w.peak = a;
      if (a > peak) peak = a;
    }
    const double duration = static_cast<double>(c.normalised.size() / kChannels) / kRate;
    const auto expected = chunks_from_windows(windows, duration);
    auto probe = probe_wav(c.path);
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe->peak, peak);
    ASSERT_EQ(probe->chunks.size(), expected.size());
    ASSERT_GE(expected.size(), 3u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(probe->chunks[i].start_time, expected[i].start_time);
      EXPECT_EQ(probe->chunks[i].end_time, expected[i].end_time);
      EXPECT_TRUE(same(probe->chunks[i].rms, expected[i].rms)) << probe->chunks[i].rms << " vs " << expected[i].rms;
      EXPECT_EQ(probe->chunks[i].peak, expected[i].peak);
    }
  }
}

Bytes constant16(std::size_t count, std::int16_t value) {
  Bytes raw;
  for (std::size_t i = 0; i < count; ++i) test::put_u16(raw, static_cast<std::uint16_t>(value));
  return raw;
}

TEST(WavProbe, FileCases) {
  TempDir dir;
  {
    SCOPED_TRACE("8-bit full scale never reaches the thresholds");
    Bytes raw;
    for (int i = 0; i < 8000; ++i) raw.push_back(i % 2 ? 0xFF : 0x00);
    auto probe = probe_wav(test::sox_wav(dir, "u8.wav", "unsigned", 8, 1, 8000, raw));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_TRUE(probe->chunks.empty());
    EXPECT_EQ(probe->peak, 128.0f / 32767.0f);
  }
  {
    SCOPED_TRACE("silence keeps its true peak");
    auto probe = probe_wav(test::sox_wav(dir, "quiet.wav", "signed", 16, 1, 16000, constant16(16000, 100)));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_TRUE(probe->chunks.empty());
    EXPECT_EQ(probe->peak, 100.0f / 32767.0f);
    EXPECT_EQ(probe->duration_seconds, 1.0);
  }
  {
    SCOPED_TRACE("no samples");
    auto probe = probe_wav(test::hand_wav_file(dir, "empty.wav", {}, {}));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_TRUE(probe->chunks.empty());
    EXPECT_EQ(probe->duration_seconds, 0.0);
    EXPECT_EQ(probe->peak, 0.0f);
  }
  {
    SCOPED_TRACE("a short voiced last window ends at the duration");
    auto probe = probe_wav(test::sox_wav(dir, "short.wav", "signed", 16, 1, 16000, constant16(4000 + 1000, 16384)));
    ASSERT_TRUE(probe.ok()) << probe.error();
    ASSERT_EQ(probe->chunks.size(), 1u);
    EXPECT_EQ(probe->chunks[0].end_time, 5000.0 / 16000.0);
  }
  {
    SCOPED_TRACE("at 22050 Hz a window holds 5513 frames");
    Bytes raw = constant16(5513, 16384);
    const Bytes quiet = constant16(5513 * 3, 0);
    raw.insert(raw.end(), quiet.begin(), quiet.end());
    auto probe = probe_wav(test::sox_wav(dir, "22050.wav", "signed", 16, 1, 22050, raw));
    ASSERT_TRUE(probe.ok()) << probe.error();
    ASSERT_EQ(probe->chunks.size(), 1u);
    EXPECT_EQ(probe->chunks[0].end_time, 0.25);
  }
  {
    SCOPED_TRACE("a rate of 0 counts as 1 Hz");
    auto probe = probe_wav(test::hand_wav_file(dir, "rate0.wav", {.sample_rate = 0}, test::le16({16384, 0, 0, 16384})));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe->duration_seconds, 4.0);
    ASSERT_EQ(probe->chunks.size(), 2u);
    EXPECT_EQ(probe->chunks[0].end_time, 0.25);
    EXPECT_EQ(probe->chunks[1].start_time, 0.75);
  }
  {
    SCOPED_TRACE("24-bit divides by 8388607, 32-bit by 2^30 and clips");
    auto wide = probe_wav(test::sox_wav(dir, "s24.wav", "signed", 24, 1, 8000, Bytes{0x00, 0x00, 0xC0}));
    ASSERT_TRUE(wide.ok()) << wide.error();
    EXPECT_EQ(wide->peak, 4194304.0f / 8388607.0f);
    auto widest = probe_wav(test::sox_wav(dir, "s32.wav", "signed", 32, 1, 8000, Bytes{0, 0, 0, 0x60, 0, 0, 0, 0x30}));
    ASSERT_TRUE(widest.ok()) << widest.error();
    EXPECT_EQ(widest->peak, 1.0f);
    ASSERT_EQ(widest->chunks.size(), 1u);
    EXPECT_EQ(widest->chunks[0].rms, std::sqrt((1.0 + 0.75 * 0.75) / 2.0));
  }
  {
    SCOPED_TRACE("floats beyond full scale clip; a not-a-number leaves peaks alone");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Bytes raw;
    for (float v : {2.0f, nan, -3.0f, 0.0f}) {
      std::uint32_t bits;
      std::memcpy(&bits, &v, 4);
      test::put_u32(raw, bits);
    }
    auto probe = probe_wav(test::hand_wav_file(dir, "f32.wav", {.format_tag = 3, .block_align = 4, .bits = 32}, raw));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe->peak, 1.0f);
    ASSERT_EQ(probe->chunks.size(), 1u);
    EXPECT_TRUE(std::isnan(probe->chunks[0].rms));
    EXPECT_EQ(probe->chunks[0].peak, 1.0f);
  }
}

TEST(WavProbe, FailuresNameThePathAndTheReadersText) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    std::string error;
  };
  const std::string missing = dir.file("missing.wav");
  const std::string no_channels = test::hand_wav_file(dir, "zero.wav", {.channels = 0}, {});
  const std::string short16 = test::hand_wav_file(dir, "short16.wav", {.announced_data_bytes = 40}, test::le16({1, 2}));
  const std::string short24 =
      test::hand_wav_file(dir, "short24.wav", {.block_align = 3, .bits = 24, .announced_data_bytes = 30}, Bytes(7, 1));
  const std::string float64 =
      test::hand_wav_file(dir, "f64.wav", {.format_tag = 3, .block_align = 8, .bits = 64}, Bytes(8, 0));
  const std::vector<Case> cases = {
      {"missing file", missing, "Failed to open WAV " + missing + ": " + os_error_text(ENOENT)},
      {"zero channels", no_channels,
       "Failed to open WAV " + no_channels + ": Ill-formed WAVE file: file contains zero channels"},
      {"16-bit data ends early", short16,
       "Failed to read int WAV sample " + short16 + ": Failed to read enough bytes."},
      {"24-bit data ends early", short24,
       "Failed to read wide WAV sample " + short24 + ": Failed to read enough bytes."},
      {"64-bit floats", float64,
       "Failed to read float WAV sample " + float64 + ": The sample has more bits than the destination type."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto probe = probe_wav(c.path);
    ASSERT_FALSE(probe.ok());
    EXPECT_EQ(probe.error(), c.error);
  }
}

}  // namespace
}  // namespace ombri
