#pragma once
// Paths as text: joined the way the parent expects to read them back, and
// refused where the system would read them as another path.

#include <string>
#include <string_view>

#include "base/result.hpp"

namespace ombri {

// `dir` and `name` with one "/" between them, unless `dir` already ends with one.
std::string join_path(std::string_view dir, std::string_view name);

// The system reads a path only up to its first NUL character, so a text
// holding one names another file than the one asked for. Whatever hands a
// request's path to the system refuses such a path first, with this text in
// the place of the system's own error.
inline constexpr char kPathHoldsNul[] = "Path contains a NUL character";
Result<void> check_path_text(std::string_view path);

}  // namespace ombri
