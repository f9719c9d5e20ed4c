#include "platform/sim/status_text.hpp"

#include <fmt/format.h>

namespace ombri::platform {

std::string status_text(OSStatus status) {
  const auto code = static_cast<std::uint32_t>(status);
  std::string chars;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<char>((code >> shift) & 0xFF);
    if (byte < 0x20 || byte > 0x7E) return fmt::format("status {}", status);
    chars.push_back(byte);
  }
  return fmt::format("status '{}' ({})", chars, status);
}

}  // namespace ombri::platform
