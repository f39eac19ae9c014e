// The search-engine sitemap (sitemaps.org protocol 0.9) of a crawl: which crawled pages it may
// list, the W3C date of a Last-Modified value, and the files: one sitemap.xml, or above 50,000
// URLs or 50 MB sitemap-1.xml, sitemap-2.xml, ... with a sitemap.xml index; gzip-compressed when
// asked. A small dedicated writer: the texts are escaped here, nothing is parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tollwick {

inline constexpr char kSitemapNamespace[] = "http://www.sitemaps.org/schemas/sitemap/0.9";
// The protocol's limits per file, and for one address.
inline constexpr size_t kMaxSitemapUrls = 50000;
inline constexpr size_t kMaxSitemapBytes = 50 * 1024 * 1024;
inline constexpr size_t kMaxSitemapUrlLength = 2048;

// What the crawl learnt of one fetched page.
struct PageListing {
  // Where the page really is (the redirect target, else the requested address).
  std::string finalUrl;
  bool offSiteRedirect = false;
  int statusCode = 200;
  std::string contentType = "text/html";
  bool noindex = false;
  // The absolute address the page's canonical link names, or "".
  std::string canonical;
  // The Last-Modified value as the server sent it, or "".
  std::string lastModified;
  // The page was rendered by the browser (its scripts' links were followed too).
  bool rendered = false;
};

// Whether a page is in the XML sitemap, and why not.
enum class XmlVerdict {
  Listed,
  NotSuccess,          // the final answer was not 2xx
  NotHtml,             // no HTML content type
  Noindex,             // robots meta or X-Robots-Tag
  CanonicalElsewhere,  // the canonical link names another address
  OffSite,             // redirected off the site
  Unusable,            // not an absolute http(s) address, or longer than 2,048 characters
  Duplicate,           // listed already (two addresses redirect to one page)
};

// How the summaries and the report name a verdict ("noindex", "canonical elsewhere", ...).
const char* XmlVerdictText(XmlVerdict verdict);

// The xsd:dateTime of an HTTP date in the IMF-fixdate form ("Sun, 06 Nov 1994 08:49:37 GMT"
// gives "1994-11-06T08:49:37+00:00"); "" for any other or impossible value.
std::string W3cDateTime(std::string_view httpDate);

// True for a Content-Type of text/html or application/xhtml+xml (parameters ignored).
bool IsHtmlContentType(std::string_view contentType);

// The address as it goes into <loc>: bytes that may not stand in a URI percent-encoded, then
// "&", "<", ">", quotes written as entities.
std::string XmlLocText(std::string_view url);

struct XmlSitemapEntry {
  std::string loc;      // the address, unescaped
  std::string lastmod;  // W3C date-time or ""
};

// Whether a page whose canonical link names another address is left out for that address.
// Ignored suits a staging mirror whose canonical links name the production site.
enum class CanonicalLinks { Honoured, Ignored };

// The pages a crawl lists, each address once, in crawl order.
class XmlSitemapList {
 public:
  explicit XmlSitemapList(CanonicalLinks canonical = CanonicalLinks::Honoured)
      : canonical_(canonical) {}
  // Decides about one page and lists it when it qualifies.
  XmlVerdict Add(const PageListing& page);
  const std::vector<XmlSitemapEntry>& entries() const { return entries_; }
  // How many pages each verdict met (indexed by the enum's value).
  int Count(XmlVerdict verdict) const { return counts_[static_cast<size_t>(verdict)]; }
  // "12 URLs in the XML sitemap (left out: 2 noindex, 1 canonical elsewhere)"; the reasons
  // with a zero count are not named.
  std::string SummaryText() const;
  // Why no file named fileName is written when no page qualified: the summary, then that an
  // empty sitemap is not valid.
  std::string NothingListedText(std::string_view fileName) const;

 private:
  CanonicalLinks canonical_;
  std::vector<XmlSitemapEntry> entries_;
  std::unordered_set<std::string> listed_;
  int counts_[8] = {};
};

struct XmlFileLimits {
  size_t maxUrls = kMaxSitemapUrls;
  size_t maxBytes = kMaxSitemapBytes;
};

// One file's name and its whole uncompressed text.
struct XmlSitemapFile {
  std::string name;
  std::string text;
};

// The bytes of a urlset without any <url>: what every part's size limit must leave room for.
size_t UrlsetFrameForTests();

// The <url> element of one entry, with its line end.
std::string XmlUrlElement(const XmlSitemapEntry& entry);

// Splits entries into urlset texts within the limits. One text is returned as "sitemap.xml";
// more are "sitemap-1.xml", ... followed by "sitemap.xml" as their index, whose <loc>s are
// siteRoot + the part's name (siteRoot ends in "/"). With gzip every name ends in ".xml.gz".
// An empty list gives one empty urlset (which the schema refuses: the run writes none).
std::vector<XmlSitemapFile> BuildXmlSitemapFiles(const std::vector<XmlSitemapEntry>& entries,
                                                 const std::string& siteRoot, bool gzip,
                                                 const XmlFileLimits& limits = {});

// "scheme://host[:port]/" of an absolute address, or "" when it has none.
std::string SiteRootOf(std::string_view url);

// Writes the files into folder in their order, gzip-compressed when a name ends in ".gz". Each
// file is written under a temporary name and renamed into place, and the index comes last, so
// sitemap.xml never names a part that is not there. False with a message in error; written
// receives the paths written.
bool WriteXmlSitemapFiles(const std::string& folder, const std::vector<XmlSitemapFile>& files,
                          std::vector<std::string>& written, std::string& error);

// The gzip form (RFC 1952) of text. False when zlib fails.
bool GzipText(std::string_view text, std::string& out);

}  // namespace tollwick
