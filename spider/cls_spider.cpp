#include "spider/cls_spider.h"

#include <algorithm>
#include <new>
#include <utility>

#include "base/ascii.h"
#include "base/html_help.h"
#include "base/log_base.h"
#include "base/parse_engine.h"
#include "base/platform.h"
#include "base/progress.h"
#include "http/parse_url.h"
#include "http/url_combiner.h"
#include "spider/fetch_ahead.h"

namespace quillon {

namespace {

bool BeginsWithHttp(const char* text) {
  return text != nullptr && FindNoCase(std::string_view(text).substr(0, 4), "http") != nullptr;
}

// The host of url as ParseUrl gives it, trimmed of white space.
bool HostOf(const char* url, StringBuffer& host) {
  ParsedUrl parsed;
  ParseUrl(url, parsed);
  parsed.host.trim();
  return host.assign(parsed.host);
}

// Whether text names a scheme other than http and https ("ftp://x", "file:///etc", "data:,x");
// a path without a scheme has none.
bool HasOtherScheme(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !IsAsciiLetter(text[0])) return false;
  for (char c : text.substr(0, colon)) {
    if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return !IsHttpAddress(text);
}

// True when the two hosts differ only by a leading "www." on one of them.
bool DifferByWww(std::string_view a, std::string_view b) {
  constexpr std::string_view kWww = "www.";
  if (a.size() < b.size()) std::swap(a, b);
  if (a.size() != b.size() + kWww.size() || FindNoCase(a.substr(0, kWww.size()), kWww) == nullptr) {
    return false;
  }
  // Equal lengths: on the site means equal without regard to case.
  return ClsSpider::IsHostOnSite(a.substr(kWww.size()), b);
}

// The first buckets of the table of further referrers; it grows with the URLs it holds.
constexpr uint32_t kReferrerBuckets = 1009;

// Up to four more pages leading to one URL, beside its first referrer.
struct ExtraReferrers : QuillonObject {
  const char* pages[ClsSpider::kMaxReferrers - 1] = {};
};

}  // namespace

ClsSpider::ClsSpider()
    : seen_(kSeenBuckets, HashMap::Growth::kDoubling, sizeof(LinkFacts)),
      moreReferrers_(kReferrerBuckets, HashMap::Growth::kDoubling) {
  HttpControl& settings = http_.settings();
  settings.setFirefoxTemplate(true);
  settings.connectTimeoutSec = kConnectTimeoutSec;
  settings.readTimeout = kReadTimeoutSec;
  settings.cacheRules.readFromCache = true;
  settings.cacheRules.writeToCache = true;
  settings.useHttpCache = false;
  settings.maxContentLength = kMaxContentLength;
  settings.maxUrlLen = kMaxUrlLen;
}

ClsSpider::~ClsSpider() = default;

void ClsSpider::setConnections(int connections) {
  connections_ = connections < 1 ? 1 : connections > kMaxConnections ? kMaxConnections
                                                                     : connections;
  fetchAhead_.reset();
}

void ClsSpider::BeginSite(const char* text) {
  if (!BeginsWithHttp(text)) {
    Reset(text);
    return;
  }
  StringBuffer host;
  HostOf(text, host);
  Reset(host.getString());
  QueueUrl(text);
}

void ClsSpider::Reset(const char* domain) {
  setDomain(domain == nullptr ? "" : domain);
  http_.settings().credentialScope.reachedOverHttps->store(false);
  http_.settings().addressCredentials.clear();
  // Fetches in hand belong to the old site.
  if (fetchAhead_) fetchAhead_->DropAll();
  outbound_.clear();
  spidered_.clear();
  unspidered_.clear();
  failed_.removeAllAndDelete();
  warnings_.removeAllAndDelete();
  robotsExcluded_ = 0;
  moreReferrers_.clear();
  linkingPage_ = nullptr;
  // After the lists, which point into it: back to an empty set of kSeenBuckets buckets.
  seen_.clear();
  robotsFetched_ = false;
  robotsText_.clear();
  robotsRules_.clear();
  robotsRulesValid_ = false;
  startUrl_.clear();
  startPending_ = false;
}

void ClsSpider::setDomain(std::string_view domain) {
  domain_.assign(domain);
  // The caller's login and client certificate serve the site's hosts only.
  http_.settings().credentialScope.domain.assign(domain);
}

bool ClsSpider::KeepAddressCredentials(const char* text) {
  ParsedUrl parsed;
  if (!ParseUrl(text, parsed)) return true;
  return http_.settings().addressCredentials.take(parsed.host, parsed.user, parsed.password);
}

bool ClsSpider::QueueUrl(const char* text) {
  if (text == nullptr) return false;
  // A login in the address serves its host; the queued URL (listed and logged) drops it.
  if (!KeepAddressCredentials(text)) return false;
  if (HasOtherScheme(text)) return false;
  StringBuffer url;
  if (!url.assign(text) || !NormalizeUrl(url)) return false;
  StringBuffer host;
  if (!HostOf(url.getString(), host)) return false;
  if (domain_.isEmpty()) setDomain(host.view());
  if (!host.isEmpty() && !IsHostOnSite(host.view(), domain_.view())) return false;
  // The queue's entry is the seen set's copy: queueing the URL also marks it seen.
  bool added = false;
  const char* stored = seen_.storeKey(url.view(), added);
  if (!unspidered_.append(stored)) return false;
  LinkFacts* facts = FactsOf(stored);
  facts->flags |= LinkFacts::kQueued;
  if (startUrl_.isEmpty() && startUrl_.assign(url)) {
    startPending_ = !startUrl_.isEmpty();
    facts->flags |= LinkFacts::kStart;
  }
  return true;
}

bool ClsSpider::CrawlNext(ProgressEvent* progress) {
  log_.reset();
  LogContextGuard context(log_, "CrawlNext");
  log_.addTag("DllDate", kDllDate);
  pageText_.clear();
  pageFacts_.clear();
  renderedText_.clear();
  if (obeyRobots_ && !robotsFetched_) {
    StringBuffer ignored;
    FetchRobots(ignored, progress);
  }
  currentUrl_.clear();
  pace_.setCrawlDelayMs(crawlDelayMs());

  while (!unspidered_.isEmpty()) {
    FetchAheadOfFront();
    const char* url = unspidered_.takeFront();
    currentUrl_.assign(url);
    lastModified_.clear();
    log_.addTag("url", url);
    StringBuffer ownBody;
    const Fetched page = FetchPage(url, progress, ownBody);
    const HttpResult& answer = page.client->result();
    GatherWarnings(url, answer);
    pace_.NoteAnswer(answer.busyAnswers);
    if (page.ok) {
      HandleFetchedPage(url, progress, page);
    } else {
      RecordFailedFetch(url, *page.client);
    }
    const bool stopped = !page.ok && answer.error.kind == FetchErrorKind::kStopped;
    // The worker's answer is not looked at again.
    if (fetchAhead_) fetchAhead_->Release();
    if (page.ok) return true;
    // A stop ends the crawl at once: the waiting URLs stay queued, never visited one by one.
    if (stopped) {
      if (fetchAhead_) fetchAhead_->DropAll();
      log_.addError("Crawl stopped by the application.");
      return false;
    }
  }
  log_.addError("No unspidered URLs remaining.");
  return false;
}

void ClsSpider::FetchAheadOfFront() {
  if (connections_ <= 1) return;
  if (!fetchAhead_) fetchAhead_ = std::make_unique<FetchAhead>(connections_, pace_);
  // Pages past the listing limit would be fetched for nothing.
  const int limit =
      maxPages_ > 0 ? std::clamp(maxPages_ - spidered_.count(), 1, connections_) : connections_;
  fetchAhead_->Schedule(unspidered_, limit, http_);
}

ClsSpider::Fetched ClsSpider::FetchPage(const char* url, ProgressEvent* progress,
                                        StringBuffer& ownBody) {
  Fetched answer;
  if (fetchAhead_ && fetchAhead_->Take(url, progress, answer)) return answer;
  const bool ok = http_.QuickGetStr(url, ownBody, progress);
  return {&http_, ok, &ownBody};
}

void ClsSpider::RecordFailedFetch(const char* url, ClsHttp& client) {
  StringBuffer httpLog;
  client.lastErrorText(httpLog);
  log_.addTag("http", httpLog.getString());
  std::unique_ptr<FailedFetch> failed(new (std::nothrow) FailedFetch);
  if (!failed || !failed->url.assign(url)) {
    log_.addError("Out of memory");
    return;
  }
  failed->kind = DescribeFetchFailure(client.result(), failed->reason);
  failed->error = client.result().error.kind;
  failed->statusCode = client.result().header.statusCode;
  if (!failed_.append(failed.get())) {
    log_.addError("Out of memory");
    return;
  }
  failed.release();
}

namespace {

// The site part of a URL in normal form: scheme, host and port.
std::string_view SiteOf(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return url;
  const size_t end = url.find_first_of("/?#", scheme + 3);
  return url.substr(0, end == std::string_view::npos ? url.size() : end);
}

}  // namespace

void ClsSpider::GatherWarnings(const char* url, const HttpResult& result) {
  const FetchWarnings& met = result.warnings;
  if (!met.any()) return;
  const std::string_view site = SiteOf(url);
  for (unsigned bit = 0; bit < 32; ++bit) {
    const auto kind = static_cast<FetchWarningKind>(bit);
    if (met.has(kind)) AddWarning(site, kind, met, {});
  }
}

void ClsSpider::AddWarning(std::string_view site, FetchWarningKind kind, const FetchWarnings& met,
                           std::string_view text) {
  for (int i = 0; i < warnings_.count(); ++i) {
    const CrawlWarning& seen = *warnings_.at<CrawlWarning>(i);
    if (seen.kind == kind && seen.site.view() == site) return;
  }
  std::unique_ptr<CrawlWarning> warning(new (std::nothrow) CrawlWarning);
  if (!warning || !warning->site.append(site)) return;
  warning->kind = kind;
  warning->certificate = met.certificate;
  if (text.empty()) {
    DescribeFetchWarning(kind, met, warning->text);
  } else if (!warning->text.assign(text)) {
    return;
  }
  if (!warnings_.append(warning.get())) return;
  warning.release();
}

const CrawlWarning* ClsSpider::warningAt(int i) const {
  return i >= 0 && i < warnings_.count() ? warnings_.at<CrawlWarning>(i) : nullptr;
}

const FailedFetch* ClsSpider::failedFetch(int i) const {
  return i >= 0 && i < failed_.count() ? failed_.at<FailedFetch>(i) : nullptr;
}

const char* ClsSpider::failedUrl(int i) const {
  const FailedFetch* failed = failedFetch(i);
  return failed ? failed->url.getString() : nullptr;
}

void ClsSpider::HandleFetchedPage(const char* url, ProgressEvent* progress, const Fetched& page) {
  bool isStart = startPending_ && startUrl_.view() == url;
  if (isStart) startPending_ = false;
  if (!spidered_.append(url)) log_.addError("Out of memory");
  LinkFacts* listed = FactsOf(url);
  listed->flags |= LinkFacts::kListed;
  // A page that answered needs only its first referrer.
  moreReferrers_.remove(url);
  page.client->ModifiedDateText(lastModified_);

  const HttpResult& result = page.client->result();
  const StringBuffer& body = *page.body;
  StringBuffer finalUrl;
  bool follow = true;
  if (result.redirected && !result.finalUrl.isEmpty() && finalUrl.assign(result.finalUrl) &&
      NormalizeUrl(finalUrl)) {
    if (IsOutbound(finalUrl.getString())) {
      StringBuffer finalHost;
      HostOf(finalUrl.getString(), finalHost);
      if (isStart && DifferByWww(finalHost.view(), domain_.view())) {
        // The start address moved to its own host with or without "www.": crawl that host.
        setDomain(finalHost.view());
      } else {
        follow = false;
      }
    }
    bool added = false;
    const char* target = seen_.storeKey(finalUrl.view(), added);
    if (target != nullptr) {
      LinkFacts* facts = FactsOf(target);
      facts->flags |= LinkFacts::kRedirectTarget;
      if (added) {
        facts->referrer = url;
        facts->depth = listed->depth;
      }
    }
    if (!follow && added) RecordOutbound(finalUrl.view());
  }
  // Relative links are relative to where the page really is.
  const char* base = finalUrl.isEmpty() ? currentUrl_.getString() : finalUrl.getString();
  StringBuffer where(base);
  RecordPageFacts(where, result, body.view());
  pageFacts_.offSiteRedirect = !follow;
  linkingPage_ = url;
  linkingDepth_ = listed->depth;
  if (follow) {
    const PageRole role = isStart ? PageRole::kStart : PageRole::kLinked;
    int ownLinks = 0;
    if (!(respectNofollow_ && pageFacts_.robots.nofollow)) {
      ownLinks = ProcessLinks(base, body.view(), role, progress);
    }
    if (followCanonical_ && !pageFacts_.canonical.isEmpty()) {
      StringBuffer canonical(pageFacts_.canonical.view());
      bool queueOpen = !(maxUrls_ != 0 && spidered_.count() > maxUrls_);
      ConsiderLink(canonical, base, PassesMustMatch(base), queueOpen, progress);
    }
    ConsiderScriptLinks(base, body.view(), role, ownLinks, progress);
  }
  linkingPage_ = nullptr;
  if (!pageText_.assign(body)) log_.addError("Out of memory");
}

void PageFacts::clear() {
  finalUrl.clear();
  offSiteRedirect = false;
  statusCode = 0;
  contentType.clear();
  robots = RobotsDirectives();
  canonical.clear();
  lastModified.clear();
  answerMs = 0;
  bodyBytes = 0;
  redirectStatus = 0;
  redirectHops = 0;
  rendered = false;
}

void ClsSpider::RecordPageFacts(const StringBuffer& finalUrl, const HttpResult& answer,
                                std::string_view body) {
  PageFacts& facts = pageFacts_;
  facts.clear();
  const HttpResponseHeader& header = answer.header;
  bool ok = facts.finalUrl.assign(finalUrl);
  facts.statusCode = header.statusCode;
  facts.answerMs = answer.answerMs;
  facts.bodyBytes = body.size();
  facts.redirectStatus = answer.redirectStatus;
  facts.redirectHops = answer.redirectHops;
  header.fields.getFieldValue("Content-Type", facts.contentType);
  header.fields.getFieldValue("Last-Modified", facts.lastModified);
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField* field = header.fields.fieldAt(i);
    if (EqualsNoCase(field->name.view(), "X-Robots-Tag")) {
      ReadRobotsDirectives(field->value.view(), facts.robots);
    }
  }
  StringBuffer text;
  ok = HtmlHelp::GetMetaContent(body, "robots", text) && ok;
  ReadRobotsDirectives(text.view(), facts.robots);
  ok = ReadCanonicalHref(body, text) && ok;
  // A canonical link counts only as an http or https address (a "file:" one from a local copy
  // of a site names no page of it).
  if (!text.isEmpty() && ResolveLink(text, finalUrl.getString()) && IsHttpAddress(text.view())) {
    size_t fragment = text.view().find('#');
    if (fragment != std::string_view::npos) {
      text.shorten(text.length() - static_cast<uint32_t>(fragment));
    }
    ok = facts.canonical.assign(text) && ok;
  }
  if (!ok) log_.addError("Out of memory");
}

bool ClsSpider::setRobotsAgent(const char* name) {
  robotsRulesValid_ = false;
  return robotsAgent_.assign(name == nullptr ? "" : name);
}

bool ClsSpider::AddPattern(OwningPtrArray& patterns, const char* pattern) {
  if (pattern == nullptr) return false;
  std::unique_ptr<StringBuffer> copy(new (std::nothrow) StringBuffer(pattern));
  if (!copy || !patterns.append(copy.get())) return false;
  copy.release();
  return true;
}

bool ClsSpider::AddAvoidPattern(const char* pattern) { return AddPattern(avoidPatterns_, pattern); }

bool ClsSpider::AddOutboundAvoidPattern(const char* pattern) {
  return AddPattern(outboundAvoidPatterns_, pattern);
}

bool ClsSpider::AddMustMatchPattern(const char* pattern) {
  return AddPattern(mustMatchPatterns_, pattern);
}

void ClsSpider::ClearPatterns() {
  avoidPatterns_.removeAllAndDelete();
  outboundAvoidPatterns_.removeAllAndDelete();
  mustMatchPatterns_.removeAllAndDelete();
}

bool ClsSpider::MatchesAny(const OwningPtrArray& patterns, std::string_view text) const {
  for (int i = 0; i < patterns.count(); ++i) {
    if (HtmlHelp::MatchesWildcard(text, patterns.at<StringBuffer>(i)->getString(), false)) {
      return true;
    }
  }
  return false;
}

bool ClsSpider::PassesMustMatch(std::string_view text) const {
  return mustMatchPatterns_.isEmpty() || MatchesAny(mustMatchPatterns_, text);
}

bool ClsSpider::AddSeen(std::string_view url) {
  bool added = false;
  return seen_.storeKey(url, added) != nullptr && added;
}

bool ClsSpider::IsSeen(std::string_view url) const { return seen_.contains(url); }

LinkFacts* ClsSpider::FactsOf(const char* storedUrl) const {
  return static_cast<LinkFacts*>(seen_.recordOf(storedUrl));
}

const LinkFacts* ClsSpider::linkFacts(std::string_view url) const {
  return static_cast<const LinkFacts*>(seen_.record(url));
}

void ClsSpider::NoteLink(const char* storedUrl, bool added) {
  LinkFacts* facts = FactsOf(storedUrl);
  if (facts == nullptr) return;
  if (facts->inlinks != UINT32_MAX) ++facts->inlinks;
  if (added) {
    facts->referrer = linkingPage_;
    facts->depth = linkingDepth_ == UINT16_MAX ? linkingDepth_ : linkingDepth_ + 1;
    return;
  }
  // Only a URL waiting for its fetch, or one that failed, may need its other referrers.
  if ((facts->flags & (LinkFacts::kQueued | LinkFacts::kListed)) == LinkFacts::kQueued &&
      linkingPage_ != nullptr && facts->referrer != linkingPage_) {
    KeepReferrer(storedUrl, linkingPage_);
  }
}

void ClsSpider::KeepReferrer(const char* storedUrl, const char* page) {
  auto* more = static_cast<ExtraReferrers*>(moreReferrers_.get(storedUrl));
  if (more == nullptr) {
    more = new (std::nothrow) ExtraReferrers;
    if (more == nullptr || !moreReferrers_.put(storedUrl, more)) return;
  }
  for (const char*& slot : more->pages) {
    if (slot == page) return;
    if (slot == nullptr) {
      slot = page;
      return;
    }
  }
}

int ClsSpider::Referrers(std::string_view url, const char** pages, int max) const {
  const LinkFacts* facts = linkFacts(url);
  if (facts == nullptr || facts->referrer == nullptr || max <= 0) return 0;
  int count = 0;
  pages[count++] = facts->referrer;
  const auto* more = static_cast<const ExtraReferrers*>(moreReferrers_.get(url));
  if (more == nullptr) return count;
  for (const char* page : more->pages) {
    if (page == nullptr || count == max) break;
    pages[count++] = page;
  }
  return count;
}

uint32_t ClsSpider::seenCount() const { return seen_.count(); }

void ClsSpider::RecordOutbound(std::string_view url) {
  if (MatchesAny(outboundAvoidPatterns_, url)) return;
  if (!outbound_.appendCopy(url)) log_.addError("Out of memory");
}

}  // namespace quillon
