// Link extraction and URL filtering of the crawl engine: which anchors a page offers, which of
// them the spider follows, and where each one goes (queue, outbound list or nowhere).
#include <memory>
#include <new>

#include "base/ascii.h"
#include "base/data_buffer.h"
#include "base/html_help.h"
#include "base/parse_engine.h"
#include "http/credential_scope.h"
#include "http/parse_url.h"
#include "http/url_combiner.h"
#include "spider/cls_spider.h"
#include "spider/link_text.h"
#include "spider/page_directives.h"

namespace quillon {

namespace {

constexpr std::string_view kAnchorStart = "<a";
constexpr std::string_view kAnchorEnd = "</a>";

// Links never followed because they lead to downloads rather than pages; only the first
// occurrence of each is looked at, so a folder named like one does not count.
constexpr std::string_view kAvoidedExtensions[] = {".zip", ".exe", ".jpg", ".gif", ".jar", ".msi",
                                                   ".doc", ".pdf", ".cab", ".psd", ".eps"};
// Advertising and search hosts whose links are never followed, wherever the text appears.
constexpr std::string_view kAvoidedWords[] = {"google", "overture", "doubleclick"};
constexpr std::string_view kAvoidedPrefixes[] = {"mailto:", "ftp:", "javascript"};

// An anchor takes at least a dozen bytes; one bucket per this many bytes of page keeps the
// per-page chains short on link-heavy pages, within a bound on the set's own size.
constexpr uint64_t kPageBytesPerBucket = 32;
constexpr uint64_t kMaxPageLinkBuckets = 16384;

constexpr std::string_view kRedirectScript = "/redir.php?";
constexpr std::string_view kRedirectTarget = "url=";

// Moves the parser to the next anchor: "<a" followed by white space (generated pages often
// break the line right after "<a"). False when there is none.
bool SeekAnchor(ParseEngine& parser) {
  while (parser.seekPast(kAnchorStart)) {
    if (IsBlankOrLineEnd(parser.current())) {
      parser.setPosition(parser.position() - static_cast<uint32_t>(kAnchorStart.size()));
      return true;
    }
  }
  return false;
}

// Cuts text at the first c, if any.
void CutAt(StringBuffer& text, char c) {
  size_t pos = text.view().find(c);
  if (pos != std::string_view::npos) text.shorten(text.length() - static_cast<uint32_t>(pos));
}

}  // namespace

bool ClsSpider::IsFixedAvoid(std::string_view link) {
  for (std::string_view prefix : kAvoidedPrefixes) {
    if (StartsWithNoCase(link, prefix)) return true;
  }
  for (std::string_view word : kAvoidedWords) {
    if (ContainsNoCase(link, word)) return true;
  }
  for (std::string_view extension : kAvoidedExtensions) {
    const char* first = FindNoCase(link, extension);
    if (first != nullptr && first + extension.size() == link.data() + link.size()) return true;
  }
  return false;
}

bool ClsSpider::ResolveLink(StringBuffer& link, const char* pageUrl) {
  // Absolute links go through the combiner too, so every queued URL is encoded alike and can
  // be sent as a request line.
  StringBuffer combined;
  if (!CombineUrl(pageUrl == nullptr ? std::string_view() : std::string_view(pageUrl),
                  link.view(), combined)) {
    return false;
  }
  // One spelling per page, so that "HTTP://Host:80" and "http://host/" meet in the seen set.
  return NormalizeUrl(combined) && link.assign(combined);
}

bool ClsSpider::IsHostOnSite(std::string_view host, std::string_view domain) {
  return quillon::IsHostOnSite(host, domain);
}

bool ClsSpider::IsOutbound(const char* url) const {
  if (url == nullptr || !StartsWithNoCase(url, "http")) return false;
  ParsedUrl parsed;
  ParseUrl(url, parsed);
  parsed.host.trim();
  return !IsHostOnSite(parsed.host.view(), domain_.view());
}

void ClsSpider::UnwrapRedirect(StringBuffer& link) {
  std::string_view text = link.view();
  if (!text.starts_with(kRedirectScript)) return;
  size_t target = text.find(kRedirectTarget);
  if (target == std::string_view::npos) return;
  // Everything after "url=", later parameters included, is the target.
  DataBuffer decoded;
  if (!HtmlHelp::UrlDecode(text.substr(target + kRedirectTarget.size()), decoded)) return;
  link.assign(decoded.view());
}

bool ClsSpider::ExtractLinks(std::string_view page, ExtPtrArray& links) const {
  ParseEngine parser;
  if (!parser.load(page)) return false;
  // The set never grows, so a page large enough to hold thousands of anchors gets more
  // buckets than the usual 400; the chains stay short and the results are the same.
  uint64_t buckets = page.size() / kPageBytesPerBucket;
  if (buckets < kPageLinkBuckets) buckets = kPageLinkBuckets;
  if (buckets > kMaxPageLinkBuckets) buckets = kMaxPageLinkBuckets;
  HashMap pageLinks(static_cast<uint32_t>(buckets));
  StringBuffer tag;
  StringBuffer clean;
  StringBuffer href;
  StringBuffer rel;
  // Once no "</a>" is left after the position, none will be found for later anchors either.
  bool anchorEndsLeft = true;

  while (SeekAnchor(parser)) {
    tag.clear();
    if (!parser.copyUntilQuotedStrict('>', tag)) return false;
    parser.step(1);
    if (anchorEndsLeft && !parser.seekPast(kAnchorEnd)) anchorEndsLeft = false;

    if (!HtmlHelp::CleanTag(tag.view(), clean)) return false;
    if (!HtmlHelp::GetAttribute(clean.view(), "href", href)) return false;
    if (respectNofollow_) {
      if (!HtmlHelp::GetAttribute(clean.view(), "rel", rel)) return false;
      if (RelHolds(rel.view(), "nofollow")) continue;
    }
    if (!DecodeCharacterReferences(href)) return false;

    std::string_view value = href.view();
    if (value.empty() || value.front() == '#') continue;
    if (MatchesAny(avoidPatterns_, value) || !PassesMustMatch(value)) continue;
    if (ContainsNoCase(value, "ftp:")) continue;

    CutAt(href, '#');
    if (dropQueryStrings_) CutAt(href, '?');
    if (dropHttps_ && ContainsNoCase(href.view(), "https:")) continue;
    href.trim();
    if (href.isEmpty()) continue;
    UnwrapRedirect(href);

    if (pageLinks.contains(href.view())) continue;
    if (!pageLinks.add(href.view())) return false;
    std::unique_ptr<StringBuffer> copy(new (std::nothrow) StringBuffer(href.view()));
    if (!copy || copy->length() != href.length() || !links.append(copy.get())) return false;
    copy.release();
  }
  return !parser.outOfMemory();
}

void ClsSpider::ProcessPage(const char* pageUrl, std::string_view pageText,
                            ProgressEvent* progress) {
  ProcessLinks(pageUrl, pageText, PageRole::kLinked, progress);
}

int ClsSpider::ProcessLinks(const char* pageUrl, std::string_view pageText, PageRole role,
                            ProgressEvent* progress) {
  bool queueOpen = !(maxUrls_ != 0 && spidered_.count() > maxUrls_);
  OwningPtrArray links;
  if (!ExtractLinks(pageText, links)) log_.addError("Out of memory");
  std::string_view page = pageUrl == nullptr ? std::string_view() : std::string_view(pageUrl);
  // The start page leads into the site whatever the must-match patterns say of it.
  bool pagePasses = role == PageRole::kStart || PassesMustMatch(page);

  int onSite = 0;
  for (int i = 0; i < links.count(); ++i) {
    onSite += ConsiderLink(*links.at<StringBuffer>(i), pageUrl, pagePasses, queueOpen, progress);
  }
  return onSite;
}

bool ClsSpider::ConsiderLink(StringBuffer& link, const char* pageUrl, bool pagePasses,
                             bool queueOpen, ProgressEvent* progress) {
  if (link.isEmpty() || link.charAt(0) == '#') return false;
  if (IsFixedAvoid(link.view())) return false;
  if (!ResolveLink(link, pageUrl)) return false;
  // "file:", "data:" and other schemes are never crawled nor listed.
  if (!IsHttpAddress(link.view())) return false;
  if (MatchesAny(avoidPatterns_, link.view())) return false;
  if (!pagePasses) return false;
  CutAt(link, '#');
  const bool outbound = IsOutbound(link.getString());
  const bool otherPage = !outbound && pageUrl != nullptr && link.view() != pageUrl;
  // From here on the link counts as seen, whatever happens to it.
  bool added = false;
  const char* stored = seen_.storeKey(link.view(), added);
  if (stored == nullptr) return false;
  NoteLink(stored, added);
  if (!added) return otherPage;

  if (outbound) {
    if (!MatchesAny(outboundAvoidPatterns_, link.view())) outbound_.appendCopy(link.view());
    return false;
  }
  if (obeyRobots_ && IsDisallowed(link.getString(), progress)) {
    ++robotsExcluded_;
    return otherPage;
  }
  if (!queueOpen) return otherPage;
  // A site reachable with and without "www." is crawled once, under the form met first.
  StringBuffer twin;
  if (!FormTwin(link.view(), twin) || IsSeen(twin.view())) return otherPage;
  if (unspidered_.append(stored)) FactsOf(stored)->flags |= LinkFacts::kQueued;
  return otherPage;
}

bool ClsSpider::FormTwin(std::string_view link, StringBuffer& twin) {
  twin.clear();
  size_t www = link.find("//www.");
  if (www != std::string_view::npos) {
    return twin.append(link.substr(0, www + 2)) && twin.append(link.substr(www + 6));
  }
  // "www." goes after the scheme that comes first, plain or secure.
  size_t plain = link.find("http://");
  size_t secure = link.find("https://");
  size_t scheme =
      plain < secure ? plain + 7 : (secure == std::string_view::npos ? secure : secure + 8);
  if (scheme == std::string_view::npos) return false;
  return twin.append(link.substr(0, scheme)) && twin.append("www.") &&
         twin.append(link.substr(scheme));
}

}  // namespace quillon
