#include "protocol/request_args.hpp"

#include "base/utf8.hpp"

namespace ombri {

const Json& request_args(const Json& request) {
  static const Json kNoArguments = Json::object();
  if (!request.is_object()) return kNoArguments;
  const auto args = request.find("args");
  return args != request.end() && args->is_object() ? *args : kNoArguments;
}

std::optional<std::string> usable_text(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  const auto member = object.find(key);
  if (member == object.end() || !member->is_string()) return std::nullopt;
  const auto& text = member->get_ref<const std::string&>();
  if (is_blank(text)) return std::nullopt;
  return text;
}

std::optional<bool> boolean_member(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  const auto member = object.find(key);
  if (member == object.end() || !member->is_boolean()) return std::nullopt;
  return member->get<bool>();
}

std::optional<std::string> any_string_arg(const Json& request, std::string_view key) {
  const Json& args = request_args(request);
  const auto member = args.find(key);
  if (member == args.end() || !member->is_string()) return std::nullopt;
  return member->get<std::string>();
}

}  // namespace ombri
