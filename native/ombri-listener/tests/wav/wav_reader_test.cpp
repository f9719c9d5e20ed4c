#include "wav/wav_reader.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <variant>

#include "base/os_error.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::Bytes;
using test::HandHeader;
using test::TempDir;

using Values = std::variant<std::vector<std::int16_t>, std::vector<std::int32_t>, std::vector<float>>;

// Reads every sample one at a time as the element type of `expected`.
template <class T>
std::vector<T> read_all_single(WavReader& reader) {
  std::vector<T> values;
  T value{};
  WavRead status;
  while ((status = reader.read(value)) == WavRead::sample) values.push_back(value);
  EXPECT_EQ(status, WavRead::end) << reader.error();
  return values;
}

template <class T>
std::vector<T> read_all_blocks(WavReader& reader, std::size_t block) {
  std::vector<T> values;
  std::vector<T> chunk(block);
  while (true) {
    auto got = reader.read_samples(std::span<T>(chunk));
    EXPECT_TRUE(got.ok()) << got.error();
    if (!got || *got == 0) break;
    values.insert(values.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*got));
  }
  return values;
}

struct LayoutCase {
  const char* name;
  std::function<std::string(const TempDir&)> make;
  std::uint32_t rate;
  std::uint16_t channels, bits, bytes;
  WavSampleFormat sample_format;
  Values expected;
};

Bytes bytes_of(std::initializer_list<unsigned char> list) { return Bytes(list); }

Bytes float_bytes(std::initializer_list<float> values) {
  Bytes out;
  for (float v : values) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    test::put_u32(out, bits);
  }
  return out;
}

TEST(WavReader, ReadsEveryLayoutAsTheTableSays) {
  const std::vector<LayoutCase> cases = {
      {"8-bit unsigned (sox)",
       [](const TempDir& d) {
         return test::sox_wav(d, "u8.wav", "unsigned", 8, 1, 8000, bytes_of({0x80, 0x00, 0xFF, 0x01}));
       },
       8000, 1, 8, 1, WavSampleFormat::integer, std::vector<std::int16_t>{0, -128, 127, -127}},
      {"8-bit read as 32-bit (sox)",
       [](const TempDir& d) {
         return test::sox_wav(d, "u8w.wav", "unsigned", 8, 1, 8000, bytes_of({0x80, 0x00, 0xFF}));
       },
       8000, 1, 8, 1, WavSampleFormat::integer, std::vector<std::int32_t>{0, -128, 127}},
      {"16-bit stereo (sox)",
       [](const TempDir& d) {
         return test::sox_wav(d, "s16.wav", "signed", 16, 2, 8000, test::le16({0, 1, -1, 32767, -32768, 258}));
       },
       8000, 2, 16, 2, WavSampleFormat::integer, std::vector<std::int16_t>{0, 1, -1, 32767, -32768, 258}},
      {"16-bit read as 32-bit, 3 channels, extensible (sox)",
       [](const TempDir& d) {
         return test::sox_wav(d, "s16x3.wav", "signed", 16, 3, 8000, test::le16({-32768, 5, 32767}));
       },
       8000, 3, 16, 2, WavSampleFormat::integer, std::vector<std::int32_t>{-32768, 5, 32767}},
      {"24-bit in 3 bytes, extensible (sox)",
       [](const TempDir& d) {
         return test::sox_wav(
             d, "s24.wav", "signed", 24, 1, 8000,
             bytes_of({0, 0, 0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x56, 0x34, 0x12}));
       },
       8000, 1, 24, 3, WavSampleFormat::integer, std::vector<std::int32_t>{0, 1, -1, 8388607, -8388608, 0x123456}},
      {"24-bit in 4 bytes, plain header: the high byte is ignored",
       [](const TempDir& d) {
         return test::hand_wav_file(d, "s24in4.wav", HandHeader{.block_align = 4, .bits = 24},
                                    bytes_of({0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0xAB, 0x00, 0x00, 0x80, 0x7F}));
       },
       16000, 1, 24, 4, WavSampleFormat::integer, std::vector<std::int32_t>{-1, 1, -8388608}},
      {"24-bit in 4 bytes, extensible header",
       [](const TempDir& d) {
         return test::hand_wav_file(d, "s24in4x.wav", HandHeader{.block_align = 4, .bits = 32, .valid_bits = 24},
                                    bytes_of({0xFF, 0xFF, 0x7F, 0xEE, 0x00, 0x00, 0x80, 0x11}));
       },
       16000, 1, 24, 4, WavSampleFormat::integer, std::vector<std::int32_t>{8388607, -8388608}},
      {"32-bit integer, extensible (sox)",
       [](const TempDir& d) {
         return test::sox_wav(d, "s32.wav", "signed", 32, 1, 8000,
                              bytes_of({0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}));
       },
       8000, 1, 32, 4, WavSampleFormat::integer, std::vector<std::int32_t>{INT32_MIN, INT32_MAX, -1}},
      {"32-bit float (sox)",
       [](const TempDir& d) {
         return test::sox_wav(d, "f32.wav", "floating-point", 32, 1, 8000, float_bytes({0.5f, -1.0f, 0.25f}));
       },
       8000, 1, 32, 4, WavSampleFormat::ieee_float, std::vector<float>{0.5f, -1.0f, 0.25f}},
      {"32-bit float beyond full scale (libsndfile)",
       [](const TempDir& d) {
         return test::sndfile_float_wav(d, "f32sf.wav", 8000, {0.5f, -1.5f, 0.125f});
       },
       8000, 1, 32, 4, WavSampleFormat::ieee_float, std::vector<float>{0.5f, -1.5f, 0.125f}},
      {"32-bit float, extensible",
       [](const TempDir& d) {
         return test::hand_wav_file(d, "f32x.wav",
                                    HandHeader{.block_align = 4, .bits = 32, .valid_bits = 32, .subformat_tag = 3},
                                    float_bytes({-0.25f, 2.0f}));
       },
       16000, 1, 32, 4, WavSampleFormat::ieee_float, std::vector<float>{-0.25f, 2.0f}},
      {"odd-sized chunks around fmt are skipped with their pad byte",
       [](const TempDir& d) {
         Bytes file = test::hand_wav({}, test::le16({5, -6}));
         const Bytes odd = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'd', 'a', 't', 0};
         file.insert(file.begin() + 36, odd.begin(), odd.end());  // after fmt
         file.insert(file.begin() + 12, odd.begin(), odd.end());  // before fmt
         const std::string path = d.file("odd.wav");
         test::write_file(path, file);
         return path;
       },
       16000, 1, 16, 2, WavSampleFormat::integer, std::vector<std::int16_t>{5, -6}},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = c.make(dir);
    auto reader = WavReader::open(path);
    ASSERT_TRUE(reader.ok()) << reader.error();
    EXPECT_EQ(reader->format().channels, c.channels);
    EXPECT_EQ(reader->format().sample_rate, c.rate);
    EXPECT_EQ(reader->format().bits_per_sample, c.bits);
    EXPECT_EQ(reader->format().bytes_per_sample, c.bytes);
    EXPECT_EQ(reader->format().sample_format, c.sample_format);
    std::visit(
        [&](const auto& expected) {
          using T = typename std::decay_t<decltype(expected)>::value_type;
          EXPECT_EQ(reader->total_samples(), expected.size());
          EXPECT_EQ(read_all_single<T>(*reader), expected);
          T value{};
          EXPECT_EQ(reader->read(value), WavRead::end);
          auto again = WavReader::open(path);
          ASSERT_TRUE(again.ok());
          EXPECT_EQ(read_all_blocks<T>(*again, 2), expected);
        },
        c.expected);
  }
}

// A buffer too small for a whole number of samples makes every refill split a sample.
TEST(WavReader, SamplesThatStraddleBufferRefillsComeOutWhole) {
  TempDir dir;
  Bytes raw;
  std::vector<std::int32_t> expected;
  for (int i = 0; i < 5000; ++i) {
    const std::int32_t v = (i * 2654435761u) % 16777216u - 8388608;
    expected.push_back(v);
    const auto u = static_cast<std::uint32_t>(v);
    raw.insert(raw.end(), {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                           static_cast<unsigned char>(u >> 16)});
  }
  const std::string path = test::sox_wav(dir, "long24.wav", "signed", 24, 2, 44100, raw);
  auto single = WavReader::open(path, 41);
  ASSERT_TRUE(single.ok()) << single.error();
  EXPECT_EQ(read_all_single<std::int32_t>(*single), expected);
  auto blocks = WavReader::open(path, 41);
  ASSERT_TRUE(blocks.ok());
  EXPECT_EQ(read_all_blocks<std::int32_t>(*blocks, 777), expected);
}

// Blocks larger than the buffer bypass it; the buffer's leftover part of a
// sample must still come first.
TEST(WavReader, BlocksLargerThanTheBufferGoStraightToTheCaller) {
  TempDir dir;
  std::vector<int> values;
  for (int i = 0; i < 5000; ++i) values.push_back(i * 40503 % 65536 - 32768);
  const std::vector<std::int16_t> expected(values.begin(), values.end());
  const std::string path = test::hand_wav_file(dir, "long16.wav", {}, test::le16(values));
  auto blocks = WavReader::open(path, 41);
  ASSERT_TRUE(blocks.ok()) << blocks.error();
  EXPECT_EQ(read_all_blocks<std::int16_t>(*blocks, 777), expected);

  const std::string short_path =
      test::hand_wav_file(dir, "short16.wav", HandHeader{.announced_data_bytes = 4000}, Bytes(1001, 7));
  auto truncated = WavReader::open(short_path, 41);
  ASSERT_TRUE(truncated.ok()) << truncated.error();
  std::vector<std::int16_t> buffer(2000);
  auto got = truncated->read_samples(std::span<std::int16_t>(buffer));
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error(), "Failed to read enough bytes.");
}

TEST(WavReader, DestinationsThatCannotTakeTheLayoutFailAtTheFirstRead) {
  struct Case {
    const char* name;
    HandHeader header;
    char destination;  // 's' 16-bit, 'w' 32-bit, 'f' float
    const char* error;
  };
  const char* kTooWide = "The sample has more bits than the destination type.";
  const char* kUnsupported = "The wave format of the file is not supported.";
  const std::vector<Case> cases = {
      {"24-bit as 16-bit", {.block_align = 3, .bits = 24}, 's', kTooWide},
      {"float as 16-bit", {.format_tag = 3, .block_align = 4, .bits = 32}, 's', kTooWide},
      {"float as 32-bit integer", {.format_tag = 3, .block_align = 4, .bits = 32}, 'w', kUnsupported},
      {"16-bit as float", {.block_align = 2, .bits = 16}, 'f', kUnsupported},
      {"64-bit float as float", {.format_tag = 3, .block_align = 8, .bits = 64}, 'f', kTooWide},
      {"64-bit integer as 32-bit", {.block_align = 8, .bits = 64}, 'w', kTooWide},
      {"12 bits in 2 bytes", {.block_align = 2, .bits = 12}, 's', kUnsupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = test::hand_wav_file(dir, "x.wav", c.header, Bytes(c.header.block_align * 2, 0));
    auto reader = WavReader::open(path);
    ASSERT_TRUE(reader.ok()) << reader.error();
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::int16_t s;
      std::int32_t w;
      float f;
      const WavRead status = c.destination == 's'   ? reader->read(s)
                             : c.destination == 'w' ? reader->read(w)
                                                    : reader->read(f);
      EXPECT_EQ(status, WavRead::error);
      EXPECT_EQ(reader->error(), c.error);
    }
  }
}

TEST(WavReader, DataThatEndsEarlyFailsAtTheFirstMissingSample) {
  TempDir dir;
  // Ten samples announced, three and a half present.
  const std::string path =
      test::hand_wav_file(dir, "short.wav", HandHeader{.announced_data_bytes = 20}, Bytes{1, 0, 2, 0, 3, 0, 4});
  auto reader = WavReader::open(path);
  ASSERT_TRUE(reader.ok()) << reader.error();
  EXPECT_EQ(reader->total_samples(), 10u);
  std::int16_t value;
  for (std::int16_t expected : {1, 2, 3}) {
    ASSERT_EQ(reader->read(value), WavRead::sample);
    EXPECT_EQ(value, expected);
  }
  EXPECT_EQ(reader->read(value), WavRead::error);
  EXPECT_EQ(reader->error(), "Failed to read enough bytes.");
  EXPECT_EQ(reader->read(value), WavRead::error);

  auto blocks = WavReader::open(path);
  ASSERT_TRUE(blocks.ok());
  std::vector<std::int16_t> buffer(16);
  auto got = blocks->read_samples(std::span<std::int16_t>(buffer));
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error(), "Failed to read enough bytes.");
}

TEST(WavReader, RefusesBadHeadersWhenOpening) {
  struct Case {
    const char* name;
    Bytes file;
    std::string error;
  };
  Bytes not_riff = test::hand_wav({}, {});
  std::memcpy(not_riff.data(), "RIFX", 4);
  Bytes not_wave = test::hand_wav({}, {});
  std::memcpy(not_wave.data() + 8, "AVI ", 4);
  Bytes data_first;
  test::put_tag(data_first, "RIFF");
  test::put_u32(data_first, 12);
  test::put_tag(data_first, "WAVE");
  test::put_tag(data_first, "data");
  test::put_u32(data_first, 0);
  Bytes no_data = test::hand_wav({}, {});
  no_data.resize(no_data.size() - 8);

  const std::vector<Case> cases = {
      {"empty file", {}, "Failed to read enough bytes."},
      {"no RIFF tag", not_riff, "Ill-formed WAVE file: no RIFF tag found"},
      {"no WAVE tag", not_wave, "Ill-formed WAVE file: no WAVE tag found"},
      {"data before fmt", data_first, "Ill-formed WAVE file: missing fmt chunk"},
      {"no data chunk", no_data, "Ill-formed WAVE file: missing data chunk"},
      {"zero channels", test::hand_wav({.channels = 0}, {}), "Ill-formed WAVE file: file contains zero channels"},
      {"ADPCM", test::hand_wav({.format_tag = 2}, {}), "The wave format of the file is not supported."},
      {"extensible with another sub-format", test::hand_wav({.valid_bits = 16, .subformat_tag = 2}, {}),
       "The wave format of the file is not supported."},
      {"stereo with an odd number of samples", test::hand_wav({.channels = 2, .block_align = 4}, test::le16({1, 2, 3})),
       "Ill-formed WAVE file: data chunk length is not a whole number of frames"},
      {"data length not a multiple of the sample", test::hand_wav({}, Bytes{1, 2, 3}),
       "Ill-formed WAVE file: data chunk length is not a whole number of frames"},
      {"bits beyond the container", test::hand_wav({.block_align = 2, .bits = 24}, {}),
       "Ill-formed WAVE file: bits per sample exceed the sample container"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.file("bad.wav");
    test::write_file(path, c.file);
    auto reader = WavReader::open(path);
    ASSERT_FALSE(reader.ok());
    EXPECT_EQ(reader.error(), c.error);
  }
}

TEST(WavReader, MissingFileGivesTheSystemText) {
  TempDir dir;
  auto reader = WavReader::open(dir.file("absent.wav"));
  ASSERT_FALSE(reader.ok());
  EXPECT_EQ(reader.error(), os_error_text(ENOENT));
}

TEST(WavReader, AcceptsASampleRateOfZeroAndNoSamples) {
  TempDir dir;
  const std::string path = test::hand_wav_file(dir, "zero.wav", HandHeader{.sample_rate = 0}, {});
  auto reader = WavReader::open(path);
  ASSERT_TRUE(reader.ok()) << reader.error();
  EXPECT_EQ(reader->format().sample_rate, 0u);
  EXPECT_EQ(reader->total_samples(), 0u);
  std::int16_t value;
  EXPECT_EQ(reader->read(value), WavRead::end);
}

}  // namespace
}  // namespace ombri
