#include "protocol/timestamp.hpp"

#include <gtest/gtest.h>

namespace ombri {
namespace {

TEST(Timestamp, Format) {
  EXPECT_EQ(format_timestamp(1700000000, 5'000'000), "1700000000.005Z");
  EXPECT_EQ(format_timestamp(1700000000, 42'999'999), "1700000000.042Z");
  EXPECT_EQ(format_timestamp(0, 0), "0.000Z");
  EXPECT_EQ(format_timestamp(-5, 0), "0.000Z");
  EXPECT_EQ(format_timestamp(12, 999'999'999), "12.999Z");
  EXPECT_TRUE(timestamp_now().ends_with("Z"));
}

}  // namespace
}  // namespace ombri
