// Reading the site's own sitemaps after a crawl: the files robots.txt names (else /sitemap.xml),
// indexes followed within fixed limits, and the page addresses they list that no crawled page
// links to. The files are scanned for <loc> elements, not parsed into a tree, so a sitemap of
// 50,000 addresses costs its text and one set of addresses, nothing more.
#include <memory>
#include <new>

#include "base/ascii.h"
#include "base/gzip.h"
#include "base/log_base.h"
#include "base/progress.h"
#include "base/xml_parser.h"
#include "http/parse_url.h"
#include "spider/cls_spider.h"

namespace quillon {

namespace {

constexpr std::string_view kSitemapField = "sitemap:";
constexpr std::string_view kLocOpen = "<loc>";
constexpr std::string_view kLocClose = "</loc>";
constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";
// The set of addresses listed starts with this many buckets and grows with them.
constexpr uint32_t kListedBuckets = 1009;

bool AppendCopy(OwningPtrArray& list, std::string_view text) {
  std::unique_ptr<StringBuffer> copy(new (std::nothrow) StringBuffer);
  if (!copy || !copy->assign(text) || !list.append(copy.get())) return false;
  copy.release();
  return true;
}

// The addresses of the "Sitemap:" lines of a robots.txt text (any case, anywhere in the file).
void SitemapLinesOf(std::string_view robots, OwningPtrArray& out) {
  while (!robots.empty()) {
    size_t end = robots.find_first_of("\r\n");
    std::string_view line = Trimmed(robots.substr(0, end));
    robots = end == std::string_view::npos ? std::string_view() : robots.substr(end + 1);
    if (line.size() > kSitemapField.size() && StartsWithNoCase(line, kSitemapField)) {
      AppendCopy(out, Trimmed(line.substr(kSitemapField.size())));
    }
  }
}

bool IsGzip(const DataBuffer& bytes) {
  return bytes.length() >= 2 && bytes.data()[0] == 0x1f && bytes.data()[1] == 0x8b;
}

// The text of one <loc> element: entities decoded, a CDATA section unwrapped, trimmed.
bool LocText(std::string_view raw, StringBuffer& loc) {
  loc.clear();
  raw = Trimmed(raw);
  if (raw.starts_with(kCdataOpen) && raw.ends_with(kCdataClose)) {
    raw = raw.substr(kCdataOpen.size(), raw.size() - kCdataOpen.size() - kCdataClose.size());
    if (!loc.assign(raw)) return false;
  } else if (!AppendXmlEntityDecoded(raw, loc)) {
    return false;
  }
  loc.trim();
  return !loc.isEmpty();
}

}  // namespace

bool ClsSpider::FetchSitemapFile(const char* url, uint64_t& bytesLeft, StringBuffer& text,
                                 ProgressEvent* progress) {
  text.clear();
  if (bytesLeft == 0) return false;
  // These requests keep the crawl's pace like its pages.
  const bool stopped = !pace_.WaitTurn([progress] {
    bool abort = false;
    if (progress != nullptr) progress->AbortCheck(abort);
    return abort;
  });
  if (stopped) return false;
  HttpControl& settings = http_.settings();
  const uint64_t pageLimit = settings.maxContentLength;
  settings.maxContentLength = bytesLeft;
  DataBuffer body;
  bool ok = http_.QuickGetBytes(url, body, progress);
  settings.maxContentLength = pageLimit;
  if (!ok) return false;
  // A redirect off the site is not the site's sitemap.
  const HttpResult& result = http_.result();
  if (result.redirected && IsOutbound(result.finalUrl.getString())) return false;
  if (IsGzip(body)) {
    DataBuffer unpacked;
    if (!Gzip::uncompress(body, unpacked, bytesLeft, log_)) return false;
    body.clear();
    if (!body.append(unpacked.view())) return false;
  }
  if (body.length() > bytesLeft) return false;
  bytesLeft -= body.length();
  return text.assign(body.view());
}

void ClsSpider::ReadSitemapText(std::string_view text, const char* fileUrl, OwningPtrArray& files,
                                HashMap& listed, SiteSitemapScan& scan, int keepOrphans) {
  const bool index = text.find("<sitemapindex") != std::string_view::npos;
  StringBuffer loc;
  for (size_t at = text.find(kLocOpen); at != std::string_view::npos;
       at = text.find(kLocOpen, at)) {
    const size_t start = at + kLocOpen.size();
    const size_t end = text.find(kLocClose, start);
    if (end == std::string_view::npos) break;
    at = end + kLocClose.size();
    if (!LocText(text.substr(start, end - start), loc) || !ResolveLink(loc, fileUrl) ||
        !IsHttpAddress(loc.view()) || IsOutbound(loc.getString())) {
      continue;
    }
    size_t fragment = loc.view().find('#');
    if (fragment != std::string_view::npos) {
      loc.shorten(loc.length() - static_cast<uint32_t>(fragment));
    }
    if (index) {
      AppendCopy(files, loc.view());
      continue;
    }
    // Addresses the crawl would never follow are not the site's to link.
    if (IsFixedAvoid(loc.view()) || MatchesAny(avoidPatterns_, loc.view()) ||
        !PassesMustMatch(loc.view()) || listed.contains(loc.view()) ||
        (obeyRobots_ && IsDisallowed(loc.getString(), nullptr))) {
      continue;
    }
    bool added = false;
    if (listed.storeKey(loc.view(), added) == nullptr) return;
    ++scan.urlsListed;
    const LinkFacts* facts = linkFacts(loc.view());
    if (facts != nullptr && facts->reached()) continue;
    ++scan.orphanCount;
    if (scan.orphans.count() < keepOrphans) AppendCopy(scan.orphans, loc.view());
  }
}

bool ClsSpider::ScanSiteSitemaps(SiteSitemapScan& scan, int keepOrphans, ProgressEvent* progress) {
  log_.reset();
  LogContextGuard context(log_, "ScanSiteSitemaps");
  OwningPtrArray named;
  if (obeyRobots_ && !robotsFetched_) {
    StringBuffer ignored;
    FetchRobots(ignored, progress);
  }
  SitemapLinesOf(robotsText_.view(), named);
  StringBuffer robotsUrl;
  if (!RobotsUrl(robotsUrl)) return false;
  if (named.count() == 0) {
    StringBuffer fallback(robotsUrl.view().substr(0, robotsUrl.view().rfind('/') + 1));
    fallback.append("sitemap.xml");
    AppendCopy(named, fallback.view());
  }

  HashMap fetched(kListedBuckets, HashMap::Growth::kDoubling);
  HashMap listed(kListedBuckets, HashMap::Growth::kDoubling);
  uint64_t bytesLeft = kMaxSiteSitemapBytes;
  StringBuffer url;
  StringBuffer text;
  // The list grows as indexes name more files.
  for (int i = 0; i < named.count(); ++i) {
    if (!url.assign(*named.at<StringBuffer>(i)) || !ResolveLink(url, robotsUrl.getString()) ||
        !IsHttpAddress(url.view()) || IsOutbound(url.getString()) || fetched.contains(url.view()) ||
        (obeyRobots_ && IsDisallowed(url.getString(), progress))) {
      continue;
    }
    if (static_cast<int>(fetched.count()) >= kMaxSiteSitemaps || bytesLeft == 0) {
      ++scan.filesSkipped;
      continue;
    }
    fetched.add(url.view());
    log_.addTag("sitemap", url.getString());
    if (!FetchSitemapFile(url.getString(), bytesLeft, text, progress)) {
      ++scan.filesFailed;
      if (http_.result().error.kind == FetchErrorKind::kStopped) break;
      continue;
    }
    AppendCopy(scan.files, url.view());
    ReadSitemapText(text.view(), url.getString(), named, listed, scan, keepOrphans);
  }
  return scan.files.count() > 0;
}

}  // namespace quillon
