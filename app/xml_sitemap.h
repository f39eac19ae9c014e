// The search-engine sitemap (sitemaps.org protocol 0.9) of a crawl: which crawled pages it may
// list, the W3C date of a Last-Modified value, and the files: one sitemap.xml, or above 50,000
// URLs or 50 MB sitemap-1.xml, sitemap-2.xml, ... with a sitemap.xml index; gzip-compressed when
// asked. A small dedicated writer: the texts are escaped here, nothing is parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The pages a crawl lists, each address once, in crawl order. A crawl of a large site lists
// hundreds of thousands: each entry is kept as its bytes in large blocks, and the addresses
// already listed as 64-bit hashes.
class XmlSitemapList {
 public:
  explicit XmlSitemapList(CanonicalLinks canonical = CanonicalLinks::Honoured)
      : canonical_(canonical) {}
  // Decides about one page and lists it when it qualifies.
  XmlVerdict Add(const PageListing& page);
  // Hands each entry listed to visit, in order.
  void ForEach(const std::function<void(const XmlSitemapEntry&)>& visit) const;
  size_t size() const { return size_; }
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
  // The block size for the entries' bytes: "loc" NUL "lastmod" NUL for each.
  static constexpr size_t kBlockBytes = 1 << 20;
  void Keep(std::string_view loc, std::string_view lastmod);

  std::vector<std::string> blocks_;
  size_t size_ = 0;
  std::unordered_set<uint64_t> listed_;
  int counts_[8] = {};
};

struct XmlFileLimits {
  size_t maxUrls = kMaxSitemapUrls;
  size_t maxBytes = kMaxSitemapBytes;
};

// The bytes of a urlset without any <url>: what every part's size limit must leave room for.
size_t UrlsetFrameForTests();

// The <url> element of one entry, with its line end.
std::string XmlUrlElement(const XmlSitemapEntry& entry);

// Writes the entries given to Add into folder as urlsets within the limits, as they fill: at
// most one part's text is held. One part is "sitemap.xml"; more are "sitemap-1.xml", ...
// followed by "sitemap.xml" as their index, whose <loc>s are siteRoot + the part's name
// (siteRoot ends in "/"; empty means the root of the first entry's address). With gzip every name ends in ".xml.gz". Each file is written under a
// temporary name and renamed into place, and the index comes last, so sitemap.xml never names
// a part that is not there. No entry at all gives one empty urlset (which the schema refuses:
// the run writes none).
class XmlSitemapWriter {
 public:
  XmlSitemapWriter(std::string folder, std::string siteRoot, bool gzip,
                   const XmlFileLimits& limits = {});
  // False once a file could not be written (error() says why; later entries are dropped).
  bool Add(const XmlSitemapEntry& entry);
  // Writes the last part and, when there are several, the index.
  bool Finish();
  // The paths written, in order.
  const std::vector<std::string>& written() const { return written_; }
  const std::string& error() const { return error_; }

 private:
  std::string PartName(size_t number) const;
  // The part being filled is closed and written (the first is held until a second begins).
  bool ClosePart();
  bool Write(const std::string& name, const std::string& text);

  std::string folder_;
  std::string siteRoot_;
  std::string suffix_;
  XmlFileLimits limits_;
  std::string part_;
  size_t partUrls_ = 0;
  size_t parts_ = 0;
  // The first part's text until it is known whether it is the only one.
  std::string first_;
  std::vector<std::string> written_;
  std::string error_;
};

// "scheme://host[:port]/" of an absolute address, or "" when it has none.
std::string SiteRootOf(std::string_view url);

// The gzip form (RFC 1952) of text. False when zlib fails.
bool GzipText(std::string_view text, std::string& out);

}  // namespace tollwick
