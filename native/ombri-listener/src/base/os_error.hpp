#pragma once
// How an operating-system error reads in messages and on standard error.

#include <string>

namespace ombri {

// The system's description of an OS error number: "{text} (os error {n})".
std::string os_error_text(int error_number);

// How an allocation that failed reads in messages and on standard error.
inline constexpr char kOutOfMemory[] = "out of memory";

}  // namespace ombri
