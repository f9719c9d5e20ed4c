#pragma once
// WAV files for tests: written by sox or libsndfile (independent writers),
// or assembled by hand where a header must be odd on purpose.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace ombri::test {

using Bytes = std::vector<unsigned char>;

using TempDir = ombri::test::TempDir;

inline void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Wraps raw little-endian sample bytes into a WAV file with sox, which picks
// its own header form (extensible for 24 and 32 bits and for 3+ channels).
inline std::string sox_wav(const TempDir& dir, const std::string& name, const std::string& encoding, int bits,
                           int channels, int rate, const Bytes& raw) {
  const std::string raw_path = dir.file(name + ".raw");
  const std::string wav_path = dir.file(name);
  write_file(raw_path, raw);
  const std::string command = "sox -t raw -r " + std::to_string(rate) + " -e " + encoding + " -b " +
                              std::to_string(bits) + " -c " + std::to_string(channels) + " " + raw_path + " -t wav " +
                              wav_path;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return wav_path;
}

// Writes 32-bit float samples with libsndfile, which keeps values beyond full scale.
inline std::string sndfile_float_wav(const TempDir& dir, const std::string& name, int rate,
                                     const std::vector<float>& samples) {
  const std::string path = dir.file(name);
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (!file) return path;
  EXPECT_EQ(sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
            static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  return path;
}

inline void put_u16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
inline void put_u32(Bytes& out, std::uint32_t v) {
  put_u16(out, v & 0xFFFF);
  put_u16(out, v >> 16);
}
inline void put_tag(Bytes& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(tag[i]));
}

struct HandHeader {
  std::uint16_t format_tag = 1;
  std::uint16_t channels = 1;
  std::uint32_t sample_rate = 16000;
  std::uint16_t block_align = 2;
  std::uint16_t bits = 16;
  // Not 0: an extensible header with these valid bits and sub-format tag.
  std::uint16_t valid_bits = 0;
  std::uint16_t subformat_tag = 1;
  // The data size the header announces; below 0: the size of the data given.
  std::int64_t announced_data_bytes = -1;
};

inline Bytes hand_wav(const HandHeader& h, const Bytes& data) {
  Bytes fmt;
  put_u16(fmt, h.valid_bits ? 0xFFFE : h.format_tag);
  put_u16(fmt, h.channels);
  put_u32(fmt, h.sample_rate);
  put_u32(fmt, h.sample_rate * h.block_align);
  put_u16(fmt, h.block_align);
  put_u16(fmt, h.bits);
  if (h.valid_bits) {
    put_u16(fmt, 22);
    put_u16(fmt, h.valid_bits);
    put_u32(fmt, 0);
    put_u16(fmt, h.subformat_tag);
    const unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), tail, tail + 14);
  }
  Bytes out;
  put_tag(out, "RIFF");
  put_u32(out, static_cast<std::uint32_t>(4 + 8 + fmt.size() + 8 + data.size()));
  put_tag(out, "WAVE");
  put_tag(out, "fmt ");
  put_u32(out, static_cast<std::uint32_t>(fmt.size()));
  out.insert(out.end(), fmt.begin(), fmt.end());
  put_tag(out, "data");
  put_u32(out, static_cast<std::uint32_t>(h.announced_data_bytes < 0 ? static_cast<std::int64_t>(data.size())
                                                                     : h.announced_data_bytes));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

inline std::string hand_wav_file(const TempDir& dir, const std::string& name, const HandHeader& h, const Bytes& data) {
  const std::string path = dir.file(name);
  write_file(path, hand_wav(h, data));
  return path;
}

inline Bytes le16(const std::vector<int>& samples) {
  Bytes out;
  for (int s : samples) put_u16(out, static_cast<std::uint16_t>(s));
  return out;
}

// `chunks` bursts of 0.25 s at 8000 then 0.75 s of silence, 16-bit mono 16 kHz:
// one voiced chunk per burst for the energy probe.
inline std::string chunky_wav(const TempDir& dir, const std::string& name, int chunks) {
  Bytes raw;
  for (int c = 0; c < chunks; ++c) {
    for (int i = 0; i < 4000; ++i) put_u16(raw, 8000);
    for (int i = 0; i < 12000; ++i) put_u16(raw, 0);
  }
  return sox_wav(dir, name, "signed", 16, 1, 16000, raw);
}

}  // namespace ombri::test
