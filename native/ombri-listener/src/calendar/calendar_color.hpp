#pragma once
// A calendar's colour as the text the desktop app shows it by.

#include <optional>
#include <string>

#include "platform/eventkit.hpp"

namespace ombri {

// "#rrggbb" in lower case from the colour's own components: a grey (one or
// two components) gives its level to all three; further components (alpha)
// are ignored. Components are clamped to [0, 1], NaN counts as 0, and the
// scaled value is rounded with halves away from zero. Nothing for no colour
// or a colour without components.
std::optional<std::string> calendar_color_hex(const std::optional<eventkit::Color>& color);

}  // namespace ombri
