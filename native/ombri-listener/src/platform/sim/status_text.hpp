#pragma once
// How the simulated layer names a status in its error texts.

#include <string>

#include "platform/status.hpp"

namespace ombri::platform {

// "status -50", or "status 'who?' (2003332927)" when the code reads as four characters.
std::string status_text(OSStatus status);

}  // namespace ombri::platform
