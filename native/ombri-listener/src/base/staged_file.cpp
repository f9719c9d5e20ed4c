#include "base/staged_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "base/os_error.hpp"

namespace ombri {
namespace {

constexpr int kMaxNameTries = 100;

std::atomic<unsigned long> next_name{0};

}  // namespace

Result<StagedFile> StagedFile::create(const std::string& destination, const char* purpose) {
  const auto slash = destination.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  // No file name: what creating the destination itself would answer.
  if (directory.size() == destination.size()) return ErrorText{os_error_text(destination.empty() ? ENOENT : EISDIR)};

  // A process id and a counter make the name unique among running listeners;
  // one left behind by an ended process is stepped over.
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    const std::string temporary = directory + ".ombri-" + purpose + "-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(next_name.fetch_add(1)) + ".tmp";
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd) return StagedFile(std::move(fd), temporary, destination);
    if (errno != EEXIST) return ErrorText{os_error_text(errno)};
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
  if (!committed_) ::unlink(temporary_.c_str());
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
  return {};
}

}  // namespace ombri
