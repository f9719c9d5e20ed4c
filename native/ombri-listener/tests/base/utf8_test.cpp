#include "base/utf8.hpp"

#include <gtest/gtest.h>

namespace ombri {
namespace {

// Expected texts are Python's bytes.decode("utf-8", "replace"), which replaces
// each ill-formed sequence by one U+FFFD.
TEST(Utf8, ValidationAndLossyDecoding) {
  struct Case {
    std::string bytes;
    std::string lossy;
    bool valid;
  };
  const Case cases[] = {
      {std::string("\x61\x62\x63", 3), std::string("\x61\x62\x63", 3), true},
      {std::string("\xff", 1), std::string("\xef\xbf\xbd", 3), false},
      {std::string("\xe2\x82", 2), std::string("\xef\xbf\xbd", 3), false},
      {std::string("\xe2\x82\x61", 3), std::string("\xef\xbf\xbd\x61", 4), false},
      {std::string("\xe0\x80\x80", 3), std::string("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", 9), false},
      {std::string("\xed\xa0\x80", 3), std::string("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", 9), false},
      {std::string("\xf4\x90\x80\x80", 4), std::string("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", 12), false},
      {std::string("\xf0\x9f\x98", 3), std::string("\xef\xbf\xbd", 3), false},
      {std::string("\xf0\x9f\x98\x80", 4), std::string("\xf0\x9f\x98\x80", 4), true},
      {std::string("\xc0\xaf", 2), std::string("\xef\xbf\xbd\xef\xbf\xbd", 6), false},
      {std::string("\x61\x80\x80\x62", 4), std::string("\x61\xef\xbf\xbd\xef\xbf\xbd\x62", 8), false},
      {std::string("\xc3\xa9\xe3\x80", 4), std::string("\xc3\xa9\xef\xbf\xbd", 5), false},
      // Long ASCII stretches, passed eight bytes at a time, around the faults.
      {"abcdefgh\xff", "abcdefgh\xef\xbf\xbd", false},
      {"abcdefghijklmno\xe2\x82", "abcdefghijklmno\xef\xbf\xbd", false},
      {"abcdefg\xc3\xa9"
       "abcdefgh",
       "abcdefg\xc3\xa9"
       "abcdefgh",
       true},
      {"abcdefghabcdefgh\xed\xa0\x80xyz", "abcdefghabcdefgh\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdxyz", false},
      {"abcdefghabcdefgh", "abcdefghabcdefgh", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(to_utf8_lossy(c.bytes), c.lossy) << ::testing::PrintToString(c.bytes);
  }
}

TEST(Utf8, TrimsUnicodeWhiteSpace) {
  EXPECT_EQ(trim_unicode_whitespace("\xc2\xa0\t a b\xe3\x80\x80\n"), "a b");
  EXPECT_EQ(trim_unicode_whitespace("\xe2\x80\x8b"), "\xe2\x80\x8b");  // zero-width space is not white space
  EXPECT_TRUE(is_blank("\xe2\x80\xa8\xe1\x9a\x80 "));
  EXPECT_FALSE(is_blank(" x "));
}

}  // namespace
}  // namespace ombri
