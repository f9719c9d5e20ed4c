#pragma once
// How a failed platform call's status reads in the capture's error texts:
// os::Error { raw: -50, fcc: "...." }.

#include <string>

#include "platform/status.hpp"

namespace ombri {

// `raw` the status in signed decimal; `fcc` its four bytes, most significant
// first, each outside printable ASCII (0x20 to 0x7E) as ".".
std::string os_status_text(platform::OSStatus status);

}  // namespace ombri
