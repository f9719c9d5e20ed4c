#pragma once
// Every call of the audio hardware layer answers a status: 0 for success,
// otherwise a code that is usually four characters packed into 32 bits.

#include <cstdint>

namespace ombri::platform {

using OSStatus = std::int32_t;

// Four ASCII characters, the first in the most significant byte.
constexpr std::uint32_t fourcc(const char (&code)[5]) {
  return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}
constexpr OSStatus status_code(const char (&code)[5]) { return static_cast<OSStatus>(fourcc(code)); }

inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareNotRunningError = status_code("stop");
inline constexpr OSStatus kAudioHardwareUnspecifiedError = status_code("what");
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = status_code("who?");
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = status_code("!siz");
inline constexpr OSStatus kAudioHardwareIllegalOperationError = status_code("nope");
inline constexpr OSStatus kAudioHardwareBadObjectError = status_code("!obj");
inline constexpr OSStatus kAudioHardwareBadDeviceError = status_code("!dev");
inline constexpr OSStatus kAudioHardwareUnsupportedOperationError = status_code("unop");
inline constexpr OSStatus kAudio_ParamError = -50;

}  // namespace ombri::platform
