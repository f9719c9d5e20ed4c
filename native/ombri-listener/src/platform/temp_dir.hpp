#pragma once
// The per-user temporary directory the system names for the running user.

#include <optional>
#include <string>

namespace ombri::platform {

// What confstr(_CS_DARWIN_USER_TEMP_DIR) reports; nothing when the system has none.
std::optional<std::string> user_temp_dir();

}  // namespace ombri::platform
