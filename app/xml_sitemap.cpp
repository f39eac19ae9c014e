#include "app/xml_sitemap.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/failure_reason_log.h"
#include "base/ascii.h"
#include "base/xml_file.h"

namespace tollwick {
namespace {

constexpr char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr char kPartPrefix[] = "sitemap-";
// Compressed output grows by this much at a time.
constexpr size_t kGzipChunk = 64 * 1024;

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Bytes that may not stand in a URI as they are (RFC 3986 section 2): controls, space, non-ASCII
// and the delimiters no URI holds unencoded.
bool NeedsPercent(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

std::string UrlsetOpening() {
  return std::string(kXmlDeclaration) + "<urlset xmlns=\"" + kSitemapNamespace + "\">\n";
}
constexpr char kUrlsetClosing[] = "</urlset>\n";

std::string IndexText(const std::vector<std::string>& locs) {
  std::string text =
      std::string(kXmlDeclaration) + "<sitemapindex xmlns=\"" + kSitemapNamespace + "\">\n";
  for (const std::string& loc : locs) {
    text += "<sitemap><loc>" + XmlLocText(loc) + "</loc></sitemap>\n";
  }
  return text + "</sitemapindex>\n";
}

// Written beside the target and renamed over it, so a reader never sees half a sitemap.
bool WriteAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  FailureReasonLog log;
  if (bytes.size() <= UINT32_MAX &&
      quillon::ReplaceFileAtomically(path.c_str(), bytes.data(),
                                     static_cast<uint32_t>(bytes.size()), log)) {
    return true;
  }
  error = "Could not save the XML sitemap to " + path + ": " +
          (log.reason().empty() ? std::string("the file could not be written") : log.reason());
  return false;
}

}  // namespace

std::string W3cDateTime(std::string_view httpDate) {
  std::string text(quillon::Trimmed(httpDate));
  char weekday[4] = {};
  char month[4] = {};
  unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int consumed = -1;
  if (std::sscanf(text.c_str(), "%3[A-Za-z], %2u %3[A-Za-z] %4u %2u:%2u:%2u GMT%n", weekday, &day,
                  month, &year, &hour, &minute, &second, &consumed) != 7 ||
      consumed != static_cast<int>(text.size())) {
    return std::string();
  }
  unsigned monthNumber = 0;
  for (unsigned i = 0; i < 12; ++i) {
    if (std::strcmp(month, kMonths[i]) == 0) monthNumber = i + 1;
  }
  if (monthNumber == 0 || year < 1000 || day < 1 || day > DaysInMonth(year, monthNumber) ||
      hour > 23 || minute > 59 || second > 59) {
    return std::string();
  }
  char out[64];
  std::snprintf(out, sizeof out, "%04u-%02u-%02uT%02u:%02u:%02u+00:00", year, monthNumber, day,
                hour, minute, second);
  return out;
}

bool IsHtmlContentType(std::string_view contentType) {
  std::string_view media = quillon::Trimmed(contentType.substr(0, contentType.find(';')));
  return quillon::EqualsNoCase(media, "text/html") ||
         quillon::EqualsNoCase(media, "application/xhtml+xml");
}

std::string XmlLocText(std::string_view url) {
  std::string out;
  out.reserve(url.size());
  for (char c : url) {
    auto byte = static_cast<unsigned char>(c);
    if (NeedsPercent(byte)) {
      out += '%';
      out += quillon::HexDigit(byte >> 4);
      out += quillon::HexDigit(byte);
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '\'') {
      out += "&apos;";
    } else {
      out += c;
    }
  }
  return out;
}

XmlVerdict XmlSitemapList::Add(const PageListing& page) {
  XmlVerdict verdict = XmlVerdict::Listed;
  std::string_view url = page.finalUrl;
  bool absolute =
      quillon::StartsWithNoCase(url, "http://") || quillon::StartsWithNoCase(url, "https://");
  if (page.offSiteRedirect) {
    verdict = XmlVerdict::OffSite;
  } else if (page.statusCode < 200 || page.statusCode > 299) {
    verdict = XmlVerdict::NotSuccess;
  } else if (!IsHtmlContentType(page.contentType)) {
    verdict = XmlVerdict::NotHtml;
  } else if (page.noindex) {
    verdict = XmlVerdict::Noindex;
  } else if (canonical_ == CanonicalLinks::Honoured && !page.canonical.empty() &&
             page.canonical != page.finalUrl) {
    verdict = XmlVerdict::CanonicalElsewhere;
  } else if (!absolute || url.size() > kMaxSitemapUrlLength) {
    verdict = XmlVerdict::Unusable;
  } else if (!listed_.insert(std::hash<std::string_view>{}(page.finalUrl)).second) {
    verdict = XmlVerdict::Duplicate;
  } else {
    Keep(page.finalUrl, W3cDateTime(page.lastModified));
  }
  ++counts_[static_cast<size_t>(verdict)];
  return verdict;
}

void XmlSitemapList::Keep(std::string_view loc, std::string_view lastmod) {
  const size_t bytes = loc.size() + lastmod.size() + 2;
  if (blocks_.empty() || blocks_.back().size() + bytes > blocks_.back().capacity()) {
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(kBlockBytes, bytes));
  }
  std::string& block = blocks_.back();
  block.append(loc).push_back('\0');
  block.append(lastmod).push_back('\0');
  ++size_;
}

void XmlSitemapList::ForEach(const std::function<void(const XmlSitemapEntry&)>& visit) const {
  XmlSitemapEntry entry;
  for (const std::string& block : blocks_) {
    for (size_t at = 0; at < block.size();) {
      const size_t locEnd = block.find('\0', at);
      const size_t dateEnd = block.find('\0', locEnd + 1);
      entry.loc.assign(block, at, locEnd - at);
      entry.lastmod.assign(block, locEnd + 1, dateEnd - locEnd - 1);
      visit(entry);
      at = dateEnd + 1;
    }
  }
}

const char* XmlVerdictText(XmlVerdict verdict) {
  switch (verdict) {
    case XmlVerdict::Listed:
      return "listed";
    case XmlVerdict::NotHtml:
      return "not HTML";
    case XmlVerdict::Noindex:
      return "noindex";
    case XmlVerdict::CanonicalElsewhere:
      return "canonical elsewhere";
    case XmlVerdict::OffSite:
      return "redirected off the site";
    case XmlVerdict::NotSuccess:
      return "not answered 2xx";
    case XmlVerdict::Unusable:
      return "unusable address";
    case XmlVerdict::Duplicate:
      return "duplicate";
  }
  return "";
}

std::string XmlSitemapList::SummaryText() const {
  static constexpr XmlVerdict kReasons[] = {
      XmlVerdict::NotHtml,  XmlVerdict::Noindex,    XmlVerdict::CanonicalElsewhere,
      XmlVerdict::OffSite,  XmlVerdict::NotSuccess, XmlVerdict::Unusable,
      XmlVerdict::Duplicate,
  };
  std::string reasons;
  for (XmlVerdict reason : kReasons) {
    if (Count(reason) == 0) continue;
    reasons += (reasons.empty() ? "" : ", ") + std::to_string(Count(reason)) + " " +
               XmlVerdictText(reason);
  }
  size_t listed = size_;
  std::string text =
      std::to_string(listed) + (listed == 1 ? " URL" : " URLs") + " in the XML sitemap";
  return reasons.empty() ? text : text + " (left out: " + reasons + ")";
}

std::string XmlSitemapList::NothingListedText(std::string_view fileName) const {
  return SummaryText() + ": no " + std::string(fileName) +
         " written, as a sitemap must list at least one URL";
}

size_t UrlsetFrameForTests() { return UrlsetOpening().size() + std::strlen(kUrlsetClosing); }

std::string XmlUrlElement(const XmlSitemapEntry& entry) {
  std::string element = "<url><loc>" + XmlLocText(entry.loc) + "</loc>";
  if (!entry.lastmod.empty()) element += "<lastmod>" + entry.lastmod + "</lastmod>";
  return element + "</url>\n";
}

XmlSitemapWriter::XmlSitemapWriter(std::string folder, std::string siteRoot, bool gzip,
                                   const XmlFileLimits& limits)
    : folder_(std::move(folder)),
      siteRoot_(std::move(siteRoot)),
      suffix_(gzip ? ".xml.gz" : ".xml"),
      limits_(limits),
      part_(UrlsetOpening()) {}

std::string XmlSitemapWriter::PartName(size_t number) const {
  return kPartPrefix + std::to_string(number) + suffix_;
}

bool XmlSitemapWriter::Add(const XmlSitemapEntry& entry) {
  if (!error_.empty()) return false;
  if (siteRoot_.empty()) siteRoot_ = SiteRootOf(entry.loc);
  const std::string element = XmlUrlElement(entry);
  const bool full = partUrls_ == limits_.maxUrls ||
                    part_.size() + element.size() + std::strlen(kUrlsetClosing) > limits_.maxBytes;
  if (partUrls_ > 0 && full && !ClosePart()) return false;
  part_ += element;
  ++partUrls_;
  return true;
}

bool XmlSitemapWriter::ClosePart() {
  part_ += kUrlsetClosing;
  ++parts_;
  bool ok = true;
  if (parts_ == 1) {
    first_ = std::move(part_);
  } else {
    if (parts_ == 2) ok = Write(PartName(1), first_);
    first_ = std::string();
    ok = ok && Write(PartName(parts_), part_);
  }
  part_ = UrlsetOpening();
  partUrls_ = 0;
  return ok;
}

bool XmlSitemapWriter::Finish() {
  if (!error_.empty() || !ClosePart()) return false;
  if (parts_ == 1) return Write("sitemap" + suffix_, first_);
  std::vector<std::string> locs;
  for (size_t number = 1; number <= parts_; ++number) locs.push_back(siteRoot_ + PartName(number));
  return Write("sitemap" + suffix_, IndexText(locs));
}

bool XmlSitemapWriter::Write(const std::string& name, const std::string& text) {
  const std::string path = folder_ + "/" + name;
  std::string compressed;
  const bool gzip = name.ends_with(".gz");
  if (gzip && !GzipText(text, compressed)) {
    error_ = "Could not compress " + path;
    return false;
  }
  if (!WriteAtomically(path, gzip ? compressed : text, error_)) return false;
  written_.push_back(path);
  return true;
}

std::string SiteRootOf(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string();
  size_t end = url.find_first_of("/?#", scheme + 3);
  return std::string(url.substr(0, end)) + "/";
}

bool GzipText(std::string_view text, std::string& out) {
  out.clear();
  z_stream stream{};
  // 15 window bits + 16: a gzip wrapper with a zero time stamp, so equal input gives equal bytes.
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return false;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  int status = Z_OK;
  while (status == Z_OK) {
    size_t used = out.size();
    out.resize(used + kGzipChunk);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream.avail_out = static_cast<uInt>(kGzipChunk);
    status = deflate(&stream, Z_FINISH);
    out.resize(used + kGzipChunk - stream.avail_out);
  }
  deflateEnd(&stream);
  return status == Z_STREAM_END;
}

}  // namespace tollwick
