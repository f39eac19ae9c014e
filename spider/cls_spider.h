// The crawl engine: crawls one site breadth-first, one page per CrawlNext, through its own
// ClsHttp client. It keeps the queues (unspidered, spidered, failed, outbound), the seen set
// (which holds the one copy of each URL that the queues point at), the robots rules and the
// last page's text. Link extraction and filtering live in
// link_extraction.cpp, robots handling in robots.cpp. One thread uses an engine at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/cls_base.h"
#include "base/ext_ptr_array.h"
#include "base/hash_map.h"
#include "base/string_buffer.h"
#include "http/cls_http.h"
#include "http/fetch_failure.h"
#include "spider/crawl_pace.h"
#include "spider/fetch_ahead.h"
#include "spider/page_directives.h"
#include "spider/page_renderer.h"
#include "spider/robots.h"
#include "spider/url_list.h"

namespace quillon {

class ProgressEvent;

// One URL of the failed list with why it failed.
struct FailedFetch : QuillonObject {
  StringBuffer url;
  // A short reason for a person ("connection refused", "HTTP 404 Not Found").
  StringBuffer reason;
  FetchFailureKind kind = FetchFailureKind::Failed;
  // What the client named as the failure.
  FetchErrorKind error = FetchErrorKind::kNone;
  // The final answer's status; 0 when none came.
  int statusCode = 0;
};

// Something that went wrong beside success, once per site (scheme, host and port) and kind.
struct CrawlWarning : QuillonObject {
  StringBuffer site;  // "https://host:port" as the crawl names it
  FetchWarningKind kind = FetchWarningKind::kCertificateNotVerified;
  CertificateProblem certificate = CertificateProblem::kNone;
  // One line for a person ("certificate not trusted: self-signed").
  StringBuffer text;
};

// What the crawl knows of one URL of the seen set, kept in the seen set beside the URL (a few
// bytes per URL, no link graph).
struct LinkFacts {
  // The seen set's copy of the first page whose link (or redirect) led to the URL; null for the
  // start address and URLs queued by hand.
  const char* referrer;
  // Links to it from crawled pages (each distinct link text of a page once; saturates).
  uint32_t inlinks;
  // Link steps from the start address (a redirect target has its source's depth; saturates).
  uint16_t depth;
  uint8_t flags;

  static constexpr uint8_t kQueued = 1;          // put in the unspidered queue
  static constexpr uint8_t kStart = 2;           // the start address
  static constexpr uint8_t kRedirectTarget = 4;  // where a fetched page's redirect led
  static constexpr uint8_t kListed = 8;          // fetched successfully
  // Whether the crawl reached it other than through the site's own sitemaps.
  bool reached() const { return inlinks != 0 || (flags & (kStart | kRedirectTarget)) != 0; }
};

// What reading the site's own sitemaps found.
struct SiteSitemapScan {
  // The sitemap files read, in order (StringBuffers).
  OwningPtrArray files;
  // Page addresses the files list (each once), and of them those no crawled page links to.
  uint32_t urlsListed = 0;
  uint32_t orphanCount = 0;
  // The first orphans, in the files' order (StringBuffers), at most the number asked for.
  OwningPtrArray orphans;
  // Files that could not be fetched or read, and files left out by the limits.
  uint32_t filesFailed = 0;
  uint32_t filesSkipped = 0;
};

// What the answer for the page last fetched says about listing it for search engines.
struct PageFacts {
  // Where the page really is: the redirect target (normal form), else the requested URL.
  StringBuffer finalUrl;
  // The redirect led off the site, so the page's links were not followed.
  bool offSiteRedirect = false;
  int statusCode = 0;
  // The Content-Type value as sent; empty when there was none.
  StringBuffer contentType;
  // From the robots meta element and every X-Robots-Tag line.
  RobotsDirectives robots;
  // The absolute address (normal form) the page's canonical link names; empty when none.
  StringBuffer canonical;
  // The Last-Modified value as sent; empty when there was none.
  StringBuffer lastModified;
  // From sending the request to the end of the body, redirects included (ms), and the body's
  // length as text.
  uint32_t answerMs = 0;
  uint64_t bodyBytes = 0;
  // The status of the first redirect answer and how many were followed (0: none).
  int redirectStatus = 0;
  int redirectHops = 0;
  // The page was rendered by the browser and its rendered links were considered too.
  bool rendered = false;

  void clear();
};

class ClsSpider : public ClsBase {
 public:
  // The seen set: every URL queued or considered as a link, for the whole crawl. It starts with
  // this many buckets and doubles them as it fills, so the duplicate test stays cheap for
  // sites of any size.
  static constexpr uint32_t kSeenBuckets = 19997;
  // The links of one page, to drop repeats before the costlier tests (at least this many
  // buckets; large pages get more).
  static constexpr uint32_t kPageLinkBuckets = 400;
  // The site's own sitemaps are read up to this many files and bytes (unpacked) in all.
  static constexpr int kMaxSiteSitemaps = 50;
  static constexpr uint64_t kMaxSiteSitemapBytes = 50ull * 1024 * 1024;
  // Referrers kept per URL that has not been fetched successfully (the first one included).
  static constexpr int kMaxReferrers = 5;
  // Client limits: they bound what one page and one URL can cost the crawl.
  static constexpr uint64_t kMaxContentLength = 300000;
  static constexpr uint32_t kMaxUrlLen = 300;
  static constexpr uint32_t kConnectTimeoutSec = 10;
  static constexpr uint32_t kReadTimeoutSec = 10;
  // The library's build date as the crawl log reports it.
  static constexpr const char* kDllDate = "Nov  7 2008";

  // Sets up the client: Firefox-like template, the time-outs and limits above, both cache
  // switches on (no cache folder is configured, so they have no effect), the HTTP cache off.
  ClsSpider();
  ClsSpider(const ClsSpider&) = delete;
  ClsSpider& operator=(const ClsSpider&) = delete;
  ~ClsSpider() override;

  // ---- Crawl

  // A text beginning with "http" (any case): domain := its host, then QueueUrl(text). Any
  // other text becomes the domain as it is, and nothing is queued.
  void BeginSite(const char* text);
  // Domain := domain; the four lists emptied, a new seen set, robots to be fetched again, no
  // start address. Pattern lists and settings stay.
  void Reset(const char* domain);
  // Appends url, in its normal form (scheme and host lower-cased, default port dropped, "/" for
  // an empty path, no user information), to the unspidered queue when its host is empty or on the site (equal to the
  // domain or ending in "." + domain); an empty domain is first taken from url. The first URL
  // queued after Reset is the start address, whose scheme, host and port serve robots.txt.
  // False (nothing queued) when the host is off the site or memory runs out.
  bool QueueUrl(const char* url);
  // Takes URLs from the front of the queue until one fetches: failures go to the failed list,
  // the good one to the spidered list, its links are queued and its text kept. False, with
  // "No unspidered URLs remaining." logged, when the queue runs empty; false at once when a
  // fetch was stopped (the rest stay queued). progress may be null.
  bool CrawlNext(ProgressEvent* progress);

  // ---- Robots exclusion

  // Fetches robots.txt once per site (a failed fetch is not repeated) and copies its text to
  // out. True when there is a non-empty text, fetched now or earlier.
  bool FetchRobots(StringBuffer& out, ProgressEvent* progress);
  // True when the site's robots rules forbid link (fetching them first if need be).
  bool IsDisallowed(const char* link, ProgressEvent* progress);
  // The pause robots.txt asks for between pages (its Crawl-delay, at most a minute), once it
  // was fetched; 0 when it asks none or robots are not obeyed.
  uint32_t crawlDelayMs();

  // ---- Links

  // Appends to links (new StringBuffers, owned by the caller) the distinct usable href values
  // of the page's anchors ("<a" and white space) in page order, character references decoded,
  // fragments cut, tracking redirects unwrapped. False only when memory runs out.
  bool ExtractLinks(std::string_view page, ExtPtrArray& links) const;
  // Extracts the page's links, resolves them against pageUrl, records off-site ones in the
  // outbound list and appends new on-site ones the robots rules allow to the queue.
  void ProcessPage(const char* pageUrl, std::string_view pageText, ProgressEvent* progress);
  // True for links never followed: mail, ftp and script links, ad networks, and links ending
  // in one of the fixed download extensions (by its first occurrence).
  static bool IsFixedAvoid(std::string_view link);
  // Makes link absolute against pageUrl, in its normal form (absolute links get the same
  // encoding). False when it
  // cannot be resolved, the result is too long or memory runs out; the link is then dropped.
  static bool ResolveLink(StringBuffer& link, const char* pageUrl);
  // True when url is an HTTP(S) address whose host is not on the site; other texts are on it.
  bool IsOutbound(const char* url) const;
  // Replaces a click-tracking link ("/redir.php?...url=", portal redirectors) by its decoded
  // target; other links stay.
  static void UnwrapRedirect(StringBuffer& link);
  // True when host equals domain or ends with "." + domain (ASCII case-insensitive), or the
  // domain is empty; an IP-address host matches only itself.
  static bool IsHostOnSite(std::string_view host, std::string_view domain);

  // ---- Connections and pace

  // The crawl keeps at most this many connections fetching (1-16).
  static constexpr int kMaxConnections = 16;
  // With more than one, the pages after the one being handled are fetched ahead in parallel,
  // each request start keeping to the pace; the pages are still handled in queue order, one per
  // CrawlNext. With one (the default) the engine fetches each page itself when it handles it,
  // and the caller makes the pause between pages (pace().intervalMs()).
  void setConnections(int connections);
  int connections() const { return connections_; }
  // 0: no limit; else no page is fetched ahead that would pass this many listed pages.
  void setMaxPages(int maxPages) { maxPages_ = maxPages; }
  // The pause between request starts, raised by Crawl-delay and by busy answers.
  CrawlPace& pace() { return pace_; }

  // ---- Settings (the application leaves them at their defaults)

  // Links matching any avoid pattern are dropped; off-site links matching an outbound avoid
  // pattern are not recorded; when must-match patterns exist only matching links pass.
  // Patterns use "*" as in HtmlHelp::MatchesWildcard, case-insensitive. False on no memory.
  bool AddAvoidPattern(const char* pattern);
  bool AddOutboundAvoidPattern(const char* pattern);
  bool AddMustMatchPattern(const char* pattern);
  void ClearPatterns();
  // 0: no limit; else no more links are queued once the spidered list holds more than this.
  void setMaxUrls(int32_t maxUrls) { maxUrls_ = maxUrls; }
  int32_t maxUrls() const { return maxUrls_; }
  void setDropQueryStrings(bool drop) { dropQueryStrings_ = drop; }
  bool dropQueryStrings() const { return dropQueryStrings_; }
  void setDropHttps(bool drop) { dropHttps_ = drop; }
  bool dropHttps() const { return dropHttps_; }
  void setObeyRobots(bool obey) { obeyRobots_ = obey; }
  bool obeyRobots() const { return obeyRobots_; }
  // Off by default: the links of a page whose robots directives say nofollow, and anchors with
  // rel="nofollow", are not followed.
  void setRespectNofollow(bool respect) { respectNofollow_ = respect; }
  bool respectNofollow() const { return respectNofollow_; }
  // Off by default: the address a page's canonical link names is considered like a link of
  // the page (filtered, then queued when new and allowed).
  void setFollowCanonical(bool follow) { followCanonical_ = follow; }
  bool followCanonical() const { return followCanonical_; }
  // A robots.txt User-agent name honoured besides "*" and the client's userAgent setting
  // (empty: none). False when memory runs out.
  bool setRobotsAgent(const char* name);
  const StringBuffer& robotsAgent() const { return robotsAgent_; }

  // ---- Rendering (off unless a renderer is given)

  // Pages answered 2xx as HTML are also rendered by renderer, and the links of the rendered
  // document are considered after the page's own; null turns rendering off.
  void setRenderer(std::unique_ptr<PageRenderer> renderer) { renderer_ = std::move(renderer); }
  bool rendering() const { return renderer_ != nullptr; }
  // The rendered document of the page last fetched; empty when it was not rendered.
  const StringBuffer& renderedText() const { return renderedText_; }
  int renderedCount() const { return renderedCount_; }

  // ---- State

  const StringBuffer& domain() const { return domain_; }
  const StringBuffer& currentUrl() const { return currentUrl_; }
  // The body of the page last fetched successfully (UTF-8); empty after a failed CrawlNext.
  const StringBuffer& pageText() const { return pageText_; }
  // The page's Last-Modified date as "YYYY-MM-DD", or empty.
  const StringBuffer& lastModified() const { return lastModified_; }
  // What the last successful fetch's answer and page say (cleared at each CrawlNext).
  const PageFacts& pageFacts() const { return pageFacts_; }
  const StringBuffer& robotsText() const { return robotsText_; }
  bool robotsFetched() const { return robotsFetched_; }
  // The URL robots.txt is read from: the start address's scheme, host and port, else
  // "http://" + domain.
  bool RobotsUrl(StringBuffer& url) const;

  int unspideredCount() const { return unspidered_.count(); }
  int spideredCount() const { return spidered_.count(); }
  int failedCount() const { return failed_.count(); }
  int outboundCount() const { return outbound_.count(); }
  // The i-th URL of a list, still owned by the engine (valid until the next BeginSite or the
  // engine's end); null when out of range.
  const char* unspideredUrl(int i) const { return unspidered_.at(i); }
  const char* spideredUrl(int i) const { return spidered_.at(i); }
  const char* failedUrl(int i) const;
  const char* outboundUrl(int i) const { return outbound_.at(i); }
  // The i-th entry of the failed list: the URL and why it failed; null when out of range.
  const FailedFetch* failedFetch(int i) const;
  // The warnings met so far, in the order met; each site and kind once. Null when out of range.
  int warningCount() const { return warnings_.count(); }
  const CrawlWarning* warningAt(int i) const;
  // On-site links left out because robots.txt disallows them.
  int robotsExcludedCount() const { return robotsExcluded_; }
  // Whether url is in the seen set.
  bool IsSeen(std::string_view url) const;
  // What the crawl knows of url (a URL in normal form), still owned by the engine; null when
  // it was never seen.
  const LinkFacts* linkFacts(std::string_view url) const;
  // The pages that led to url, first referrer first, into pages (the seen set's copies); for a
  // URL not fetched successfully up to kMaxReferrers, else only the first. Returns the number
  // written (at most max).
  int Referrers(std::string_view url, const char** pages, int max) const;
  // After the crawl: reads the site's own sitemaps (the Sitemap lines of robots.txt, else
  // /sitemap.xml at the start address's site), following indexes, gzip files unpacked, at most
  // kMaxSiteSitemaps files and kMaxSiteSitemapBytes; only files on the site that robots.txt
  // allows are fetched. Fills scan, keeping at most keepOrphans orphans. False when no file
  // could be read.
  bool ScanSiteSitemaps(SiteSitemapScan& scan, int keepOrphans, ProgressEvent* progress);
  uint32_t seenCount() const;

  // The client, for its settings (tests shorten its time-outs) and its last result.
  ClsHttp& http() { return http_; }

 private:
  // The domain, also as the site the client's credentials are bound to.
  void setDomain(std::string_view domain);
  // A login and password in text are kept for requests to its host (the lists never hold
  // them). False when memory runs out.
  bool KeepAddressCredentials(const char* text);
  bool MatchesAny(const OwningPtrArray& patterns, std::string_view text) const;
  bool PassesMustMatch(std::string_view text) const;
  bool AddPattern(OwningPtrArray& patterns, const char* pattern);
  // Adds url to the seen set; false when it was there already (or memory ran out).
  bool AddSeen(std::string_view url);
  // The facts beside a URL the seen set stored.
  LinkFacts* FactsOf(const char* storedUrl) const;
  // A link of the page being processed led to storedUrl (added: just put in the seen set).
  void NoteLink(const char* storedUrl, bool added);
  // Keeps one more page that leads to a URL not yet fetched, up to kMaxReferrers in all.
  void KeepReferrer(const char* storedUrl, const char* page);
  // Reads one sitemap file's text: page addresses into the scan, index entries into files.
  void ReadSitemapText(std::string_view text, const char* fileUrl, OwningPtrArray& files,
                       HashMap& listed, SiteSitemapScan& scan, int keepOrphans);
  // Fetches one sitemap file (unpacking gzip) within the bytes left; false when it failed.
  bool FetchSitemapFile(const char* url, uint64_t& bytesLeft, StringBuffer& text,
                        ProgressEvent* progress);
  // Records url in the outbound list unless it is avoided or already seen.
  void RecordOutbound(std::string_view url);
  // The twin of an on-site link (with "www." added or removed); false when none can be formed.
  static bool FormTwin(std::string_view link, StringBuffer& twin);
  // Reads the robots text into rules once per fetched text.
  void EnsureRobotsRules();
  // The fetch of url, the queue's front just taken: from the fetch-ahead workers when they have
  // it in hand, else made here. ownBody holds the text of a fetch made here.
  using Fetched = FetchAhead::Answer;
  Fetched FetchPage(const char* url, ProgressEvent* progress, StringBuffer& ownBody);
  // Hands the URLs after the front to the fetch-ahead workers (when there are any).
  void FetchAheadOfFront();
  // After a failed fetch of url: the failed list, the reason and the client's log.
  void RecordFailedFetch(const char* url, ClsHttp& client);
  // After any fetch of url: the warnings of its result not met before on its site.
  void GatherWarnings(const char* url, const HttpResult& result);
  // Adds a warning about site (a site or a page) unless one of its kind is there already.
  void AddWarning(std::string_view site, FetchWarningKind kind, const FetchWarnings& met,
                  std::string_view text);
  // Filters one link of the page at pageUrl (resolved against it) and queues it or records it
  // as outbound. pagePasses: the page passes the must-match patterns. True when the link leads
  // to another page of the site (queued now or not).
  bool ConsiderLink(StringBuffer& link, const char* pageUrl, bool pagePasses, bool queueOpen,
                    ProgressEvent* progress);
  // Whether a page is the crawl's start (whose links are followed whatever the must-match
  // patterns say of it) or one reached through links.
  enum class PageRole { kStart, kLinked };
  // Returns how many of the page's links lead to other pages of the site.
  int ProcessLinks(const char* pageUrl, std::string_view pageText, PageRole role,
                   ProgressEvent* progress);
  // After a page's own links: renders a 2xx HTML page and considers the rendered links, or,
  // without a renderer, says once when a page with scripts but no link seems to need one.
  // ownLinks: what ProcessLinks returned for the page.
  void ConsiderScriptLinks(const char* pageUrl, std::string_view body, PageRole role, int ownLinks,
                           ProgressEvent* progress);
  // Why a page was not rendered, as a warning about the page.
  void WarnNotRendered(const char* pageUrl, RenderOutcome outcome, const StringBuffer& detail);
  // Whether the browser may make a request: an http(s) address of the site that no avoid
  // pattern and no robots rule keeps the crawl from.
  bool BrowserMayFetch(std::string_view url);
  class BrowserRequests;
  // Fills pageFacts_ from the answer and the page's text.
  void RecordPageFacts(const StringBuffer& finalUrl, const HttpResult& answer,
                       std::string_view body);
  // After a successful fetch of currentUrl_ by client: record it and handle its links.
  void HandleFetchedPage(const char* url, ProgressEvent* progress, const Fetched& page);

  ClsHttp http_;
  StringBuffer domain_;
  // The seen set keeps the one copy of each URL, with its LinkFacts; the three lists below
  // point into it.
  HashMap seen_;
  // More pages leading to URLs not yet fetched, or that failed (ExtraReferrers values).
  HashMap moreReferrers_;
  // The page whose links are being considered (the seen set's copy), and its depth.
  const char* linkingPage_ = nullptr;
  uint16_t linkingDepth_ = 0;
  UrlList unspidered_{seen_};
  UrlList spidered_{seen_};
  OwningPtrArray failed_;
  OwningPtrArray warnings_;
  int robotsExcluded_ = 0;
  UrlList outbound_{seen_};
  OwningPtrArray avoidPatterns_;
  OwningPtrArray outboundAvoidPatterns_;
  OwningPtrArray mustMatchPatterns_;
  int32_t maxUrls_ = 0;
  bool dropQueryStrings_ = false;
  bool dropHttps_ = false;
  bool robotsFetched_ = false;
  StringBuffer robotsText_;
  RobotsRules robotsRules_;
  bool robotsRulesValid_ = false;
  bool obeyRobots_ = true;
  bool respectNofollow_ = false;
  bool followCanonical_ = false;
  StringBuffer robotsAgent_;
  PageFacts pageFacts_;
  // The first URL queued after Reset, and whether its fetch has yet to be handled.
  StringBuffer startUrl_;
  bool startPending_ = false;
  StringBuffer currentUrl_;
  StringBuffer lastModified_;
  StringBuffer pageText_;
  int connections_ = 1;
  int maxPages_ = 0;
  CrawlPace pace_;
  // Made at the first CrawlNext when there is more than one connection.
  std::unique_ptr<FetchAhead> fetchAhead_;
  std::unique_ptr<PageRenderer> renderer_;
  StringBuffer renderedText_;
  int renderedCount_ = 0;
  // The hint that a page may need rendering is given once per crawl.
  bool scriptHintGiven_ = false;
};

}  // namespace quillon
