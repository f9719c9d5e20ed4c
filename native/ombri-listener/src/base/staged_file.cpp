#include "base/staged_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

#include "base/os_error.hpp"

namespace ombri {
namespace {

constexpr int kMaxNameTries = 100;

std::atomic<unsigned long> next_name{0};

// The temporary files of this process that are neither committed nor removed.
struct Uncommitted {
  std::mutex mutex;
  std::set<std::string> names;
  bool closed = false;  // by remove_uncommitted
};

Uncommitted& uncommitted() {
  // Never destroyed: workers may still stage files while the process exits.
  static auto* registry = new Uncommitted;
  return *registry;
}

}  // namespace

Result<StagedFile> StagedFile::create(const std::string& destination, const char* purpose) {
  const auto slash = destination.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  // No file name: what creating the destination itself would answer.
  if (directory.size() == destination.size()) return ErrorText{os_error_text(destination.empty() ? ENOENT : EISDIR)};

  // Registered before it exists and under the lock, so that no file is ever
  // out of remove_uncommitted's reach.
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  if (registry.closed) return ErrorText{os_error_text(ECANCELED)};
  // A process id and a counter make the name unique among running listeners;
  // one left behind by an ended process is stepped over.
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    std::string temporary = directory + ".ombri-" + purpose + "-" + std::to_string(::getpid()) + "-" +
                            std::to_string(next_name.fetch_add(1)) + ".tmp";
    const auto registered = registry.names.insert(temporary).first;
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd) return StagedFile(std::move(fd), std::move(temporary), destination);
    const int error = errno;
    registry.names.erase(registered);
    if (error != EEXIST) return ErrorText{os_error_text(error)};
  }
  return ErrorText{os_error_text(EEXIST)};
}

StagedFile::StagedFile(UniqueFd fd, std::string temporary, std::string destination)
    : fd_(std::move(fd)), temporary_(std::move(temporary)), destination_(std::move(destination)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      temporary_(std::move(other.temporary_)),
      destination_(std::move(other.destination_)),
      committed_(std::exchange(other.committed_, true)) {}

StagedFile::~StagedFile() {
  if (committed_) return;
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  ::unlink(temporary_.c_str());
  registry.names.erase(temporary_);
}

Result<UniqueFd> StagedFile::duplicate_fd() const {
  UniqueFd copy(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
  if (!copy) return ErrorText{os_error_text(errno)};
  return copy;
}

Result<void> StagedFile::commit() {
  if (::fsync(fd_.get()) != 0) return ErrorText{os_error_text(errno)};
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) return ErrorText{os_error_text(errno)};
  committed_ = true;
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  registry.names.erase(temporary_);
  return {};
}

void StagedFile::remove_uncommitted() {
  auto& registry = uncommitted();
  std::lock_guard lock(registry.mutex);
  registry.closed = true;
  for (const std::string& name : registry.names) ::unlink(name.c_str());
  registry.names.clear();
}

}  // namespace ombri
