#pragma once
// JSON values of the protocol: nlohmann/json holds and parses them; the text
// form is our own, because its number and escaping rules are fixed.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace ombri {

// Objects keep their keys in ascending byte order; a repeated key keeps its last value.
using Json = nlohmann::json;

// One strict RFC 8259 value with nothing but JSON white space around it and at
// most 127 levels of arrays and objects; nothing when the text is not that.
std::optional<Json> parse_json(std::string_view text);

// The compact text of a value: sorted keys, no white space, shortest
// round-trip doubles, non-finite numbers as null.
void append_json(std::string& out, const Json& value);
std::string to_json_text(const Json& value);

// The JSON form of an optional text: the string, or null.
Json optional_text(const std::optional<std::string>& text);

}  // namespace ombri
