#include "app/crawl_report.h"

#include <algorithm>

#include "app/failure_reason_log.h"
#include "app/output_folder.h"
#include "app/report_html.h"
#include "app/site_address.h"
#include "base/xml_file.h"

namespace tollwick {
namespace {

// Depths shown one by one; deeper pages are counted together.
constexpr size_t kDepthBuckets = 16;
// pages.csv is written in blocks of about this size.
constexpr size_t kCsvBlock = 1 << 20;
// The scratch file of rows, beside the output files until the crawl ends.
constexpr char kSpoolName[] = ".pages.csv.rows";

bool IsDuplicateHash(const std::vector<uint64_t>& sorted, uint64_t hash) {
  auto [first, last] = std::equal_range(sorted.begin(), sorted.end(), hash);
  return last - first > 1;
}

std::string RedirectReason(const PageListing& listing, const PageTiming& timing) {
  std::string reason = "redirected to " + listing.finalUrl;
  if (timing.redirectHops > 1) reason += " in " + std::to_string(timing.redirectHops) + " steps";
  return reason;
}

}  // namespace

StatusClass StatusClassOf(int status) {
  if (status < 100 || status > 599) return StatusClass::kNone;
  return static_cast<StatusClass>(status / 100);
}

void Histogram::Add(uint64_t value) {
  size_t bucket = static_cast<size_t>(std::upper_bound(bounds_.begin(), bounds_.end(), value) -
                                      bounds_.begin());
  ++counts_[bucket];
}

void TopPages::Add(uint64_t value, const std::string& url) {
  if (rows_.size() == count_ && value <= rows_.back().first) return;
  auto at = std::find_if(rows_.begin(), rows_.end(),
                         [value](const auto& row) { return row.first < value; });
  rows_.insert(at, {value, url});
  if (rows_.size() > count_) rows_.pop_back();
}

size_t CharacterCount(std::string_view text) {
  // Every byte but a UTF-8 continuation byte starts a character.
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

uint64_t TextHash(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

CrawlReport::CrawlReport() : started_(quillon::LocalTimeNow()), startTick_(quillon::TickCount()) {
  facts_.depths.assign(kDepthBuckets, 0);
}

bool CrawlReport::Begin(const std::string& folder, std::string& error) {
  folder_ = folder;
  return spool_.Open(folder + "/" + kSpoolName, error);
}

void CrawlReport::AddRow(const PageRow& row) {
  ++facts_.statusClasses[static_cast<size_t>(StatusClassOf(row.status))];
  spool_.Add(row);
}

void CrawlReport::AddPage(PageSource& source, const std::string& url, const std::string& title,
                          const std::string& description, const PageListing& listing,
                          XmlVerdict verdict) {
  const PageTiming timing = source.CurrentPageTiming();
  LinkInfo link = source.LinkInfoOf(url);
  PageRow row;
  row.url = url;
  row.status = timing.redirectStatus != 0 ? timing.redirectStatus : listing.statusCode;
  if (timing.redirectStatus != 0) row.reason = RedirectReason(listing, timing);
  row.depth = link.depth;
  row.referrer = std::move(link.referrer);
  row.title = title;
  row.description = description;
  row.bytes = timing.bytes;
  row.ms = timing.answerMs;
  row.contentType = listing.contentType;
  row.inSitemap = verdict == XmlVerdict::Listed;
  if (!row.inSitemap) row.notInSitemapBecause = XmlVerdictText(verdict);
  row.lastModified = listing.lastModified;
  AddRow(row);

  ++facts_.listed;
  ++facts_.depths[std::min(static_cast<size_t>(std::max(row.depth, 0)), kDepthBuckets - 1)];
  facts_.answerMs.Add(timing.answerMs);
  facts_.pageBytes.Add(timing.bytes);
  facts_.slowest.Add(timing.answerMs, url);
  facts_.largest.Add(timing.bytes, url);
  if (timing.redirectStatus != 0) {
    facts_.redirects.Add({url, listing.finalUrl, timing.redirectStatus, timing.redirectHops,
                          listing.offSiteRedirect});
    facts_.redirectChains += timing.redirectHops > 1 ? 1 : 0;
    facts_.redirectsOffSite += listing.offSiteRedirect ? 1 : 0;
  }
  if (!row.inSitemap) {
    facts_.notInSitemap.Add({url, row.notInSitemapBecause});
    ++facts_.notInSitemapReasons[row.notInSitemapBecause];
    return;
  }
  ++facts_.inSitemap;
  if (title.empty()) {
    facts_.missingTitle.Add({url, {}});
  } else {
    titleHashes_.push_back(TextHash(title));
    if (CharacterCount(title) > kTitleCharacterLimit) facts_.longTitle.Add({url, title});
  }
  if (description.empty()) {
    facts_.missingDescription.Add({url, {}});
  } else {
    descriptionHashes_.push_back(TextHash(description));
    if (CharacterCount(description) > kDescriptionCharacterLimit) {
      facts_.longDescription.Add({url, description});
    }
  }
}

void CrawlReport::AddLeftOut(PageSource& source, const LeftOutPage& page) {
  LinkInfo link = source.LinkInfoOf(page.url);
  PageRow row;
  row.url = page.url;
  row.status = page.statusCode;
  row.reason = page.reason;
  row.depth = link.depth;
  row.referrer = std::move(link.referrer);
  row.notInSitemapBecause = page.tooLarge ? "too large" : "failed";
  AddRow(row);
  facts_.notInSitemap.Add({page.url, row.notInSitemapBecause});
  ++facts_.notInSitemapReasons[row.notInSitemapBecause];
  if (page.tooLarge) {
    ++facts_.tooLarge;
    facts_.overSizeLimit.Add({page.url, page.reason});
  } else {
    ++facts_.failed;
    facts_.broken.Add({page.url, page.reason, 0, {}});
  }
}

void CrawlReport::NoteDuplicate(Duplicates& table, const std::vector<uint64_t>& hashes,
                                const std::string& text, const std::string& url) {
  if (text.empty()) return;
  const uint64_t hash = TextHash(text);
  if (!IsDuplicateHash(hashes, hash)) return;
  ++table.pages;
  auto [at, first] = table.groupOf.try_emplace(hash, SIZE_MAX);
  if (first && table.groups.Add({text, 0, {}}) != nullptr) {
    at->second = table.groups.rows().size() - 1;
  }
  if (at->second == SIZE_MAX) return;
  DuplicateGroup& group = table.groups.rows()[at->second];
  ++group.pages;
  if (group.urls.size() < kReportReferrerLimit) group.urls.push_back(url);
}

bool CrawlReport::CrawlEnded(PageSource& source, bool endedEarly, std::string& error) {
  durationMs_ = quillon::TickCount() - startTick_;
  for (BrokenLink& link : facts_.broken.rows()) {
    link.inlinks = source.LinkInfoOf(link.url).inlinks;
    link.referrers = source.Referrers(link.url);
    if (link.referrers.size() > kReportReferrerLimit) link.referrers.resize(kReportReferrerLimit);
  }
  // A crawl that ended early has not met the links that would tell an orphan from a page not
  // yet seen.
  if (!endedEarly) {
    facts_.sitemapsScanned = true;
    source.ScanSiteSitemaps(facts_.sitemaps, kReportRowLimit);
  }

  std::sort(titleHashes_.begin(), titleHashes_.end());
  std::sort(descriptionHashes_.begin(), descriptionHashes_.end());
  FailureReasonLog log;
  quillon::ReplacingFile csv;
  const std::string path = folder_ + "/pages.csv";
  std::string block = CsvHeaderLine();
  bool ok = csv.begin(path.c_str(), log);
  ok = ok && spool_.Replay([&](PageRow& row) {
    row.inlinks = source.LinkInfoOf(row.url).inlinks;
    if (row.inSitemap) {
      NoteDuplicate(facts_.duplicateTitles, titleHashes_, row.title, row.url);
      NoteDuplicate(facts_.duplicateDescriptions, descriptionHashes_, row.description, row.url);
    }
    block += CsvLine(row);
    if (block.size() >= kCsvBlock && ok) {
      ok = csv.append(block.data(), static_cast<uint32_t>(block.size()), log);
      block.clear();
    }
  });
  ok = ok && csv.append(block.data(), static_cast<uint32_t>(block.size()), log) && csv.commit(log);
  facts_.csvRows = spool_.rows();
  spool_.Remove();
  std::vector<uint64_t>().swap(titleHashes_);
  std::vector<uint64_t>().swap(descriptionHashes_);
  if (!ok) {
    std::string reason = !spool_.error().empty() ? spool_.error() : log.reason();
    error = "Could not save the page list to " + path + ": " +
            (reason.empty() ? "the file could not be written" : reason);
  }
  return ok;
}

std::vector<std::string> ReportOptionLines(const SitemapFields& fields, const RunOptions& options) {
  std::vector<std::string> lines;
  const EngineOptions& engine = fields.engine;
  auto patterns = [&lines](const char* name, const std::vector<std::string>& list) {
    if (list.empty()) return;
    std::string text;
    for (const std::string& pattern : list) text += (text.empty() ? "" : " ") + pattern;
    lines.push_back(std::string(name) + ": " + text);
  };
  lines.push_back("pause between pages: " + std::to_string(options.delayMs) + " ms");
  lines.push_back("page size limit: " + std::to_string(options.source.maxPageSize) + " bytes");
  if (options.maxPages != 0) lines.push_back("page limit: " + std::to_string(options.maxPages));
  if (engine.maxUrls != 0) {
    lines.push_back("queueing stops after: " + std::to_string(engine.maxUrls) + " pages");
  }
  patterns("avoid", engine.avoid);
  patterns("must match", engine.mustMatch);
  patterns("outbound avoid", engine.outboundAvoid);
  if (engine.dropQueryStrings) lines.push_back("query strings dropped");
  if (engine.dropHttps) lines.push_back("https links dropped");
  if (engine.respectNofollow) lines.push_back("nofollow respected");
  if (options.ignoreCanonical) lines.push_back("canonical links ignored");
  if (!engine.userAgent.empty()) lines.push_back("user agent: " + engine.userAgent);
  lines.push_back("robots.txt agent: " + engine.robotsAgent);
  if (!options.source.login.empty()) lines.push_back("logged in");
  if (!options.source.cookieDir.empty()) lines.push_back("cookies kept");
  if (!options.source.cacheDir.empty()) lines.push_back("answers cached");
  return lines;
}

bool StartCrawlReport(const SitemapFields& fields, FrontEndHooks& hooks,
                      std::unique_ptr<CrawlReport>& report) {
  report = std::make_unique<CrawlReport>();
  std::string error;
  if (report->Begin(fields.outputFolder, error)) return true;
  report.reset();
  hooks.ReportFailure("Could not start the crawl report in " + fields.outputFolder + ": " + error);
  return false;
}

bool FinishCrawlReport(CrawlReport& report, PageSource& source, const CrawlSummary& summary,
                       FrontEndHooks& hooks) {
  std::string error;
  // A crawl that ended early (a stop, the page limit) left links unseen.
  const bool endedEarly = summary.stopped || summary.pageLimit != 0;
  if (report.CrawlEnded(source, endedEarly, error)) return true;
  hooks.ReportFailure(error);
  return false;
}

bool WriteCrawlReport(const SitemapFields& fields, const RunOptions& options,
                      const CrawlReport& report, const CrawlSummary& summary,
                      const XmlSitemapList& xml, FrontEndHooks& hooks) {
  ReportRun run;
  // A password typed into the address is used for the crawl, never written.
  run.siteUrl = WithoutUserInfo(fields.siteUrl);
  run.dateText = LocaleDateTimeText(TmOf(report.started()));
  run.options = ReportOptionLines(fields, options);
  run.summary = summary;
  run.xmlSummary = fields.xmlSitemap ? xml.SummaryText() : std::string();
  const std::string html = ReportHtml(report, run);
  const std::string path = fields.outputFolder + "/report.html";
  FailureReasonLog log;
  if (!quillon::ReplaceFileAtomically(path.c_str(), html.data(), static_cast<uint32_t>(html.size()),
                                      log)) {
    hooks.ReportFailure("Could not save the crawl report to " + path + ": " +
                        (log.reason().empty() ? "the file could not be written" : log.reason()));
    return false;
  }
  hooks.ReportWritten(path);
  return true;
}

}  // namespace tollwick
