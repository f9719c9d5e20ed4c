#include "calendar/calendar_color.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace ombri {
namespace {

int channel_value(double component) {
  if (std::isnan(component)) return 0;
  return static_cast<int>(std::round(std::clamp(component, 0.0, 1.0) * 255.0));
}

}  // namespace

std::optional<std::string> calendar_color_hex(const std::optional<eventkit::Color>& color) {
  if (!color || !color->components || color->components->empty()) return std::nullopt;
  const std::vector<double>& c = *color->components;
  const bool grey = c.size() < 3;
  return fmt::format("#{:02x}{:02x}{:02x}", channel_value(c[0]), channel_value(grey ? c[0] : c[1]),
                     channel_value(grey ? c[0] : c[2]));
}

}  // namespace ombri
