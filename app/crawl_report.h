// The crawl report's facts, gathered as the run lists pages and meets failures: counters,
// histograms, the slowest and largest pages, and tables that keep their first 1,000 rows and
// count the rest. Titles and descriptions are kept as 64-bit hashes, not as text; every row goes
// to pages.csv through a scratch file, and the facts known only at the end (inlinks, referrers
// of broken links, duplicates, orphans) are added when the crawl ends, while the page source
// still lives. The files themselves are written by WriteCrawlReport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/generate_run.h"
#include "app/pages_csv.h"
#include "app/xml_sitemap.h"

namespace tollwick {

// Rows each table of the report keeps; the rest are counted ("and N more").
inline constexpr size_t kReportRowLimit = 1000;
// The slowest and the largest pages shown.
inline constexpr size_t kReportTopCount = 20;
// Referrers shown per broken link.
inline constexpr size_t kReportReferrerLimit = 5;
// Lengths (characters) past which search engines cut titles and descriptions.
inline constexpr size_t kTitleCharacterLimit = 60;
inline constexpr size_t kDescriptionCharacterLimit = 160;

// A table that keeps its first rows and counts all.
template <typename Row>
class CappedTable {
 public:
  explicit CappedTable(size_t cap = kReportRowLimit) : cap_(cap) {}
  // Keeps row when there is room; counts it either way. Returns the kept row or null.
  Row* Add(Row row) {
    ++total_;
    if (rows_.size() >= cap_) return nullptr;
    rows_.push_back(std::move(row));
    return &rows_.back();
  }
  std::vector<Row>& rows() { return rows_; }
  const std::vector<Row>& rows() const { return rows_; }
  size_t total() const { return total_; }
  // Rows counted but not kept.
  size_t more() const { return total_ - rows_.size(); }

 private:
  size_t cap_;
  std::vector<Row> rows_;
  size_t total_ = 0;
};

// Counts in fixed buckets: bucket i holds the values below bounds[i] not in an earlier one; the
// last bucket (one more than there are bounds) holds the rest.
class Histogram {
 public:
  explicit Histogram(std::vector<uint64_t> bounds)
      : bounds_(std::move(bounds)), counts_(bounds_.size() + 1) {}
  void Add(uint64_t value);
  const std::vector<uint64_t>& bounds() const { return bounds_; }
  const std::vector<uint64_t>& counts() const { return counts_; }

 private:
  std::vector<uint64_t> bounds_;
  std::vector<uint64_t> counts_;
};

// The pages with the largest values, largest first (earlier pages first among equals).
class TopPages {
 public:
  explicit TopPages(size_t count = kReportTopCount) : count_(count) {}
  void Add(uint64_t value, const std::string& url);
  const std::vector<std::pair<uint64_t, std::string>>& rows() const { return rows_; }

 private:
  size_t count_;
  std::vector<std::pair<uint64_t, std::string>> rows_;
};

struct BrokenLink {
  std::string url;
  std::string reason;
  uint32_t inlinks = 0;
  std::vector<std::string> referrers;  // the first ones
};

struct RedirectRow {
  std::string source;
  std::string target;
  int status = 0;
  int hops = 0;
  bool offSite = false;
};

// A page and what a check found in it.
struct PageNote {
  std::string url;
  std::string text;
};

struct DuplicateGroup {
  std::string text;
  size_t pages = 0;
  std::vector<std::string> urls;  // the first ones
};

// One table of pages sharing a title (or a description).
struct Duplicates {
  CappedTable<DuplicateGroup> groups;
  size_t pages = 0;  // pages in all the groups
  // Each text's group among the rows, or SIZE_MAX for a group counted but not kept.
  std::unordered_map<uint64_t, size_t> groupOf;
};

// Answers by status class: none came, 1xx ... 5xx.
enum class StatusClass { kNone, k1xx, k2xx, k3xx, k4xx, k5xx };
inline constexpr size_t kStatusClasses = 6;
StatusClass StatusClassOf(int status);

struct ReportFacts {
  int listed = 0;
  int failed = 0;
  int tooLarge = 0;
  uint64_t statusClasses[kStatusClasses] = {};
  // Listed pages by link depth; the last entry counts the deepest ones together.
  std::vector<uint64_t> depths;
  Histogram answerMs{{50, 100, 250, 500, 1000, 2000, 5000}};
  Histogram pageBytes{{5000, 10000, 20000, 50000, 100000, 200000, 500000}};
  TopPages slowest;
  TopPages largest;
  CappedTable<BrokenLink> broken;
  CappedTable<PageNote> overSizeLimit;
  CappedTable<RedirectRow> redirects;
  size_t redirectChains = 0;
  size_t redirectsOffSite = 0;
  // Pages left out of sitemap.xml and why, with the count of each reason.
  CappedTable<PageNote> notInSitemap;
  std::map<std::string, size_t> notInSitemapReasons;
  size_t inSitemap = 0;
  // The checks run on the pages sitemap.xml lists.
  CappedTable<PageNote> missingTitle;
  CappedTable<PageNote> missingDescription;
  CappedTable<PageNote> longTitle;
  CappedTable<PageNote> longDescription;
  Duplicates duplicateTitles;
  Duplicates duplicateDescriptions;
  // The site's own sitemaps; scanned is false when they were not read (the crawl ended early).
  bool sitemapsScanned = false;
  SiteSitemapsFound sitemaps;
  // The CSV's rows and whether it was written.
  size_t csvRows = 0;
};

// The number of characters (UTF-8 code points) of text.
size_t CharacterCount(std::string_view text);
// The 64-bit FNV-1a hash of text.
uint64_t TextHash(std::string_view text);

class CrawlReport {
 public:
  CrawlReport();
  // Starts the scratch file of the CSV's rows in folder. False with the reason in error.
  bool Begin(const std::string& folder, std::string& error);
  // A listed page: what the run read of it, its XML sitemap verdict, and from source its
  // timing and where the crawl met it.
  void AddPage(PageSource& source, const std::string& url, const std::string& title,
               const std::string& description, const PageListing& listing, XmlVerdict verdict);
  // A URL left out (failed or too large).
  void AddLeftOut(PageSource& source, const LeftOutPage& page);
  // When the crawl ends, with the source still there: the inlinks and referrers, the site's
  // own sitemaps (unless the crawl ended early: stopped or at its page limit), the duplicates,
  // and pages.csv written into the folder (through a temporary file). False with the reason in
  // error when pages.csv failed.
  bool CrawlEnded(PageSource& source, bool endedEarly, std::string& error);

  const ReportFacts& facts() const { return facts_; }
  // Milliseconds from construction to CrawlEnded.
  uint64_t durationMs() const { return durationMs_; }
  const quillon::SystemTime& started() const { return started_; }

 private:
  void AddRow(const PageRow& row);
  void NoteDuplicate(Duplicates& table, const std::vector<uint64_t>& hashes,
                     const std::string& text, const std::string& url);

  ReportFacts facts_;
  std::string folder_;
  PageSpool spool_;
  std::vector<uint64_t> titleHashes_;
  std::vector<uint64_t> descriptionHashes_;
  quillon::SystemTime started_;
  uint32_t startTick_ = 0;
  uint64_t durationMs_ = 0;
};

// Makes the report of a run into the output folder's scratch file. False (reported through the
// hooks; report stays null) when the file cannot be made.
bool StartCrawlReport(const SitemapFields& fields, FrontEndHooks& hooks,
                      std::unique_ptr<CrawlReport>& report);
// CrawlEnded, its failure reported through the hooks.
bool FinishCrawlReport(CrawlReport& report, PageSource& source, const CrawlSummary& summary,
                       FrontEndHooks& hooks);

// What the report says of the run besides the crawl's own facts.
struct ReportRun {
  std::string siteUrl;
  std::string dateText;
  // "name: value" lines of the options that change what is crawled.
  std::vector<std::string> options;
  CrawlSummary summary;
  std::string xmlSummary;
};

// The options of a run worth naming in its report.
std::vector<std::string> ReportOptionLines(const SitemapFields& fields, const RunOptions& options);

// Writes report.html into the output folder (through a temporary file). False when it failed
// (reported through the hooks); else the hooks hear where it went.
bool WriteCrawlReport(const SitemapFields& fields, const RunOptions& options,
                      const CrawlReport& report, const CrawlSummary& summary,
                      const XmlSitemapList& xml, FrontEndHooks& hooks);

}  // namespace tollwick
