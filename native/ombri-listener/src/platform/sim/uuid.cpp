#include "platform/uuid.hpp"

#include <fmt/format.h>

#include <random>

namespace ombri::platform {

std::string new_uuid_string() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  const std::uint64_t high = (engine() & ~0xF000ULL) | 0x4000ULL;                 // version 4
  const std::uint64_t low = (engine() & ~(0xC000ULL << 48)) | (0x8000ULL << 48);  // RFC 4122 variant
  return fmt::format("{:08X}-{:04X}-{:04X}-{:04X}-{:012X}", high >> 32, (high >> 16) & 0xFFFF, high & 0xFFFF, low >> 48,
                     low & 0xFFFFFFFFFFFFULL);
}

}  // namespace ombri::platform
