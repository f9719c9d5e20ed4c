#pragma once
// Base64 text of bytes: the standard alphabet of RFC 4648 with "=" padding.

#include <cstddef>
#include <span>
#include <string>

namespace ombri {

// Appends the encoding of `bytes` to `out` (4 characters per started 3 bytes).
void append_base64(std::string& out, std::span<const unsigned char> bytes);

}  // namespace ombri
