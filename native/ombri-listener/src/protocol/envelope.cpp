#include "protocol/envelope.hpp"

namespace ombri {

Json response_ok(const std::string& id, Json result) {
  return Json{{"id", id}, {"ok", true}, {"result", std::move(result)}};
}

Json response_error(const std::string& id, const std::string& code, const std::string& message) {
  Json response = response_error_without_id(code, message);
  response["id"] = id;
  return response;
}

Json response_error_without_id(const std::string& code, const std::string& message) {
  return Json{{"error", {{"code", code}, {"message", message}}}, {"ok", false}};
}

}  // namespace ombri
