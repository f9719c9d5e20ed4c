#include "system_audio/os_status_text.hpp"

#include <fmt/format.h>

#include <cstdint>

namespace ombri {

std::string os_status_text(platform::OSStatus status) {
  const auto code = static_cast<std::uint32_t>(status);
  std::string fcc;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned char>(code >> shift);
    fcc.push_back(byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.');
  }
  return fmt::format("os::Error {{ raw: {}, fcc: \"{}\" }}", status, fcc);
}

}  // namespace ombri
