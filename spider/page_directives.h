// What a page says about how search engines may treat it: the robots directives of its robots
// meta element and of X-Robots-Tag header lines (noindex, nofollow, none), and the canonical
// address a <link rel="canonical"> element names. Forgiving readers over raw page text, like
// the other tag readers; they never fail on bad input.
#pragma once

#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

struct RobotsDirectives {
  bool noindex = false;
  bool nofollow = false;
};

// Adds the directives of one robots value ("noindex, nofollow", "none", "googlebot: noindex")
// to directives. Words are separated by commas, spaces and colons and compared without regard
// to case, so an agent-specific value counts as well.
void ReadRobotsDirectives(std::string_view value, RobotsDirectives& directives);

// The href of the page's first <link> element whose rel holds the word "canonical", trimmed,
// with character references decoded; empty when there is none. False only when memory runs out.
bool ReadCanonicalHref(std::string_view page, StringBuffer& href);

// True when a rel value holds word as one of its space-separated words (ASCII case-insensitive).
bool RelHolds(std::string_view rel, std::string_view word);

}  // namespace quillon
