#include "platform/temp_dir.hpp"

namespace ombri::platform {

// Linux keeps no per-user temporary directory: callers fall back to /tmp.
std::optional<std::string> user_temp_dir() { return std::nullopt; }

}  // namespace ombri::platform
