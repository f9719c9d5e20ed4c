#pragma once
// Raw little-endian sample data for the WAV files the tests build.

#include <cstdint>
#include <cstring>
#include <vector>

namespace ombri::test {

// Each value's low `bytes_per_sample` bytes, two's complement.
inline std::vector<unsigned char> little_endian(const std::vector<std::int64_t>& values, int bytes_per_sample) {
  std::vector<unsigned char> out;
  for (auto v : values)
    for (int b = 0; b < bytes_per_sample; ++b)
      out.push_back(static_cast<unsigned char>(static_cast<std::uint64_t>(v) >> (8 * b)));
  return out;
}

inline std::vector<unsigned char> float_bytes(const std::vector<float>& values) {
  std::vector<unsigned char> out(values.size() * sizeof(float));
  std::memcpy(out.data(), values.data(), out.size());
  return out;
}

}  // namespace ombri::test
