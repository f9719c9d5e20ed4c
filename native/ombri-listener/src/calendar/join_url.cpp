#include "calendar/join_url.hpp"

#include "base/utf8.hpp"
#include "calendar/meeting_domains.hpp"

namespace ombri {
namespace {

constexpr std::string_view kPrefix = "https://";

// The end of a link whose text goes on at `from`.
std::size_t link_end(std::string_view text, std::size_t from) {
  std::size_t i = from;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '<' || byte == '>') break;
    std::size_t length = 1;
    const char32_t point = byte < 0x80 ? byte : decode_utf8_at(text, i, length);
    if (is_unicode_whitespace(point)) break;
    i += length;
  }
  return i;
}

bool names_meeting_service(std::string_view link) {
  for (std::string_view domain : kMeetingServiceDomains)
    if (link.find(domain) != std::string_view::npos) return true;
  return false;
}

std::string_view without_trailing_punctuation(std::string_view link) {
  while (!link.empty() && (link.back() == ')' || link.back() == ',' || link.back() == ']')) link.remove_suffix(1);
  return link;
}

}  // namespace

std::optional<std::string> find_join_url(std::initializer_list<std::optional<std::string_view>> texts) {
  for (const auto& text : texts) {
    if (!text) continue;
    std::size_t at = text->find(kPrefix);
    while (at != std::string_view::npos) {
      const std::size_t end = link_end(*text, at + kPrefix.size());
      const std::string_view link = text->substr(at, end - at);
      if (names_meeting_service(link)) return std::string(without_trailing_punctuation(link));
      // A later "https://" before `end` starts a tail of this link, which
      // names no service either; going on from `end` keeps the scan linear
      // where trying each of them would make it quadratic.
      at = text->find(kPrefix, end);
    }
  }
  return std::nullopt;
}

}  // namespace ombri
