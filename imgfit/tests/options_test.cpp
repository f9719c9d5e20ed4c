#include "options.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "failure.hpp"
#include "outcome.hpp"
#include "temp_dir.hpp"

namespace ombri_image {
namespace {

using Args = std::vector<std::filesystem::path>;

std::string failureCode(const Args& args) {
  return test_support::outcome([&] { parseOptions(args); });
}

TEST(ParseOptions, FirstFailingCheckDecides) {
  test_support::TempDir dir;
  const std::string in = (dir / "in.jpg").string();
  const std::string out = (dir / "out.jpg").string();
  dir.write("existing.jpg", {1});
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  const std::string longPath = "/" + std::string(16'383, 'a');

  struct Case {
    Args args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, "2 invalid_arguments"},
      {{"--input", in, "--output", out, "--max-bytes"}, "2 invalid_arguments"},
      {{"--input", in, "--output", out, "--max-bytes", "5", "--max-edge"}, "2 invalid_arguments"},
      {{"--input", in, "--output", out, "--max-bytes", "5", "--max-edge", "9", "x"}, "2 invalid_arguments"},
      {{"--Input", in, "--output", out, "--max-bytes", "5"}, "2 invalid_arguments"},
      {{"--input=" + in, "--output", out, "--max-bytes", "5", "x"}, "2 invalid_arguments"},
      {{in, "--input", "--output", out, "--max-bytes", "5"}, "2 invalid_arguments"},
      // Numbers are read inside the pair loop, before any path is checked.
      {{"--input", "rel.jpg", "--output", "out.jpg", "--max-bytes", "0"}, "2 invalid_limit"},
      {{"--input", "rel.jpg", "--output", "out.jpg", "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", in, "--output", out, "--max-bytes", "25165825"}, "2 invalid_limit"},
      {{"--input", in, "--output", out, "--max-bytes", "5", "--max-edge", "8193"}, "2 invalid_limit"},
      {{"--input", in, "--output", out, "--max-bytes", "5", "--max-bytes", "6"}, "2 duplicate_argument"},
      {{"--input", in, "--output", out, "--max-bytes", "5", "--max-bytes", "x"}, "2 invalid_limit"},
      {{"--input", in, "--input", in, "--output", out, "--max-bytes", "5"}, "2 duplicate_argument"},
      {{"--input", in, "--input", "", "--output", out, "--max-bytes", "5"}, "2 duplicate_argument"},
      {{"--input", in, "--output", out, "--max-edge", "5"}, "2 missing_argument"},
      {{"--input", "--output", "--output", out, "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", "", "--output", out, "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", in, "--output", "out.jpg", "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", in, "--output", (dir / "a\tb").string(), "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", in, "--output", (dir / "a\nb").string(), "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", in, "--output", longPath + "a", "--max-bytes", "5"}, "2 invalid_path"},
      {{"--input", in, "--output", longPath, "--max-bytes", "5"}, "ok"},
      {{"--input", in, "--output", (dir / "bild-\xc3\xa4.jpg").string(), "--max-bytes", "5"}, "ok"},
      {{"--input", "/x/y/../in.jpg", "--output", "/x//in.jpg", "--max-bytes", "5"}, "2 same_path"},
      {{"--input", "/x/./in.jpg", "--output", "/x/in.jpg", "--max-bytes", "5"}, "2 same_path"},
      {{"--input", in, "--output", (dir / "existing.jpg").string(), "--max-bytes", "5"}, "7 output_exists"},
      {{"--input", in, "--output", (dir / "folder").string(), "--max-bytes", "5"}, "7 output_exists"},
      {{"--input", in, "--output", (dir / "dangling").string(), "--max-bytes", "5"}, "7 output_exists"},
      {{"--input", in, "--output", (dir / "missing" / "out.jpg").string(), "--max-bytes", "5"}, "ok"},
      {{"--input", in, "--output", (dir / "existing.jpg" / "out.jpg").string(), "--max-bytes", "5"}, "ok"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& arg : c.args) joined += arg.string().substr(0, 60) + " ";
    EXPECT_EQ(failureCode(c.args), c.expected) << joined;
  }
}

TEST(ParseOptions, StoresValuesInAnyOrder) {
  const Options defaults = parseOptions({"--max-bytes", "0000001", "--output", "/o/out.jpg", "--input", "/i/in.png"});
  EXPECT_EQ(defaults.inputPath, "/i/in.png");
  EXPECT_EQ(defaults.outputPath, "/o/out.jpg");
  EXPECT_EQ(defaults.maxBytes, 1u);
  EXPECT_EQ(defaults.maxEdge, 1800u);

  const Options full =
      parseOptions({"--max-edge", "8192", "--input", "/i/in.png", "--output", "/o/out.jpg", "--max-bytes", "25165824"});
  EXPECT_EQ(full.maxBytes, 25'165'824u);
  EXPECT_EQ(full.maxEdge, 8192u);
}

TEST(PositiveInteger, AcceptsOnlyPlainDigitsWithinTheLimit) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1", true},
      {"0000001", true},
      {"25165824", true},
      {"25165825", false},
      {"0", false},
      {"", false},
      {"+5", false},
      {"-5", false},
      {" 5", false},
      {"5 ", false},
      {"1e3", false},
      {"0x10", false},
      {"5.0", false},
      {"18446744073709551616", false},
      {"99999999999999999999999", false},
  };
  for (const auto& [text, valid] : cases) {
    if (valid) {
      EXPECT_NO_THROW(positiveInteger(text, 25'165'824)) << text;
    } else {
      EXPECT_THROW(positiveInteger(text, 25'165'824), Failure) << text;
    }
  }
  EXPECT_EQ(positiveInteger("18446744073709551615", UINT64_MAX), UINT64_MAX);
  EXPECT_THROW(positiveInteger("18446744073709551616", UINT64_MAX), Failure);
}

}  // namespace
}  // namespace ombri_image
