#pragma once
// Responses and the outcome of one request: what the command layer hands the
// request loop to write.

#include <string>
#include <vector>

#include "protocol/json.hpp"

namespace ombri {

// {"id", "ok": true, "result"}.
Json response_ok(const std::string& id, Json result);
// {"error": {"code", "message"}, "id", "ok": false}.
Json response_error(const std::string& id, const std::string& code, const std::string& message);
// The failure envelope without "id", for lines that carry no usable id.
Json response_error_without_id(const std::string& code, const std::string& message);

struct CommandOutcome {
  // Written in order after the response.
  std::vector<Json> events;
  // Null: the answer comes later through the event channel.
  Json response;
};

}  // namespace ombri
