#include "base/staged_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "test_support.hpp"

namespace ombri {
namespace {

using test::names_in;
using test::read_bytes;
using test::TempDir;

void write_text(const StagedFile& file, const std::string& text) {
  auto fd = file.duplicate_fd();
  ASSERT_TRUE(fd);
  ASSERT_EQ(::write(fd->get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

TEST(StagedFile, TheDestinationGetsTheWholeFileOrKeepsWhatItHeld) {
  TempDir dir;
  const auto kept = dir.file("kept.txt");
  std::ofstream(kept) << "old";
  {
    auto abandoned = StagedFile::create(kept, "test");
    ASSERT_TRUE(abandoned);
    write_text(*abandoned, "half");
    EXPECT_EQ(names_in(dir.path()).size(), 2u);
  }
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(read_bytes(kept), (std::vector<unsigned char>{'o', 'l', 'd'}));

  auto staged = StagedFile::create(kept, "test");
  ASSERT_TRUE(staged);
  write_text(*staged, "new");
  ASSERT_TRUE(staged->commit());
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(read_bytes(kept), (std::vector<unsigned char>{'n', 'e', 'w'}));
}

// A process about to exit removes what its workers are still writing: their
// outputs stay as they were, and what they try next fails. Run in a child,
// because the listener does this once and for good.
TEST(StagedFile, RemoveUncommittedLeavesOnlyWhatWasCommitted) {
  TempDir dir;
  const auto kept = dir.file("kept.txt");
  const auto done = dir.file("done.txt");
  std::ofstream(kept) << "old";
  EXPECT_EXIT(
      {
        auto running = StagedFile::create(kept, "test");
        auto fresh = StagedFile::create(dir.file("fresh.txt"), "test");
        auto finished = StagedFile::create(done, "test");
        if (!running || !fresh || !finished || !finished->commit()) std::_Exit(2);
        write_text(*running, "half");
        StagedFile::remove_uncommitted();
        if (names_in(dir.path()) != std::vector<std::string>{"done.txt", "kept.txt"}) std::_Exit(3);
        if (running->commit()) std::_Exit(4);
        const auto later = StagedFile::create(dir.file("later.txt"), "test");
        if (later || later.error() != "Operation canceled (os error 125)") std::_Exit(5);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"done.txt", "kept.txt"}));
  EXPECT_EQ(read_bytes(kept), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

}  // namespace
}  // namespace ombri
