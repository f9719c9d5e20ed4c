#include "base/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace ombri {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The UTF-8 sequence at the start of [p, end): its length when it is valid,
// otherwise the length of its longest valid prefix (at least 1) with `valid`
// false, so that one ill-formed sequence is replaced by one U+FFFD.
std::size_t scan_sequence(const unsigned char* p, const unsigned char* end, bool& valid) {
  const unsigned char lead = *p;
  valid = false;
  if (lead < 0x80) {
    valid = true;
    return 1;
  }
  std::size_t length;
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;   // no overlong forms
    if (lead == 0xED) second_high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;   // no overlong forms
    if (lead == 0xF4) second_high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 1;
  }
  std::size_t k = 1;
  for (; k < length && p + k < end; ++k) {
    const unsigned char low = k == 1 ? second_low : 0x80;
    const unsigned char high = k == 1 ? second_high : 0xBF;
    if (p[k] < low || p[k] > high) return k;
  }
  valid = k == length;
  return k;
}

}  // namespace

char32_t decode_utf8_at(std::string_view text, std::size_t i, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    length = 1;
    return lead;
  }
  length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t point = lead & (0x3F >> (length - 1));
  for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
    point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return point;
}

bool is_unicode_whitespace(char32_t c) {
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  bool valid = true;
  while (p < end && valid) {
    // Calendar notes and the like are mostly ASCII: pass eight such bytes at a time.
    std::uint64_t word;
    if (end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080u) == 0)) {
      p += 8;
      continue;
    }
    p += scan_sequence(p, end, valid);
  }
  return valid;
}

std::string to_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    bool valid;
    const std::size_t length = scan_sequence(p, end, valid);
    if (valid)
      text.append(reinterpret_cast<const char*>(p), length);
    else
      text += "\xEF\xBF\xBD";
    p += length;
  }
  return text;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t length;
    if (!is_unicode_whitespace(decode_utf8_at(text, begin, length))) break;
    begin += length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && is_continuation(static_cast<unsigned char>(text[start]))) --start;
    std::size_t length;
    if (!is_unicode_whitespace(decode_utf8_at(text, start, length))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool is_blank(std::string_view text) { return trim_unicode_whitespace(text).empty(); }

}  // namespace ombri
