#include "protocol/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace ombri {
namespace {

TEST(JsonWriter, NumberForms) {
  struct Case {
    Json value;
    const char* text;
  };
  const Case cases[] = {
      {Json(3.0), "3.0"},
      {Json(3u), "3"},
      {Json(-3), "-3"},
      {Json(0.0), "0.0"},
      {Json(-0.0), "-0.0"},
      {Json(1e15), "1000000000000000.0"},
      {Json(1e16), "1e+16"},
      {Json(0.00001), "0.00001"},
      {Json(0.000001), "1e-6"},
      {Json(1.5e-7), "1.5e-7"},
      {Json(2.5e20), "2.5e+20"},
      {Json(0.1f), "0.10000000149011612"},
      {Json(0.42f), "0.41999998688697815"},
      {Json(0.1), "0.1"},
      {Json(123.456), "123.456"},
      {Json(-1.25), "-1.25"},
      {Json(1e300), "1e+300"},
      {Json(5e-324), "5e-324"},
      {Json(std::numeric_limits<double>::max()), "1.7976931348623157e+308"},
      {Json(std::nan("")), "null"},
      {Json(std::numeric_limits<double>::infinity()), "null"},
      {Json(-std::numeric_limits<float>::infinity()), "null"},
      {Json(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {Json(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_json_text(c.value), c.text) << c.text;
}

TEST(JsonWriter, StringsAndStructure) {
  EXPECT_EQ(to_json_text(Json("a\"b\\c/d")), R"("a\"b\\c/d")");
  EXPECT_EQ(to_json_text(Json("\"plain run\\\\")), R"("\"plain run\\\\")");
  EXPECT_EQ(to_json_text(Json(std::string("\b\t\n\f\r\x01\x1f\x7f", 8))), R"("\b\t\n\f\r\u0001\u001f)"
                                                                          "\x7f\"");
  EXPECT_EQ(to_json_text(Json("é✓")), "\"é✓\"");
  Json object{{"b", 1}, {"a", Json::array({true, false, nullptr})}, {"B", Json::object()}, {"\xc3\xa9", 2}};
  EXPECT_EQ(to_json_text(object), R"({"B":{},"a":[true,false,null],"b":1,"é":2})");
}

TEST(JsonParser, Strictness) {
  struct Case {
    std::string text;
    bool accepted;
  };
  const std::string deep127 = std::string(127, '[') + std::string(127, ']');
  const std::string deep128 = std::string(128, '[') + std::string(128, ']');
  const std::string deep126 = std::string(126, '[') + std::string(126, ']');
  const Case cases[] = {
      {" \t{\"a\":1}\r\n", true},
      {"{\"a\":1} x", false},
      {"{} {}", false},
      {"\f{}", false},
      {"\xc2\xa0{}", false},
      {"\xef\xbb\xbf{}", false},
      {std::string("{}\0", 3), false},
      {std::string("{\"a\":1}\0x", 9), false},
      {"[1,]", false},
      {"{\"a\":1,}", false},
      {"// c\n{}", false},
      {"\"a\tb\"", false},
      {R"("\ud800")", false},
      {R"("\ud83d\ude00")", true},
      {"1e400", false},
      {"\"[[[[\"", true},
      {deep127, true},
      {deep128, false},
      {"{\"a\":" + std::string(126, '[') + std::string(126, ']') + "}", true},
      {"{\"a\":" + std::string(127, '[') + std::string(127, ']') + "}", false},
      // Levels are counted as they open and close, not summed over siblings.
      {"[" + deep126 + "," + deep126 + "]", true},
      {"[" + deep126 + "," + "[" + deep126 + "]]", false},
      {std::string(64, '[') + "{\"a\":" + std::string(61, '[') + "{}" + std::string(61, ']') + "}" +
           std::string(64, ']'),
       true},
      {std::string(64, '[') + "{\"a\":" + std::string(62, '[') + "{}" + std::string(62, ']') + "}" +
           std::string(64, ']'),
       false},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_json(c.text).has_value(), c.accepted) << c.text;
}

TEST(JsonParser, ValueForms) {
  EXPECT_TRUE(parse_json("18446744073709551615")->is_number_unsigned());
  EXPECT_TRUE(parse_json("-9223372036854775808")->is_number_integer());
  EXPECT_TRUE(parse_json("18446744073709551616")->is_number_float());
  EXPECT_EQ((*parse_json(R"({"a":1,"a":2})"))["a"], 2);
}

}  // namespace
}  // namespace ombri
