// The robots exclusion rules as the spider reads them: line by line, prefix rules only,
// compared lower-cased; Allow lines, wildcards, end anchors and Crawl-delay are ignored, and the
// last User-agent line before a Disallow line decides whether it applies. Fetching the file is
// ClsSpider's (FetchRobots); this unit only reads its text.
#pragma once

#include <string_view>

#include "base/ext_ptr_array.h"
#include "base/string_buffer.h"

namespace quillon {

class RobotsRules {
 public:
  RobotsRules() = default;
  RobotsRules(const RobotsRules&) = delete;
  RobotsRules& operator=(const RobotsRules&) = delete;

  // Replaces the rules with the Disallow values of text that apply to agent "*", to userAgent
  // or to robotsAgent (ASCII case-insensitive; an empty name matches nothing), lower-cased,
  // empty ones left out. False when memory runs out (the rules are then incomplete).
  bool parse(std::string_view text, std::string_view userAgent,
             std::string_view robotsAgent = {});
  // True when the lower-cased path begins with one of the rules.
  bool disallows(std::string_view lowerPath) const;
  int count() const { return rules_.count(); }
  void clear() { rules_.removeAllAndDelete(); }

 private:
  OwningPtrArray rules_;
};

// The path of an absolute URL as the rules compare it: from the first "/" after the host up to
// any "?" or "#", lower-cased; "/" when the URL has no path. False when memory runs out.
bool RobotsPathOf(const char* url, StringBuffer& path);

}  // namespace quillon
