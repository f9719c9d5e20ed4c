#include "calendar/ns_string.hpp"

#include <gtest/gtest.h>

namespace ombri {
namespace {

TEST(NsStringValue, NilAndBlankAreNothingOtherTextsStayUntrimmed) {
  struct Case {
    std::optional<std::string> string;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt},
      {"", std::nullopt},
      {" \t\r\n\v\f", std::nullopt},
      {"\u00a0\u2003\u2028\u3000\u0085", std::nullopt},  // white space beyond ASCII
      {"\u200b", "\u200b"},                              // zero-width space has no White_Space property
      {"  Standup \u3000", "  Standup \u3000"},
      {"Caf\u00e9 \u2615 \u4f1a\u8b70", "Caf\u00e9 \u2615 \u4f1a\u8b70"},
      {std::string("Plan\xff\xfe", 6), "Plan\ufffd\ufffd"},  // the answer line must stay valid UTF-8
      {std::string(" \xc3", 2), " \ufffd"},
  };
  for (const Case& c : cases) EXPECT_EQ(ns_string_value(c.string), c.value) << ::testing::PrintToString(c.string);
}

TEST(NsStringText, KeepsBlankTextAndRepairsBytes) {
  EXPECT_EQ(ns_string_text(""), "");
  EXPECT_EQ(ns_string_text("  "), "  ");
  EXPECT_EQ(ns_string_text(std::string("a\x80z", 3)), "a\ufffdz");
}

}  // namespace
}  // namespace ombri
