#include "base/path.hpp"

namespace ombri {

std::string join_path(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (joined.empty() || joined.back() != '/') joined.push_back('/');
  joined.append(name);
  return joined;
}

Result<void> check_path_text(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return ErrorText{kPathHoldsNul};
  return {};
}

}  // namespace ombri
