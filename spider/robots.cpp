#include "spider/robots.h"

#include <algorithm>
#include <memory>
#include <new>

#include "base/ascii.h"
#include "base/parse_engine.h"
#include "base/progress.h"
#include "http/parse_url.h"
#include "spider/cls_spider.h"

namespace quillon {

namespace {

void LowerAsciiInPlace(StringBuffer& text) {
  std::string_view view = text.view();
  char* bytes = const_cast<char*>(view.data());
  for (size_t i = 0; i < view.size(); ++i) bytes[i] = LowerAscii(bytes[i]);
}

// The text after the line's first ":", trimmed.
std::string_view ValueAfterColon(std::string_view line) {
  size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : Trimmed(line.substr(colon + 1));
}

}  // namespace

bool RobotsRules::parse(std::string_view text, std::string_view userAgent,
                        std::string_view robotsAgent) {
  clear();
  text = Trimmed(text);
  std::string_view agent = "*";
  bool complete = true;
  while (!text.empty()) {
    size_t lineFeed = text.find('\n');
    std::string_view line = text.substr(0, lineFeed);
    text = lineFeed == std::string_view::npos ? std::string_view() : text.substr(lineFeed + 1);

    line = Trimmed(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    if (ContainsNoCase(line, "user-agent:")) {
      agent = ValueAfterColon(line);
      continue;
    }
    // Each User-agent line replaces the agent; an empty user agent of ours matches nothing.
    bool applies = agent == "*" || (!userAgent.empty() && EqualsNoCase(agent, userAgent)) ||
                   (!robotsAgent.empty() && EqualsNoCase(agent, robotsAgent));
    if (applies && ContainsNoCase(line, "crawl-delay:")) {
      NoteCrawlDelay(ValueAfterColon(line));
      continue;
    }
    if (!applies || !ContainsNoCase(line, "disallow:")) continue;
    std::string_view rule = ValueAfterColon(line);
    if (rule.empty()) continue;
    std::unique_ptr<StringBuffer> stored(new (std::nothrow) StringBuffer());
    if (!stored || !stored->assign(rule)) {
      complete = false;
      continue;
    }
    LowerAsciiInPlace(*stored);
    stored->shrink();
    if (!rules_.append(stored.get())) {
      complete = false;
      continue;
    }
    stored.release();
  }
  return complete;
}

void RobotsRules::NoteCrawlDelay(std::string_view seconds) {
  // Whole seconds and a fraction of up to three digits ("2", "0.5"); anything else is ignored.
  uint64_t ms = 0;
  size_t at = 0;
  for (; at < seconds.size() && seconds[at] >= '0' && seconds[at] <= '9'; ++at) {
    ms = std::min<uint64_t>(ms * 10 + static_cast<uint64_t>(seconds[at] - '0'), kMaxCrawlDelayMs);
  }
  if (at == 0) return;
  ms *= 1000;
  if (at < seconds.size() && seconds[at] == '.') {
    uint64_t scale = 100;
    for (++at; at < seconds.size() && seconds[at] >= '0' && seconds[at] <= '9'; ++at) {
      ms += static_cast<uint64_t>(seconds[at] - '0') * scale;
      scale /= 10;
    }
  }
  if (at != seconds.size()) return;
  const uint32_t bounded = static_cast<uint32_t>(std::min<uint64_t>(ms, kMaxCrawlDelayMs));
  crawlDelayMs_ = std::max(crawlDelayMs_, bounded);
}

bool RobotsRules::disallows(std::string_view lowerPath) const {
  for (int i = 0; i < rules_.count(); ++i) {
    if (lowerPath.starts_with(rules_.at<StringBuffer>(i)->view())) return true;
  }
  return false;
}

bool RobotsPathOf(const char* url, StringBuffer& path) {
  path.clear();
  ParsedUrl parsed;
  ParseUrl(url, parsed);
  // A URL without a path is requested as "/", so that is the path the rules see.
  if (!path.assign(parsed.path.isEmpty() ? std::string_view("/") : parsed.path.view())) {
    return false;
  }
  LowerAsciiInPlace(path);
  return true;
}

// ---- The engine's side: fetching the file once per site and asking the rules.

bool ClsSpider::RobotsUrl(StringBuffer& url) const {
  url.clear();
  if (!startUrl_.isEmpty()) {
    // The start address's scheme, host and port: "scheme://authority" up to the next "/".
    std::string_view start = startUrl_.view();
    size_t slashes = start.find("//");
    if (slashes != std::string_view::npos) {
      size_t end = start.find_first_of("/?#\\", slashes + 2);
      std::string_view origin = start.substr(0, end);
      // Any user information before "@" stays out of the robots address.
      size_t at = origin.rfind('@');
      bool ok = true;
      if (at != std::string_view::npos && at > slashes) {
        ok = url.append(origin.substr(0, slashes + 2)) && url.append(origin.substr(at + 1));
      } else {
        ok = url.append(origin);
      }
      return ok && url.append("/robots.txt");
    }
  }
  return url.append("http://") && url.append(domain_) && url.append("/robots.txt");
}

bool ClsSpider::FetchRobots(StringBuffer& out, ProgressEvent* progress) {
  out.clear();
  if (robotsFetched_) {
    log_.addInfo("Returning cached-in-memory robots.txt");
    out.assign(robotsText_);
    return !out.isEmpty();
  }
  // Set before the fetch, so a failed fetch is not repeated for this site.
  robotsFetched_ = true;
  robotsText_.clear();
  robotsRulesValid_ = false;

  StringBuffer url;
  if (!RobotsUrl(url)) {
    log_.addError("Out of memory");
    return false;
  }
  CacheControl& cache = http_.settings().cacheRules;
  bool readFromCache = cache.readFromCache;
  bool writeToCache = cache.writeToCache;
  cache.readFromCache = false;
  cache.writeToCache = false;
  log_.addTag("robotsUrl", url.getString());
  StringBuffer body;
  bool fetched = http_.QuickGetStr(url.getString(), body, progress);
  GatherWarnings(url.getString(), http_.result());
  cache.readFromCache = readFromCache;
  cache.writeToCache = writeToCache;

  if (!fetched) {
    log_.addInfo("No robots.txt found");
    return false;
  }
  robotsText_.assign(body);
  out.assign(body);
  log_.addInfo("Fetched robots.txt");
  return true;
}

void ClsSpider::EnsureRobotsRules() {
  if (robotsRulesValid_) return;
  robotsRules_.parse(robotsText_.view(), http_.settings().userAgent.view(), robotsAgent_.view());
  robotsRulesValid_ = true;
}

uint32_t ClsSpider::crawlDelayMs() {
  if (!obeyRobots_ || !robotsFetched_) return 0;
  EnsureRobotsRules();
  return robotsRules_.crawlDelayMs();
}

bool ClsSpider::IsDisallowed(const char* link, ProgressEvent* progress) {
  if (!robotsFetched_) {
    StringBuffer ignored;
    FetchRobots(ignored, progress);
  }
  EnsureRobotsRules();
  if (robotsRules_.count() == 0) return false;
  StringBuffer path;
  if (!RobotsPathOf(link, path)) return false;
  return robotsRules_.disallows(path.view());
}

}  // namespace quillon
