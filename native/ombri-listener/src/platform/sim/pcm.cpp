#include "platform/sim/pcm.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace ombri::platform {

using hal::AudioStreamBasicDescription;

PcmKind pcm_kind(const AudioStreamBasicDescription& format) {
  const std::uint32_t flags = format.mFormatFlags;
  if (format.mFormatID != hal::kAudioFormatLinearPCM || (flags & hal::kAudioFormatFlagIsBigEndian) ||
      !(flags & hal::kAudioFormatFlagIsPacked))
    return PcmKind::Other;
  const bool is_float = flags & hal::kAudioFormatFlagIsFloat;
  const bool is_signed = flags & hal::kAudioFormatFlagIsSignedInteger;
  switch (format.mBitsPerChannel) {
    case 16:
      if (is_float) return PcmKind::Other;
      return is_signed ? PcmKind::I16 : PcmKind::U16;
    case 32:
      if (is_float) return PcmKind::F32;
      return is_signed ? PcmKind::I32 : PcmKind::Other;
    case 64:
      return is_float ? PcmKind::F64 : PcmKind::Other;
    default:
      return PcmKind::Other;
  }
}

AudioStreamBasicDescription pcm_format(double sample_rate, std::uint32_t channels, PcmKind kind) {
  std::uint32_t bits = 32;
  std::uint32_t flags = hal::kAudioFormatFlagIsPacked;
  switch (kind) {
    case PcmKind::F32:
      flags |= hal::kAudioFormatFlagIsFloat;
      break;
    case PcmKind::F64:
      bits = 64;
      flags |= hal::kAudioFormatFlagIsFloat;
      break;
    case PcmKind::I16:
      bits = 16;
      flags |= hal::kAudioFormatFlagIsSignedInteger;
      break;
    case PcmKind::I32:
      flags |= hal::kAudioFormatFlagIsSignedInteger;
      break;
    case PcmKind::U16:
      bits = 16;
      break;
    case PcmKind::Other:
      bits = 24;
      flags |= hal::kAudioFormatFlagIsSignedInteger;
      break;  // packed 24-bit
  }
  const std::uint32_t frame_bytes = bits / 8 * channels;
  return {sample_rate, hal::kAudioFormatLinearPCM, flags, frame_bytes, 1, frame_bytes, channels, bits, 0};
}

namespace {

template <class Int>
Int scaled(float x, double scale) {
  if (std::isnan(x)) return 0;
  const double v = std::nearbyint(static_cast<double>(x) * scale);
  if (v <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (v >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(v);
}

template <class T, class Convert>
void encode_each(std::span<const float> samples, void* out, Convert convert) {
  auto* bytes = static_cast<unsigned char*>(out);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const T value = convert(samples[i]);
    std::memcpy(bytes + i * sizeof(T), &value, sizeof(T));
  }
}

}  // namespace

std::size_t pcm_bytes(std::size_t samples, const AudioStreamBasicDescription& format) {
  const std::size_t channels = format.mChannelsPerFrame ? format.mChannelsPerFrame : 1;
  return samples / channels * format.mBytesPerFrame;
}

void encode_pcm(std::span<const float> samples, const AudioStreamBasicDescription& format, void* out) {
  switch (pcm_kind(format)) {
    case PcmKind::F32:
      encode_each<float>(samples, out, [](float x) { return x; });
      break;
    case PcmKind::F64:
      encode_each<double>(samples, out, [](float x) { return static_cast<double>(x); });
      break;
    case PcmKind::I16:
      encode_each<std::int16_t>(samples, out, [](float x) { return scaled<std::int16_t>(x, 32768.0); });
      break;
    case PcmKind::I32:
      encode_each<std::int32_t>(samples, out, [](float x) { return scaled<std::int32_t>(x, 2147483648.0); });
      break;
    case PcmKind::U16:
      encode_each<std::uint16_t>(
          samples, out, [](float x) { return static_cast<std::uint16_t>(scaled<std::int16_t>(x, 32768.0) + 32768); });
      break;
    case PcmKind::Other:
      std::memset(out, 0, pcm_bytes(samples.size(), format));
      break;
  }
}

}  // namespace ombri::platform
