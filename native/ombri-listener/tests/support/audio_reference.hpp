#pragma once
// What tools/audio_reference.py computes apart from the listener: the linear
// resampler in numpy float32, and Python's base64.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace ombri::test {

inline bool run_audio_reference(const std::string& arguments) {
  const std::string command =
      std::string(OMBRI_PYTHON) + " '" + OMBRI_TEST_TOOLS_DIR + "/audio_reference.py' " + arguments;
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command;
  return status == 0;
}

inline void write_bytes(const std::string& path, const void* data, std::size_t size) {
  std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// 16-bit outputs of a resampler from `in_rate` to `out_rate` fed with `input`
// (clamped to [-1, 1] first when `clamp`); with `channels`, `input` holds
// interleaved frames, each fed as the mean of its channels.
inline std::vector<std::int16_t> reference_resample(const TempDir& dir, const std::vector<float>& input,
                                                    std::uint32_t in_rate, std::uint32_t out_rate, bool clamp,
                                                    std::optional<unsigned> channels = std::nullopt) {
  const std::string in = dir.file("reference-in.f32");
  const std::string out = dir.file("reference-out.i16");
  write_bytes(in, input.data(), input.size() * sizeof(float));
  if (!run_audio_reference("resample '" + in + "' " + std::to_string(in_rate) + " " + std::to_string(out_rate) + " " +
                           (clamp ? "clamp" : "raw") + " '" + out + "'" +
                           (channels ? " " + std::to_string(*channels) : "")))
    return {};
  const auto bytes = read_bytes(out);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

inline std::string reference_base64(const TempDir& dir, const std::vector<unsigned char>& bytes) {
  const std::string in = dir.file("b64-in.bin");
  const std::string out = dir.file("b64-out.txt");
  write_bytes(in, bytes.data(), bytes.size());
  if (!run_audio_reference("b64encode '" + in + "' '" + out + "'")) return {};
  const auto text = read_bytes(out);
  return {text.begin(), text.end()};
}

// The 16-bit little-endian samples of base64 texts, decoded one after the other by Python.
inline std::vector<std::int16_t> decode_base64_pcm(const TempDir& dir, const std::vector<std::string>& texts) {
  const std::string in = dir.file("b64-lines.txt");
  const std::string out = dir.file("b64-decoded.bin");
  {
    std::ofstream lines(in);
    for (const auto& text : texts) lines << text << "\n";
  }
  if (!run_audio_reference("b64decode '" + in + "' '" + out + "'")) return {};
  const auto bytes = read_bytes(out);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// The bytes of the probe tone file as Python computes them.
inline std::vector<unsigned char> reference_probe_tone(const TempDir& dir) {
  const std::string out = dir.file("reference-probe.wav");
  if (!run_audio_reference("probe-tone '" + out + "'")) return {};
  return read_bytes(out);
}

}  // namespace ombri::test
