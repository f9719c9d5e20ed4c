#include "calendar/join_url.hpp"

#include <gtest/gtest.h>

#include "calendar/meeting_domains.hpp"

namespace ombri {
namespace {

using Texts = std::initializer_list<std::optional<std::string_view>>;

TEST(FindJoinUrl, LinkRules) {
  struct Case {
    const char* what;
    Texts texts;
    std::optional<std::string> link;
  };
  const Case cases[] = {
      {"the first text wins",
       {"https://zoom.us/j/1", "https://meet.google.com/abc", "https://teams.microsoft.com/l/x"},
       "https://zoom.us/j/1"},
      {"absent texts are skipped",
       {std::nullopt, std::nullopt, "Join https://meet.google.com/abc-defg-hij now"},
       "https://meet.google.com/abc-defg-hij"},
      {"a text without a listed link passes to the next",
       {"https://example.com/agenda", "Room 4", "https://acme.webex.com/meet/ada"},
       "https://acme.webex.com/meet/ada"},
      {"nothing anywhere", {"https://example.com/a", std::nullopt, "no link"}, std::nullopt},
      {"no texts", {}, std::nullopt},
      {"capital scheme", {"HTTPS://zoom.us/j/1 Https://zoom.us/j/2"}, std::nullopt},
      {"plain http", {"http://zoom.us/j/1"}, std::nullopt},
      {"domain in other letter case", {"https://Zoom.us/j/1 https://MEET.GOOGLE.COM/x"}, std::nullopt},
      {"a later candidate of the same text",
       {"see https://example.com/a and https://teams.live.com/meet/9"},
       "https://teams.live.com/meet/9"},
      {"a second link in the query is taken whole",
       {"https://example.com/r?to=https://zoom.us/j/9&x=1 more"},
       "https://example.com/r?to=https://zoom.us/j/9&x=1"},
      {"prefixes back to back", {"https://https://zoom.us/j/3"}, "https://https://zoom.us/j/3"},
      {"listed domain only in the path", {"https://example.com/zoom.us/x"}, "https://example.com/zoom.us/x"},
      {"parentheses and comma", {"Call (https://zoom.us/j/1), then lunch"}, "https://zoom.us/j/1"},
      {"any mix of ) , ]", {"[https://zoom.us/j/1)],),]"}, "https://zoom.us/j/1"},
      {"a trailing full stop stays", {"Join https://zoom.us/j/1."}, "https://zoom.us/j/1."},
      {"inner ) stays", {"https://zoom.us/j/(1)x"}, "https://zoom.us/j/(1)x"},
      {"quoted HTML attribute", {R"(<a href="https://zoom.us/j/1?pwd=x">Join</a>)"}, "https://zoom.us/j/1?pwd=x"},
      {"angle brackets", {"<https://meet.google.com/abc>"}, "https://meet.google.com/abc"},
      {"ends at a less-than sign", {"https://meet.google.com/abc<br>"}, "https://meet.google.com/abc"},
      {"a rejected candidate ends at its quote",
       {R"(https://example.com/"https://zoom.us/j/4")"},
       "https://zoom.us/j/4"},
      {"the domain after white space is not part of the link", {"https://example.com/ zoom.us"}, std::nullopt},
      {"no-break space ends it", {"https://zoom.us/j/1\u00a0(Zoom)"}, "https://zoom.us/j/1"},
      {"ideographic space ends it", {"https://zoom.us/j/1\u3000"}, "https://zoom.us/j/1"},
      {"line separator ends it", {"https://zoom.us/j/1\u2028next"}, "https://zoom.us/j/1"},
      {"tab and newline end it", {"https://zoom.us/j/1\tx", "-"}, "https://zoom.us/j/1"},
      {"a zero-width space does not", {"https://zoom.us/j/1\u200bx"}, "https://zoom.us/j/1\u200bx"},
      {"the domain beyond a non-ASCII end", {"https://example.com/\u2003zoom.us"}, std::nullopt},
      {"non-ASCII inside the link", {"https://zoom.us/j/caf\u00e9)"}, "https://zoom.us/j/caf\u00e9"},
      {"at the very end", {"x https://zoom.us"}, "https://zoom.us"},
  };
  for (const Case& c : cases) EXPECT_EQ(find_join_url(c.texts), c.link) << c.what;
}

TEST(FindJoinUrl, EveryListedServiceCounts) {
  EXPECT_EQ(kMeetingServiceDomains.size(), 6u);
  for (std::string_view domain : kMeetingServiceDomains) {
    const std::string link = "https://acme." + std::string(domain) + "/j/42";
    EXPECT_EQ(find_join_url({"Join: " + link + ", thanks"}), link);
  }
}

}  // namespace
}  // namespace ombri
