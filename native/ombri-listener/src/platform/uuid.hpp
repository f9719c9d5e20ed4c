#pragma once
// Fresh identifiers for objects the program names itself (aggregate devices).

#include <string>

namespace ombri::platform {

// A random (version 4) UUID in upper-case text, "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX".
std::string new_uuid_string();

}  // namespace ombri::platform
