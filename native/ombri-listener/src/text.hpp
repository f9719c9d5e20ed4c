#pragma once
// Small text rules shared across the protocol.

#include <optional>
#include <string>
#include <string_view>

#include "json.hpp"

namespace ombri {

bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8, each ill-formed sequence (its longest valid prefix) replaced by one U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// The text without Unicode white space at either end (input must be valid UTF-8).
std::string_view trim_unicode_whitespace(std::string_view text);

bool is_blank(std::string_view text);

// A string member that is not empty after trimming Unicode white space;
// returned untrimmed. Anything else (absent, not a string, blank) is nothing.
std::optional<std::string> usable_text(const Json& object, std::string_view key);

// The system's description of an OS error number: "{text} (os error {n})".
std::string os_error_text(int error_number);

}  // namespace ombri
