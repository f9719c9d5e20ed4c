#include "base/staged_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

std::vector<unsigned char> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// The one temporary file in `dir`.
std::string temporary_in(const TempDir& dir) {
  for (const auto& name : names_in(dir.path()))
    if (StagedFile::is_temporary_name(name)) return dir.file(name);
  return "";
}

// Another file put under the temporary name meanwhile.
void replace_with(const std::string& temporary, const std::string& text) {
  const auto theirs = temporary + ".theirs";
  std::ofstream(theirs) << text;
  ASSERT_EQ(std::rename(theirs.c_str(), temporary.c_str()), 0);
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
        // A file someone else put under a temporary name is theirs to keep.
        const auto sub = dir.file("sub");
        std::filesystem::create_directory(sub);
        auto replaced = StagedFile::create(sub + "/x.txt", "test");
        if (!replaced) std::_Exit(6);
        replace_with(sub + "/" + names_in(sub)[0], "theirs");
        StagedFile::remove_uncommitted();
        if (names_in(dir.path()) != std::vector<std::string>{"done.txt", "kept.txt", "sub"}) std::_Exit(3);
        if (names_in(sub).size() != 1) std::_Exit(7);
        if (running->commit()) std::_Exit(4);
        const auto later = StagedFile::create(dir.file("later.txt"), "test");
        if (later || later.error() != "Operation canceled (os error 125)") std::_Exit(5);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"done.txt", "kept.txt", "sub"}));
  EXPECT_EQ(read_bytes(kept), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

// The temporary names are predictable: a file put under one must neither
// take the destination's place nor be removed.
TEST(StagedFile, ATemporaryNameThatLeadsElsewhereIsNeitherRenamedNorRemoved) {
  TempDir dir;
  const auto destination = dir.file("final.txt");
  std::ofstream(destination) << "old";
  std::string temporary;
  {
    auto staged = StagedFile::create(destination, "test");
    ASSERT_TRUE(staged);
    write_text(*staged, "ours");
    temporary = temporary_in(dir);
    replace_with(temporary, "theirs");
    const auto committed = staged->commit();
    ASSERT_FALSE(committed);
    EXPECT_EQ(committed.error(), "the temporary file was replaced");
  }
  EXPECT_EQ(read_bytes(destination), bytes_of("old"));
  EXPECT_EQ(read_bytes(temporary), bytes_of("theirs"));

  // Released without a commit: the other file stays too.
  std::filesystem::remove(temporary);
  {
    auto staged = StagedFile::create(destination, "test");
    ASSERT_TRUE(staged);
    temporary = temporary_in(dir);
    replace_with(temporary, "theirs");
  }
  EXPECT_EQ(read_bytes(temporary), bytes_of("theirs"));
}

// A directory renamed away mid-write, and a new one made under its name: the
// commit fails, by the names given, and neither directory keeps a temporary
// file, whether the staged file is released or the process exits.
TEST(StagedFile, ADirectoryMovedAwayKeepsNoTemporaryFile) {
  TempDir dir;
  const auto place = dir.file("out");
  const auto moved = dir.file("moved");
  const auto stage_and_move = [&] {
    std::filesystem::create_directory(place);
    auto staged = StagedFile::create(place + "/x.txt", "test");
    if (staged) write_text(*staged, "half");
    std::filesystem::rename(place, moved);
    std::filesystem::create_directory(place);
    return staged;
  };
  const auto nothing_left = [&] { return names_in(moved).empty() && names_in(place).empty(); };

  {
    auto staged = stage_and_move();
    ASSERT_TRUE(staged);
    const auto committed = staged->commit();
    ASSERT_FALSE(committed);
    EXPECT_EQ(committed.error(), "No such file or directory (os error 2)");
  }
  EXPECT_TRUE(nothing_left());

  std::filesystem::remove_all(place);
  std::filesystem::remove_all(moved);
  EXPECT_EXIT(
      {
        auto staged = stage_and_move();
        if (!staged) std::_Exit(2);
        StagedFile::remove_uncommitted();
        std::_Exit(nothing_left() ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
}

TEST(StagedFile, TemporaryNames) {
  for (const char* name : {".ombri-wav-12-0.tmp", ".ombri-enhance-1-2.tmp", ".ombri-.tmp", ".ombri-x.tmp"})
    EXPECT_TRUE(StagedFile::is_temporary_name(name)) << name;
  for (const char* name : {"ombri-wav-1-0.tmp", ".ombri-wav-1-0.tmp.wav", ".ombri-wav-1-0", ".ombri.tmp", ""})
    EXPECT_FALSE(StagedFile::is_temporary_name(name)) << name;
}

// What creating and truncating the destination would meet: a directory
// fails as it would, and an existing file's permission bits pass to the new
// one, whatever the umask.
TEST(StagedFile, CreateAnswersAsCreatingTheDestinationWould) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("dir"));
  const auto made = StagedFile::create(dir.file("dir"), "test");
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error(), "Is a directory (os error 21)");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"dir"});

  for (const mode_t mode : {0600, 0640, 0755}) {
    SCOPED_TRACE(mode);
    const auto path = dir.file("kept.txt");
    std::ofstream(path) << "old";
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    auto staged = StagedFile::create(path, "test");
    ASSERT_TRUE(staged);
    ASSERT_TRUE(staged->commit());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
  }
}

// An existing file this process may not write is refused as a create of it
// would be, and left as it was. In a child that is not the superuser, whom
// no permission bits stop.
TEST(StagedFile, AFileThisProcessMayNotWriteIsRefusedAndKept) {
  TempDir dir;
  const auto path = dir.file("read-only.txt");
  std::ofstream(path) << "old";
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && (::setegid(65534) != 0 || ::seteuid(65534) != 0)) std::_Exit(2);
        const auto staged = StagedFile::create(path, "test");
        if (staged || staged.error() != "Permission denied (os error 13)") std::_Exit(3);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"read-only.txt"});
  EXPECT_EQ(read_bytes(path), bytes_of("old"));
}

}  // namespace
}  // namespace ombri
