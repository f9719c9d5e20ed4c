#include "calendar/ns_string.hpp"

#include "base/utf8.hpp"

namespace ombri {

std::string ns_string_text(std::string string) {
  if (is_valid_utf8(string)) return string;
  return to_utf8_lossy(string);
}

std::optional<std::string> ns_string_value(std::optional<std::string> string) {
  if (!string) return std::nullopt;
  std::string text = ns_string_text(std::move(*string));
  if (is_blank(text)) return std::nullopt;
  return text;
}

}  // namespace ombri
