// The robots exclusion rules as the spider reads them: line by line, prefix rules only,
// compared lower-cased; Allow lines, wildcards and end anchors are ignored, and the last
// User-agent line before a Disallow or Crawl-delay line decides whether it applies. Fetching the file is
// ClsSpider's (FetchRobots); this unit only reads its text.
#pragma once

#include <cstdint>
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
  void clear() {
    rules_.removeAllAndDelete();
    crawlDelayMs_ = 0;
  }
  // The largest Crawl-delay (seconds, fractions allowed) of the lines that apply, in
  // milliseconds, at most kMaxCrawlDelayMs; 0 when none.
  uint32_t crawlDelayMs() const { return crawlDelayMs_; }

  // A site cannot make a crawl wait longer than this between pages.
  static constexpr uint32_t kMaxCrawlDelayMs = 60000;

 private:
  OwningPtrArray rules_;
  uint32_t crawlDelayMs_ = 0;
  void NoteCrawlDelay(std::string_view seconds);
};

// The path of an absolute URL as the rules compare it: from the first "/" after the host up to
// any "?" or "#", lower-cased; "/" when the URL has no path. False when memory runs out.
bool RobotsPathOf(const char* url, StringBuffer& path);

}  // namespace quillon
