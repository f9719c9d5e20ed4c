#include "wav/recordings_in_progress.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

namespace ombri {
namespace {

struct Marked {
  std::mutex mutex;
  std::vector<std::pair<dev_t, ino_t>> files;
};

Marked& marked() {
  // Never destroyed: a recording may still be released while the process exits.
  static auto* registry = new Marked;
  return *registry;
}

}  // namespace

RecordingInProgress::RecordingInProgress(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return;
  id_.emplace(info.st_dev, info.st_ino);
  auto& registry = marked();
  std::lock_guard lock(registry.mutex);
  registry.files.push_back(*id_);
}

RecordingInProgress::RecordingInProgress(RecordingInProgress&& other) noexcept : id_(std::exchange(other.id_, {})) {}

RecordingInProgress::~RecordingInProgress() {
  if (!id_) return;
  auto& registry = marked();
  std::lock_guard lock(registry.mutex);
  const auto found = std::find(registry.files.begin(), registry.files.end(), *id_);
  if (found != registry.files.end()) registry.files.erase(found);
}

bool RecordingInProgress::marks(const struct stat& file) {
  auto& registry = marked();
  std::lock_guard lock(registry.mutex);
  return std::find(registry.files.begin(), registry.files.end(), std::pair{file.st_dev, file.st_ino}) !=
         registry.files.end();
}

}  // namespace ombri
