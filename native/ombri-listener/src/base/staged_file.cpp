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

// A temporary file of this process that is neither committed nor removed:
// the directory it was made in (its staged file's descriptor, borrowed while
// the entry lives), its name there, and the file it was made as.
struct Entry {
  int directory = -1;
  std::string leaf;
  struct stat file {};
};

// The entries, by the temporary file's full name.
struct Uncommitted {
  std::mutex mutex;
  std::map<std::string, Entry> names;
  bool closed = false;  // by remove_uncommitted
};

Uncommitted& uncommitted() {
  // Never destroyed: workers may still stage files while the process exits.
  static auto* registry = new Uncommitted;
  return *registry;
}

// A file that replaced one of ours under its name is someone else's. Looked
// up in the directory itself, so one moved or renamed keeps nothing of ours.
void remove_if_ours(const Entry& entry) {
  struct stat named {};
  if (::fstatat(entry.directory, entry.leaf.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(named, entry.file))
    ::unlinkat(entry.directory, entry.leaf.c_str(), 0);
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
  // Held for removing the temporary file: that must find it even when the
  // directory has been moved.
  UniqueFd dir(::open(directory.empty() ? "." : directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return ErrorText{os_error_text(errno)};

  // Registered before it exists and under the lock, so that no file is ever
  // out of remove_uncommitted's reach.
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  if (registry.closed) return ErrorText{os_error_text(ECANCELED)};
  // A process id and a counter make the name unique among running listeners;
  // one left behind by an ended process is stepped over.
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    std::string leaf = std::string(kPrefix) + purpose + "-" + std::to_string(::getpid()) + "-" +
                       std::to_string(next_name.fetch_add(1)) + std::string(kSuffix);
    std::string temporary = directory + leaf;
    const auto registered = registry.names.try_emplace(temporary, Entry{dir.get(), leaf, {}}).first;
    UniqueFd fd(::openat(dir.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
      const int error = errno;
      registry.names.erase(registered);
      if (error != EEXIST) return ErrorText{os_error_text(error)};
      continue;
    }
    // Its identity tells it from a file put under its name later.
    if (::fstat(fd.get(), &registered->second.file) != 0 || (*mode && ::fchmod(fd.get(), **mode) != 0)) {
      const int error = errno;
      ::unlinkat(dir.get(), leaf.c_str(), 0);
      registry.names.erase(registered);
      return ErrorText{os_error_text(error)};
    }
    return StagedFile(std::move(dir), std::move(fd), std::move(temporary), destination);
  }
  return ErrorText{os_error_text(EEXIST)};
}

StagedFile::StagedFile(UniqueFd directory, UniqueFd fd, std::string temporary, std::string destination)
    : directory_(std::move(directory)),
      fd_(std::move(fd)),
      temporary_(std::move(temporary)),
      destination_(std::move(destination)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : directory_(std::move(other.directory_)),
      fd_(std::move(other.fd_)),
      temporary_(std::move(other.temporary_)),
      destination_(std::move(other.destination_)),
      settled_(std::exchange(other.settled_, true)) {}

StagedFile::~StagedFile() {
  if (settled_) return;
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  if (const auto found = registry.names.find(temporary_); found != registry.names.end()) {
    remove_if_ours(found->second);
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
  if (::lstat(temporary_.c_str(), &named) == 0 && !same_file(named, found->second.file)) {
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
  for (const auto& [name, entry] : registry.names) remove_if_ours(entry);
  registry.names.clear();
}

}  // namespace ombri
