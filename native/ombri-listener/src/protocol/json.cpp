#include "protocol/json.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ombri {
namespace {

constexpr int kMaxNesting = 127;

// The library's own tree builder, refusing the 128th level of arrays and
// objects as it opens: a deep line is rejected before it costs memory.
class NestingLimitedBuilder {
 public:
  explicit NestingLimitedBuilder(Json& root) : tree_(root, /*allow_exceptions=*/false) {}

  bool null() { return tree_.null(); }
  bool boolean(bool value) { return tree_.boolean(value); }
  bool number_integer(Json::number_integer_t value) { return tree_.number_integer(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return tree_.number_unsigned(value); }
  bool number_float(Json::number_float_t value, const Json::string_t& text) { return tree_.number_float(value, text); }
  bool string(Json::string_t& value) { return tree_.string(value); }
  bool binary(Json::binary_t& value) { return tree_.binary(value); }
  bool key(Json::string_t& value) { return tree_.key(value); }
  bool start_object(std::size_t size) { return ++depth_ <= kMaxNesting && tree_.start_object(size); }
  bool start_array(std::size_t size) { return ++depth_ <= kMaxNesting && tree_.start_array(size); }
  bool end_object() {
    --depth_;
    return tree_.end_object();
  }
  bool end_array() {
    --depth_;
    return tree_.end_array();
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception&) {
    return false;
  }

 private:
  nlohmann::detail::json_sax_dom_parser<Json> tree_;
  int depth_ = 0;
};

bool needs_escape(unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; }

void append_escape(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (byte) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\f':
      out += "\\f";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      out += "\\u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
  }
}

// Runs of bytes that need no escape are copied whole: answers carry
// megabytes of text (a long calendar), mostly plain.
void append_string(std::string& out, const std::string& text) {
  out.push_back('"');
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!needs_escape(byte)) continue;
    out.append(text, run, i - run);
    append_escape(out, byte);
    run = i + 1;
  }
  out.append(text, run, std::string::npos);
  out.push_back('"');
}

// Shortest round-trip digits, then fixed notation for decimal exponents
// -5..15 and exponent notation outside.
void append_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));

  const bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  const std::size_t e_at = text.find('e');
  std::string digits;
  for (const char c : text.substr(0, e_at))
    if (c != '.') digits.push_back(c);
  const int exponent = std::atoi(std::string(text.substr(e_at + 1)).c_str());

  if (negative) out.push_back('-');
  if (exponent >= -5 && exponent <= 15) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    } else {
      const auto whole = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= whole) {
        out += digits;
        out.append(whole - digits.size(), '0');
        out += ".0";
      } else {
        out.append(digits, 0, whole);
        out.push_back('.');
        out.append(digits, whole);
      }
    }
  } else {
    out.push_back(digits.front());
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    out.push_back('e');
    out.push_back(exponent < 0 ? '-' : '+');
    out += std::to_string(std::abs(exponent));
  }
}

}  // namespace

std::optional<Json> parse_json(std::string_view text) {
  // The library skips a leading byte order mark and stops at a NUL byte as if
  // the text ended there; neither is JSON, so both are refused up front.
  if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos) return std::nullopt;
  Json value;
  NestingLimitedBuilder builder(value);
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return value;
}

void append_json(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      out += "null";
      break;
    case Json::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      break;
    case Json::value_t::number_unsigned:
      out += std::to_string(value.get<std::uint64_t>());
      break;
    case Json::value_t::number_integer:
      out += std::to_string(value.get<std::int64_t>());
      break;
    case Json::value_t::number_float:
      append_double(out, value.get<double>());
      break;
    case Json::value_t::string:
      append_string(out, value.get_ref<const std::string&>());
      break;
    case Json::value_t::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& element : value) {
        if (!first) out.push_back(',');
        first = false;
        append_json(out, element);
      }
      out.push_back(']');
      break;
    }
    case Json::value_t::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out.push_back(',');
        first = false;
        append_string(out, key);
        out.push_back(':');
        append_json(out, member);
      }
      out.push_back('}');
      break;
    }
    case Json::value_t::binary:
      out += "null";
      break;
  }
}

std::string to_json_text(const Json& value) {
  std::string out;
  append_json(out, value);
  return out;
}

Json optional_text(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

}  // namespace ombri
