#pragma once
// The protocol's timestamp text: seconds since the Unix epoch, a point, three
// digits of milliseconds and "Z" ("1715000000.042Z"); a count, not a date.

#include <string>

namespace ombri {

// The system clock now; a clock before 1970 gives "0.000Z".
std::string timestamp_now();
std::string format_timestamp(long long seconds_since_epoch, long long nanoseconds);

}  // namespace ombri
