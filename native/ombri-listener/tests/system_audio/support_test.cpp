#include "system_audio/support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "test_support.hpp"

namespace ombri {
namespace {

TEST(MacosSupport, VersionTextsAndTheirVerdicts) {
  struct Case {
    const char* output;
    const char* verdict;  // nullptr: supported
  };
  const char* unknown = "Could not determine the macOS version for system audio capture.";
  const Case cases[] = {
      {"14.2", nullptr},
      {"15.0.1", nullptr},
      {"14.4.1\n", nullptr},
      {" \t26.1 \xe3\x80\x80", nullptr},
      {"+14.+2", nullptr},
      {"14.1.2", "System audio capture needs macOS 14.2 or newer (running 14.1)."},
      {"14", "System audio capture needs macOS 14.2 or newer (running 14.0)."},
      {"13.6.7", "System audio capture needs macOS 14.2 or newer (running 13.6)."},
      {"14.x", "System audio capture needs macOS 14.2 or newer (running 14.0)."},
      {"14.2\xff", "System audio capture needs macOS 14.2 or newer (running 14.0)."},
      {"14.-2", "System audio capture needs macOS 14.2 or newer (running 14.0)."},
      {"14.4294967296", "System audio capture needs macOS 14.2 or newer (running 14.0)."},
      {"", unknown},
      {"\n", unknown},
      {"-14.2", unknown},
      {"4294967296.0", unknown},
      {"sw_vers: not found", unknown},
      {".2", unknown},
  };
  for (const auto& c : cases) {
    const auto verdict = support_for_version(parse_macos_version(c.output));
    if (c.verdict) {
      ASSERT_FALSE(verdict) << c.output;
      EXPECT_EQ(verdict.error(), c.verdict) << c.output;
    } else {
      EXPECT_TRUE(verdict) << c.output;
    }
  }
  EXPECT_EQ(parse_macos_version("4294967295.7"), (std::pair<std::uint32_t, std::uint32_t>{4294967295u, 7}));
}

// A PATH whose sw_vers is a script, for as long as it lives.
class SwVersScript {
 public:
  explicit SwVersScript(const std::string& body) : old_path_(std::getenv("PATH")) {
    const std::string script = dir_.file("sw_vers");
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    ::chmod(script.c_str(), 0700);
    ::setenv("PATH", (dir_.path().string() + ":/usr/bin:/bin").c_str(), 1);
  }
  ~SwVersScript() { ::setenv("PATH", old_path_.c_str(), 1); }

  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  test::TempDir dir_;
  std::string old_path_;
};

TEST(MacosSupport, ToolThatDoesNotEndIsKilledAndReaped) {
  const struct {
    const char* name;
    const char* body;
  } cases[] = {
      {"pipes open", "echo $$ > \"$0.pid\"\necho 14.4\nexec sleep 60"},
      {"pipes closed", "echo $$ > \"$0.pid\"\necho 14.4\nexec sleep 60 >/dev/null 2>&1"},
  };
  for (const auto& c : cases) {
    SwVersScript tool(c.body);
    EXPECT_EQ(macos_version(std::chrono::milliseconds(300)), std::nullopt) << c.name;
    int pid = 0;
    std::ifstream(tool.file("sw_vers.pid")) >> pid;
    ASSERT_GT(pid, 0) << c.name;
    // Not even a zombie is left.
    EXPECT_EQ(::kill(pid, 0), -1) << c.name;
    EXPECT_EQ(errno, ESRCH) << c.name;
  }
  SwVersScript slow("sleep 0.2\necho 14.4");
  EXPECT_EQ(macos_version(std::chrono::milliseconds(5000)), (std::pair<std::uint32_t, std::uint32_t>{14, 4}));
}

}  // namespace
}  // namespace ombri
