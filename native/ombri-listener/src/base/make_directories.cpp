#include "base/make_directories.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "base/os_error.hpp"
#include "base/path.hpp"

namespace ombri {
namespace {

bool is_directory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The path without its last component; empty when it has no directory part.
std::string parent_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
  return parent.empty() ? "/" : std::string(parent);
}

// One mkdir(2): 0 when the directory is there now, else the system's error number.
int make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  const int error = errno;
  return error == EEXIST && is_directory(path) ? 0 : error;
}

}  // namespace

Result<void> make_directories(const std::string& path) {
  if (auto usable = check_path_text(path); !usable) return usable;
  // Up from `path` while mkdir misses a parent...
  std::vector<std::string> missing;
  std::string current = path;
  for (int error; (error = make_directory(current)) != 0;) {
    // Something other than a directory above `path` is left to the mkdir
    // below it, which answers for it.
    if (error == EEXIST && !missing.empty()) break;
    std::string parent = parent_of(current);
    if (error != ENOENT || parent.empty() || parent == current) return ErrorText{os_error_text(error)};
    missing.push_back(std::move(current));
    current = std::move(parent);
  }
  // ...then down again, the outermost missing directory first.
  for (auto directory = missing.rbegin(); directory != missing.rend(); ++directory)
    if (const int error = make_directory(*directory); error != 0) return ErrorText{os_error_text(error)};
  return {};
}

}  // namespace ombri
