#include "calendar/calendar_color.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ombri {
namespace {

using eventkit::Color;

TEST(CalendarColorHex, ComponentCountsRangesAndRounding) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    std::optional<Color> color;
    std::optional<std::string> hex;
  };
  const Case cases[] = {
      {"no colour", std::nullopt, std::nullopt},
      {"null components", Color{std::nullopt}, std::nullopt},
      {"zero components", Color{std::vector<double>{}}, std::nullopt},
      {"grey", Color{{{0.5}}}, "#808080"},
      {"grey with alpha", Color{{{0.5, 1.0}}}, "#808080"},
      {"three components", Color{{{0.2, 0.4, 0.6}}}, "#336699"},
      {"with alpha", Color{{{0.2, 0.4, 0.6, 1.0}}}, "#336699"},
      {"five components", Color{{{0.2, 0.4, 0.6, 0.0, 0.3}}}, "#336699"},
      {"outside [0, 1]", Color{{{1.2, -0.1, 0.999, 1.0}}}, "#ff00ff"},
      {"infinities", Color{{{inf, -inf, 1e300}}}, "#ff00ff"},
      {"NaN is 0", Color{{{nan, 0.5, 1.0}}}, "#0080ff"},
      {"NaN grey", Color{{{nan, 1.0}}}, "#000000"},
      // 2.5 / 255 scales back to exactly 2.5: away from zero gives 3, not the even 2.
      {"halves away from zero", Color{{{2.5 / 255, 0.5 / 255, 254.5 / 255}}}, "#0301ff"},
      {"just below a half", Color{{{2.49 / 255, 0.0, 0.0}}}, "#020000"},
  };
  for (const Case& c : cases) EXPECT_EQ(calendar_color_hex(c.color), c.hex) << c.what;
}

}  // namespace
}  // namespace ombri
