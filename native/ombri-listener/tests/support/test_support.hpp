#pragma once
// Helpers shared by the unit tests.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/poison_mutex.hpp"

namespace ombri::test {

// A fresh directory under the system temp dir, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombri-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<unsigned char> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names of a directory's entries, sorted, so a test sees what was left beside a file.
inline std::vector<std::string> names_in(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Everything written to an open file so far.
inline std::string file_text(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

// Reads a file with libsndfile: its channels, rate and samples.
struct SndfileContent {
  int channels = 0;
  int rate = 0;
  int format = 0;
  std::vector<short> samples;
};

inline SndfileContent read_with_sndfile(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  SndfileContent content;
  if (!file) return content;
  content.channels = info.channels;
  content.rate = info.samplerate;
  content.format = info.format;
  content.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  sf_read_short(file, content.samples.data(), static_cast<sf_count_t>(content.samples.size()));
  sf_close(file);
  return content;
}

// Marks the mutex poisoned as a thread does that fails while holding it.
template <class T>
void poison(PoisonMutex<T>& mutex) {
  std::thread([&] {
    try {
      auto guard = mutex.lock();
      throw std::runtime_error("failed while holding the lock");
    } catch (const std::runtime_error&) {
    }
  }).join();
}

}  // namespace ombri::test
