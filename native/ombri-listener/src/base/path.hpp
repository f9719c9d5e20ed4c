#pragma once
// Paths as the listener reports them: plain text, joined the way the parent
// expects to read them back.

#include <string>
#include <string_view>

namespace ombri {

// `dir` and `name` with one "/" between them, unless `dir` already ends with one.
std::string join_path(std::string_view dir, std::string_view name);

}  // namespace ombri
