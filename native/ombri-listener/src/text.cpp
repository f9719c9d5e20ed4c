#include "text.hpp"

#include <cstring>

namespace ombri {
namespace {

// Decodes the code point at text[i] (valid UTF-8 assumed) and its length.
char32_t decode_at(std::string_view text, std::size_t i, std::size_t& length) {
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

// Code points with the Unicode White_Space property.
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

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at the start of [p, end), or 0.
std::size_t valid_sequence_length(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  if (lead < 0x80) return 1;
  std::size_t length;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length) return 0;
  char32_t point = lead & (0x3F >> (length - 1));
  for (std::size_t k = 1; k < length; ++k) {
    if (!is_continuation(p[k])) return 0;
    point = (point << 6) | (p[k] & 0x3F);
  }
  if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const std::size_t length = valid_sequence_length(p, end);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const std::size_t length = valid_sequence_length(p, end);
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      ++p;
    } else {
      text.append(reinterpret_cast<const char*>(p), length);
      p += length;
    }
  }
  return text;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t length;
    if (!is_unicode_whitespace(decode_at(text, begin, length))) break;
    begin += length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && is_continuation(static_cast<unsigned char>(text[start]))) --start;
    std::size_t length;
    if (!is_unicode_whitespace(decode_at(text, start, length))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool is_blank(std::string_view text) { return trim_unicode_whitespace(text).empty(); }

std::optional<std::string> usable_text(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  const auto member = object.find(key);
  if (member == object.end() || !member->is_string()) return std::nullopt;
  const auto& text = member->get_ref<const std::string&>();
  if (is_blank(text)) return std::nullopt;
  return text;
}

std::string os_error_text(int error_number) {
  return std::string(std::strerror(error_number)) + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace ombri
