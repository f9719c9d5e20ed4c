#pragma once
// Texts of the calendar store as the listener's own: always valid UTF-8, so
// that every answer line parses, and optional where the store may give nil.

#include <optional>
#include <string>

namespace ombri {

// The store's text as UTF-8, untrimmed; ill-formed bytes become U+FFFD.
std::string ns_string_text(std::string string);

// Nothing for nil and for a text that is empty after trimming Unicode white
// space; otherwise the text untrimmed, as `ns_string_text` makes it.
std::optional<std::string> ns_string_value(std::optional<std::string> string);

}  // namespace ombri
