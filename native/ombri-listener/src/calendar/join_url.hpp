#pragma once
// Finding a meeting's join link in the texts of an event.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace ombri {

// The first "https://" link, searching the texts in order (absent ones
// skipped), that names a meeting service of kMeetingServiceDomains. A link
// ends before Unicode white space, '"', '<' or '>'; trailing ')', ',' and ']'
// are not part of it. Nothing when no text holds such a link.
// Texts must be valid UTF-8. Time is linear in their length.
std::optional<std::string> find_join_url(std::initializer_list<std::optional<std::string_view>> texts);

}  // namespace ombri
