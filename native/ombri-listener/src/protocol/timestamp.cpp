#include "protocol/timestamp.hpp"

#include <fmt/format.h>

#include <chrono>

namespace ombri {

std::string format_timestamp(long long seconds_since_epoch, long long nanoseconds) {
  if (seconds_since_epoch < 0 || nanoseconds < 0) return "0.000Z";
  return fmt::format("{}.{:03}Z", seconds_since_epoch, nanoseconds / 1'000'000);
}

std::string timestamp_now() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds);
  return format_timestamp(seconds.count(), nanoseconds.count());
}

}  // namespace ombri
