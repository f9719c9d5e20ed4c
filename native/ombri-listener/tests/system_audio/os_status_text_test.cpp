#include "system_audio/os_status_text.hpp"

#include <gtest/gtest.h>

namespace ombri {
namespace {

TEST(OsStatusText, RawStatusAndItsFourBytes) {
  EXPECT_EQ(os_status_text(-50), R"(os::Error { raw: -50, fcc: "...." })");
  EXPECT_EQ(os_status_text(platform::status_code("who?")), R"(os::Error { raw: 2003332927, fcc: "who?" })");
  EXPECT_EQ(os_status_text(platform::status_code("!obj")), R"(os::Error { raw: 560947818, fcc: "!obj" })");
  EXPECT_EQ(os_status_text(0x7F204142), R"(os::Error { raw: 2132820290, fcc: ". AB" })");
  EXPECT_EQ(os_status_text(0), R"(os::Error { raw: 0, fcc: "...." })");
}

}  // namespace
}  // namespace ombri
