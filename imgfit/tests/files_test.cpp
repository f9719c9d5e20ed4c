#include "files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "failure.hpp"
#include "outcome.hpp"
#include "temp_dir.hpp"

namespace ombri_image {
namespace {

std::string readCode(const std::filesystem::path& path) {
  return test_support::outcome([&] { readSource(path); });
}

std::filesystem::path sparseFile(const test_support::TempDir& dir, const std::string& name, off_t size) {
  const auto path = dir / name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  return path;
}

TEST(ReadSource, RefusesWhatIsNotASmallRegularFile) {
  test_support::TempDir dir;
  const auto image = dir.write("in.jpg", {0xFF, 0xD8, 0xFF, 0x00});
  std::filesystem::create_symlink(image, dir / "link.jpg");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

  EXPECT_EQ(readCode(dir / "missing.jpg"), "7 input_open_failed");
  EXPECT_EQ(readCode(dir / "link.jpg"), "7 input_open_failed");
  EXPECT_EQ(readCode(dir / "fifo"), "2 input_not_regular");
  EXPECT_EQ(readCode(dir / "."), "2 input_not_regular");
  EXPECT_EQ(readCode(sparseFile(dir, "empty", 0)), "4 source_byte_limit");
  EXPECT_EQ(readCode(sparseFile(dir, "largest", 25'165'824)), "ok");
  EXPECT_EQ(readCode(sparseFile(dir, "too-large", 25'165'825)), "4 source_byte_limit");
  EXPECT_EQ(readSource(image), (std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0x00}));
}

TEST(WriteOutput, CreatesExclusivelyWithOwnerOnlyPermissions) {
  test_support::TempDir dir;
  const auto path = dir / "out.jpg";
  PhaseTimings timings;
  writeOutput(path, {1, 2, 3}, &timings);

  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 3);
  EXPECT_EQ(status.st_mode & 0077, 0u);
  EXPECT_GE(timings.writeMs, 0.0);
  EXPECT_GT(timings.flushMs, 0.0);

  try {
    writeOutput(path, {9}, nullptr);
    FAIL() << "an existing file was replaced";
  } catch (const Failure& failure) {
    EXPECT_STREQ(failure.what(), "output_create_failed");
    EXPECT_EQ(failure.exitStatus, ExitStatus::fileSystem);
  }
  EXPECT_EQ(std::filesystem::file_size(path), 3u);
  EXPECT_THROW(writeOutput(dir / "missing" / "out.jpg", {1}, nullptr), Failure);
}

std::vector<std::string> entries(const test_support::TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir / ".")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Whatever appeared at the output name since the command line was checked
// stays as it was, and no temporary file is left beside it.
TEST(WriteOutput, NeverReplacesAnEntryThatAppeared) {
  test_support::TempDir dir;
  dir.write("file.jpg", {7});
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling.jpg");
  std::filesystem::create_directory(dir / "folder.jpg");
  for (const char* name : {"file.jpg", "dangling.jpg", "folder.jpg"}) {
    EXPECT_EQ(test_support::outcome([&] {
                writeOutput(dir / name, {1, 2, 3}, nullptr);
              }),
              "7 output_create_failed")
        << name;
  }
  EXPECT_EQ(entries(dir), (std::vector<std::string>{"dangling.jpg", "file.jpg", "folder.jpg"}));
  EXPECT_EQ(std::filesystem::file_size(dir / "file.jpg"), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));

  writeOutput(dir / "new.jpg", {1, 2, 3}, nullptr);
  EXPECT_EQ(entries(dir), (std::vector<std::string>{"dangling.jpg", "file.jpg", "folder.jpg", "new.jpg"}));
}

}  // namespace
}  // namespace ombri_image
