#include "wav/recordings_in_progress.hpp"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "base/path_status.hpp"

namespace ombri {
namespace {

struct Marked {
  std::mutex mutex;
  std::vector<struct stat> files;
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
  file_ = info;
  auto& registry = marked();
  std::lock_guard lock(registry.mutex);
  registry.files.push_back(info);
}

RecordingInProgress::RecordingInProgress(RecordingInProgress&& other) noexcept
    : file_(std::exchange(other.file_, std::nullopt)) {}

RecordingInProgress::~RecordingInProgress() {
  if (!file_) return;
  auto& registry = marked();
  std::lock_guard lock(registry.mutex);
  const auto found = std::find_if(registry.files.begin(), registry.files.end(),
                                  [this](const struct stat& file) { return same_file(file, *file_); });
  if (found != registry.files.end()) registry.files.erase(found);
}

bool RecordingInProgress::marks(const struct stat& file) {
  auto& registry = marked();
  std::lock_guard lock(registry.mutex);
  return std::any_of(registry.files.begin(), registry.files.end(),
                     [&file](const struct stat& marked_file) { return same_file(marked_file, file); });
}

}  // namespace ombri
