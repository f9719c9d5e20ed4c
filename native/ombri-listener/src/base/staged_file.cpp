#include "base/staged_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>

#include "base/os_error.hpp"
#include "base/path_status.hpp"

namespace ombri {
namespace {

constexpr int kMaxNameTries = 100;
constexpr std::string_view kPrefix = ".ombri-";
constexpr std::string_view kSuffix = ".tmp";

std::atomic<unsigned long> next_name{0};

// The temporary files of this process that are neither committed nor
// removed, with the file each name was made for.
struct Uncommitted {
  std::mutex mutex;
  std::map<std::string, struct stat> names;
  bool closed = false;  // by remove_uncommitted
};

Uncommitted& uncommitted() {
  // Never destroyed: workers may still stage files while the process exits.
  static auto* registry = new Uncommitted;
  return *registry;
}

// False when the name leads to nothing, or cannot be looked at.
bool names_file(const std::string& name, const struct stat& file) {
  struct stat named {};
  return ::lstat(name.c_str(), &named) == 0 && same_file(named, file);
}

// A file that replaced one of ours under its name is someone else's.
void remove_if_ours(const std::string& name, const struct stat& file) {
  if (names_file(name, file)) ::unlink(name.c_str());
}

// What creating and truncating the destination would meet there: its
// permission bits when it is a regular file this process may write,
// nothing when there is none to keep (no file, or a FIFO or link, which is
// replaced and never opened), the system's text when the create would fail.
Result<std::optional<mode_t>> mode_to_keep(const std::string& destination) {
  struct stat info {};
  if (::lstat(destination.c_str(), &info) != 0) return std::optional<mode_t>{};
  if (S_ISDIR(info.st_mode)) return ErrorText{os_error_text(EISDIR)};
  if (!S_ISREG(info.st_mode)) return std::optional<mode_t>{};
  // Opened without truncating: a refusal leaves it as it was.
  const UniqueFd writable(::open(destination.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!writable) return ErrorText{os_error_text(errno)};
  return std::optional<mode_t>{info.st_mode & 0777};
}

}  // namespace

bool StagedFile::is_temporary_name(std::string_view name) {
  return name.size() >= kPrefix.size() + kSuffix.size() && name.substr(0, kPrefix.size()) == kPrefix &&
         name.substr(name.size() - kSuffix.size()) == kSuffix;
}

Result<StagedFile> StagedFile::create(const std::string& destination, const char* purpose) {
  const auto slash = destination.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  // No file name: what creating the destination itself would answer.
  if (directory.size() == destination.size()) return ErrorText{os_error_text(destination.empty() ? ENOENT : EISDIR)};
  const auto mode = mode_to_keep(destination);
  if (!mode) return ErrorText{mode.error()};

  // Registered before it exists and under the lock, so that no file is ever
  // out of remove_uncommitted's reach.
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  if (registry.closed) return ErrorText{os_error_text(ECANCELED)};
  // A process id and a counter make the name unique among running listeners;
  // one left behind by an ended process is stepped over.
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    std::string temporary = directory + std::string(kPrefix) + purpose + "-" + std::to_string(::getpid()) + "-" +
                            std::to_string(next_name.fetch_add(1)) + std::string(kSuffix);
    const auto registered = registry.names.try_emplace(temporary).first;
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
      const int error = errno;
      registry.names.erase(registered);
      if (error != EEXIST) return ErrorText{os_error_text(error)};
      continue;
    }
    // Its identity tells it from a file put under its name later.
    if (::fstat(fd.get(), &registered->second) != 0 || (*mode && ::fchmod(fd.get(), **mode) != 0)) {
      const int error = errno;
      ::unlink(temporary.c_str());
      registry.names.erase(registered);
      return ErrorText{os_error_text(error)};
    }
    return StagedFile(std::move(fd), std::move(temporary), destination);
  }
  return ErrorText{os_error_text(EEXIST)};
}

StagedFile::StagedFile(UniqueFd fd, std::string temporary, std::string destination)
    : fd_(std::move(fd)), temporary_(std::move(temporary)), destination_(std::move(destination)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      temporary_(std::move(other.temporary_)),
      destination_(std::move(other.destination_)),
      settled_(std::exchange(other.settled_, true)) {}

StagedFile::~StagedFile() {
  if (settled_) return;
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  if (const auto found = registry.names.find(temporary_); found != registry.names.end()) {
    remove_if_ours(temporary_, found->second);
    registry.names.erase(found);
  }
}

Result<UniqueFd> StagedFile::duplicate_fd() const {
  UniqueFd copy(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
  if (!copy) return ErrorText{os_error_text(errno)};
  return copy;
}

Result<void> StagedFile::commit() {
  if (::fsync(fd_.get()) != 0) return ErrorText{os_error_text(errno)};
  // Under the lock, so that no exit removes the file between the look and
  // the rename.
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.names.find(temporary_);
  if (found == registry.names.end()) return ErrorText{os_error_text(ENOENT)};  // removed at exit
  // The name is predictable, so another file may have been put under it
  // meanwhile; renamed, it would take the place of the destination.
  struct stat named {};
  if (::lstat(temporary_.c_str(), &named) == 0 && !same_file(named, found->second)) {
    settled_ = true;
    registry.names.erase(found);
    return ErrorText{"the temporary file was replaced"};
  }
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) return ErrorText{os_error_text(errno)};
  settled_ = true;
  registry.names.erase(found);
  return {};
}

void StagedFile::remove_uncommitted() {
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  registry.closed = true;
  for (const auto& [name, id] : registry.names) remove_if_ours(name, id);
  registry.names.clear();
}

}  // namespace ombri
