#include "system_audio/support.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ombri
