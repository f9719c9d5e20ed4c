#pragma once
// UTF-8 text: validity, lossy repair and trimming of Unicode white space.

#include <string>
#include <string_view>

namespace ombri {

bool is_valid_utf8(std::string_view bytes);

// The code point that starts at text[i] (valid UTF-8 assumed); its byte count goes to `length`.
char32_t decode_utf8_at(std::string_view text, std::size_t i, std::size_t& length);

// Whether the code point has the Unicode White_Space property.
bool is_unicode_whitespace(char32_t c);

// The bytes as UTF-8, each ill-formed sequence (its longest valid prefix) replaced by one U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// The text without Unicode white space at either end (input must be valid UTF-8).
std::string_view trim_unicode_whitespace(std::string_view text);

bool is_blank(std::string_view text);

}  // namespace ombri
