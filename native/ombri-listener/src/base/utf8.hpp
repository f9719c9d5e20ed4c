#pragma once
// UTF-8 text: validity, lossy repair and trimming of Unicode white space.

#include <string>
#include <string_view>

namespace ombri {

bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8, each ill-formed sequence (its longest valid prefix) replaced by one U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// The text without Unicode white space at either end (input must be valid UTF-8).
std::string_view trim_unicode_whitespace(std::string_view text);

bool is_blank(std::string_view text);

}  // namespace ombri
