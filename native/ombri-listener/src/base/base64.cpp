#include "base/base64.hpp"

namespace ombri {

void append_base64(std::string& out, std::span<const unsigned char> bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned group = (unsigned{bytes[i]} << 16) | (unsigned{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kAlphabet[group >> 18]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(kAlphabet[(group >> 6) & 0x3F]);
    out.push_back(kAlphabet[group & 0x3F]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 0) return;
  const unsigned group = (unsigned{bytes[i]} << 16) | (rest == 2 ? unsigned{bytes[i + 1]} << 8 : 0u);
  out.push_back(kAlphabet[group >> 18]);
  out.push_back(kAlphabet[(group >> 12) & 0x3F]);
  out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
  out.push_back('=');
}

}  // namespace ombri
