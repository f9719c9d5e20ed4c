#pragma once
// Reading a request's fields. Two rules stand side by side on purpose: most
// texts count only when usable (not blank; used untrimmed), while the
// processing commands take any string, blank or empty, and leave judging it
// to the work itself.

#include <optional>
#include <string>
#include <string_view>

#include "protocol/json.hpp"

namespace ombri {

// The request's "args" when it is an object; an empty object otherwise.
const Json& request_args(const Json& request);

// A string member that is not empty after trimming Unicode white space,
// returned untrimmed. Anything else (absent, not a string, blank) is nothing.
std::optional<std::string> usable_text(const Json& object, std::string_view key);

// A boolean member; anything else, a string such as "false" included, is nothing.
std::optional<bool> boolean_member(const Json& object, std::string_view key);

// A string member of "args", untrimmed, the empty string included.
std::optional<std::string> any_string_arg(const Json& request, std::string_view key);

}  // namespace ombri
