// The crawl engine's links from scripts: pages rendered by the browser give the links their
// scripts build, which then go through the same filters as the page's own; without a browser
// the crawl says once when a page seems to need one.
#include <string>

#include "base/ascii.h"
#include "base/parse_engine.h"
#include "http/parse_url.h"
#include "http/url_combiner.h"
#include "spider/cls_spider.h"

namespace quillon {

namespace {

// A 2xx answer with an HTML type: the pages a browser can render.
bool IsHtmlAnswer(const PageFacts& facts) {
  if (facts.statusCode < 200 || facts.statusCode > 299) return false;
  std::string_view type = facts.contentType.view();
  while (!type.empty() && IsBlankOrLineEnd(type.front())) type.remove_prefix(1);
  return StartsWithNoCase(type, "text/html") || StartsWithNoCase(type, "application/xhtml+xml");
}

// "http://host:port" of a URL in normal form.
std::string_view SiteOfPage(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return url;
  const size_t end = url.find_first_of("/?#", scheme + 3);
  return url.substr(0, end == std::string_view::npos ? url.size() : end);
}

std::string Seconds(uint32_t ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) text += "." + std::to_string(ms % 1000 / 100);
  return text + " s";
}

}  // namespace

class ClsSpider::BrowserRequests : public RenderRequestFilter {
 public:
  explicit BrowserRequests(ClsSpider& spider) : spider_(spider) {}
  bool MayFetch(std::string_view url) override { return spider_.BrowserMayFetch(url); }

 private:
  ClsSpider& spider_;
};

bool ClsSpider::BrowserMayFetch(std::string_view url) {
  StringBuffer address;
  if (!IsHttpAddress(url) || !address.assign(url) || !NormalizeUrl(address)) return false;
  if (IsOutbound(address.getString()) || MatchesAny(avoidPatterns_, address.view())) return false;
  return !(obeyRobots_ && IsDisallowed(address.getString(), nullptr));
}

void ClsSpider::ConsiderScriptLinks(const char* pageUrl, std::string_view body, PageRole role,
                                    int ownLinks, ProgressEvent* progress) {
  if (!IsHtmlAnswer(pageFacts_)) return;
  if (!renderer_) {
    if (scriptHintGiven_ || ownLinks > 0 || !ContainsNoCase(body, "<script")) return;
    scriptHintGiven_ = true;
    AddWarning(pageUrl, FetchWarningKind::kScriptBuiltLinks, {}, {});
    return;
  }
  BrowserRequests requests(*this);
  StringBuffer detail;
  const RenderOutcome outcome =
      renderer_->Render(pageUrl, body, domain_.view(), requests, progress, renderedText_, detail);
  const bool nofollow = respectNofollow_ && pageFacts_.robots.nofollow;
  if (outcome == RenderOutcome::kNavigated && !nofollow) {
    // Where a script sends the page is a link of the page like any other.
    StringBuffer target(detail.view());
    const bool queueOpen = !(maxUrls_ != 0 && spidered_.count() > maxUrls_);
    const bool pagePasses = role == PageRole::kStart || PassesMustMatch(pageUrl);
    ConsiderLink(target, pageUrl, pagePasses, queueOpen, progress);
  }
  if (outcome != RenderOutcome::kRendered) {
    renderedText_.clear();
    WarnNotRendered(pageUrl, outcome, detail);
    return;
  }
  pageFacts_.rendered = true;
  ++renderedCount_;
  if (!nofollow) ProcessLinks(pageUrl, renderedText_.view(), role, progress);
}

void ClsSpider::WarnNotRendered(const char* pageUrl, RenderOutcome outcome,
                                const StringBuffer& detail) {
  const std::string kept = "; its raw links were kept";
  std::string text = "not rendered: ";
  switch (outcome) {
    case RenderOutcome::kRendered:
    case RenderOutcome::kStopped:
      return;
    case RenderOutcome::kNoBrowser:
      // Once for the crawl: every later page would say the same.
      AddWarning(SiteOfPage(pageUrl), FetchWarningKind::kNotRendered, {},
                 "Chromium could not be started (" + std::string(detail.view()) +
                     "); no page is rendered");
      return;
    case RenderOutcome::kUnsettled:
      text += "still loading or running a script after " + Seconds(renderer_->pageBoundMs()) + kept;
      break;
    case RenderOutcome::kNavigated:
      text += "a script sends it to " + std::string(detail.view()) + kept;
      break;
    case RenderOutcome::kTooLarge:
      text += "the rendered page is larger than " +
              std::to_string(renderer_->settings().maxDocumentBytes) + " bytes" + kept;
      break;
    case RenderOutcome::kFailed:
      text += std::string(detail.isEmpty() ? "the browser failed" : detail.view()) + kept;
      break;
  }
  AddWarning(pageUrl, FetchWarningKind::kNotRendered, {}, text);
}

}  // namespace quillon
