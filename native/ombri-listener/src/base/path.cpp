#include "base/path.hpp"

namespace ombri {

std::string join_path(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (joined.empty() || joined.back() != '/') joined.push_back('/');
  joined.append(name);
  return joined;
}

}  // namespace ombri
