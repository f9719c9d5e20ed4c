#include "platform/sim/wav_samples.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ombri::sim {

namespace {

std::uint32_t le(const unsigned char* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

ErrorText bad(const std::string& path, const char* why) { return ErrorText{path + ": " + why}; }

float sample_at(const unsigned char* p, std::uint16_t tag, std::uint16_t bits) {
  if (tag == 3) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  switch (bits) {
    case 8: return (static_cast<int>(p[0]) - 128) / 128.0f;
    case 16: return static_cast<float>(static_cast<std::int16_t>(le(p, 2)) / 32768.0);
    case 24: {
      std::int32_t v = static_cast<std::int32_t>(le(p, 3) << 8) >> 8;
      return static_cast<float>(v / 8388608.0);
    }
    default: return static_cast<float>(static_cast<std::int32_t>(le(p, 4)) / 2147483648.0);
  }
}

}  // namespace

double WavSamples::duration_seconds() const {
  if (channels == 0 || sample_rate == 0) return 0.0;
  return static_cast<double>(samples.size() / channels) / sample_rate;
}

Result<WavSamples> read_wav_samples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return ErrorText{path + ": " + std::strerror(errno)};
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
    return bad(path, "not a RIFF/WAVE file");

  std::uint16_t tag = 0, channels = 0, bits = 0;
  std::uint32_t rate = 0;
  bool have_format = false;
  std::size_t pos = 12;
  while (pos + 8 <= file.size()) {
    const unsigned char* chunk = file.data() + pos;
    const std::size_t size = le(chunk + 4, 4);
    const std::size_t body = pos + 8;
    const std::size_t available = std::min(size, file.size() - body);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (available < 16) return bad(path, "short fmt chunk");
      const unsigned char* f = file.data() + body;
      tag = static_cast<std::uint16_t>(le(f, 2));
      channels = static_cast<std::uint16_t>(le(f + 2, 2));
      rate = le(f + 4, 4);
      bits = static_cast<std::uint16_t>(le(f + 14, 2));
      if (tag == 0xFFFE) {
        if (available < 26) return bad(path, "short extensible fmt chunk");
        tag = static_cast<std::uint16_t>(le(f + 24, 2));
      }
      const bool supported = (tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
                             (tag == 3 && bits == 32);
      if (!supported || channels == 0 || rate == 0) return bad(path, "unsupported sample format");
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return bad(path, "data chunk before fmt chunk");
      const std::size_t sample_bytes = bits / 8;
      const std::size_t frame_bytes = sample_bytes * channels;
      const std::size_t frames = available / frame_bytes;
      WavSamples wav{channels, rate, {}};
      wav.samples.reserve(frames * channels);
      for (std::size_t i = 0; i < frames * channels; ++i)
        wav.samples.push_back(sample_at(file.data() + body + i * sample_bytes, tag, bits));
      return wav;
    }
    pos = body + size + (size & 1);
  }
  return bad(path, "no data chunk");
}

}  // namespace ombri::sim
