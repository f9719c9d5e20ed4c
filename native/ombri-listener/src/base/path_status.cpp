#include "base/path_status.hpp"

#include "base/path.hpp"

namespace ombri {

Result<std::optional<struct stat>> path_status(const std::string& path) {
  if (auto usable = check_path_text(path); !usable) return ErrorText{usable.error()};
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::optional<struct stat>{};
  return std::optional<struct stat>{info};
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace ombri
