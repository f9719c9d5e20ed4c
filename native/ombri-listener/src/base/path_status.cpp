#include "base/path_status.hpp"

#include <unistd.h>

#include <cerrno>

#include "base/os_error.hpp"
#include "base/path.hpp"

namespace ombri {
namespace {

// As many links as the system itself follows in one path.
constexpr int kMaxLinks = 40;

Result<std::string> read_link(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return ErrorText{os_error_text(errno)};
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

}  // namespace

Result<std::optional<struct stat>> path_status(const std::string& path) {
  if (auto usable = check_path_text(path); !usable) return ErrorText{usable.error()};
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::optional<struct stat>{};
  return std::optional<struct stat>{info};
}

Result<std::string> link_target(const std::string& path) {
  if (auto usable = check_path_text(path); !usable) return ErrorText{usable.error()};
  std::string current = path;
  for (int links = 0;; ++links) {
    struct stat info {};
    // Nothing there: a create makes the file here, or fails as it would.
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno == ENOENT) return current;
      return ErrorText{os_error_text(errno)};
    }
    if (!S_ISLNK(info.st_mode)) return current;
    if (links == kMaxLinks) return ErrorText{os_error_text(ELOOP)};
    auto target = read_link(current);
    if (!target) return ErrorText{target.error()};
    if (!target->empty() && target->front() == '/') {
      current = std::move(*target);
    } else {
      current.erase(current.rfind('/') + 1);  // npos + 1: no directory part
      current += *target;
    }
  }
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool is_special_file(const struct stat& file) {
  return S_ISFIFO(file.st_mode) || S_ISSOCK(file.st_mode) || S_ISCHR(file.st_mode) || S_ISBLK(file.st_mode);
}

}  // namespace ombri
