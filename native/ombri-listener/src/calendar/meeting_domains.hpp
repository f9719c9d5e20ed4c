#pragma once
// The video-meeting services whose links count as a meeting's join link.
// Matched as case-sensitive substrings anywhere in a link, so subdomains
// (us02web.zoom.us, acme.webex.com) match too.

#include <array>
#include <string_view>

namespace ombri {

inline constexpr std::array<std::string_view, 6> kMeetingServiceDomains = {
    "zoom.us", "meet.google.com", "teams.microsoft.com", "teams.live.com", "webex.com", "gotomeeting.com",
};

}  // namespace ombri
