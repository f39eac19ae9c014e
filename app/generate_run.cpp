#include "app/generate_run.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>

#include "app/crawl_report.h"
#include "app/failure_reason_log.h"
#include "app/output_folder.h"
#include "app/site_address.h"
#include "app/sitemap_writer.h"
#include "app/streamed_output.h"
#include "base/file_access.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "base/xml_file.h"
#include "http/parse_url.h"

namespace tollwick {
namespace {

// The pause is cut into slices so that a stop request is heard quickly.
constexpr uint32_t kSleepSliceMs = 50;

std::unique_ptr<PageSource> NewSource(const PageSourceFactory& make, FrontEndHooks& hooks,
                                      const SourceSettings& settings) {
  return make ? make(hooks, settings) : MakeSpiderSource(hooks, settings);
}

void PauseUnlessStopped(uint32_t delayMs, FrontEndHooks& hooks, const SleepFunction& sleep) {
  while (delayMs > 0 && !hooks.StopRequested()) {
    uint32_t slice = std::min(delayMs, kSleepSliceMs);
    if (sleep) {
      sleep(slice);
    } else {
      quillon::SleepMs(slice);
    }
    delayMs -= slice;
  }
}

// "scheme://" at the start, the scheme made of a letter then letters, digits, "+", "-", ".".
bool HasScheme(const std::string& url) {
  size_t end = url.find("://");
  if (end == std::string::npos || end == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  return std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(end), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

// Reported through the hooks as what + " " + path + ": " + the system's reason.
void ReportSaveFailure(const char* what, const std::string& path, const FailureReasonLog& log,
                       FrontEndHooks& hooks) {
  std::string reason = log.reason().empty() ? "the file could not be written" : log.reason();
  hooks.ReportFailure(std::string(what) + " " + path + ": " + reason);
}

// Bytes unchanged ("ansi"), written in place: the diagnostic list goes to a file the user may
// have named and that was checked for writing. A link in its place is refused.
bool SaveAnsiText(const std::string& path, const std::string& text, const char* what,
                  FrontEndHooks& hooks) {
  FailureReasonLog log;
  bool saved = text.size() <= UINT32_MAX &&
               quillon::writeWholeFile(path.c_str(), text.data(),
                                       static_cast<uint32_t>(text.size()), &log);
  if (!saved) ReportSaveFailure(what, path, log, hooks);
  return saved;
}

// Renames a streamed file into place; a failure is reported through the hooks.
bool CommitOutput(StreamedOutput& output, const char* what, FrontEndHooks& hooks) {
  std::string reason;
  if (output.Commit(reason)) return true;
  hooks.ReportFailure(std::string(what) + " " + output.path() + ": " + reason);
  return false;
}

// After a run whose files are incomplete: the other fields are saved as after any run, but
// "Last Folder" keeps naming the last complete one.
void SaveSettingsWithoutFolder(const SitemapFields& fields, FrontEndHooks& hooks) {
  SitemapFields kept = fields;
  kept.outputFolder.clear();
  hooks.SaveSettings(kept);
}

CanonicalLinks CanonicalLinksOf(const RunOptions& options) {
  return options.ignoreCanonical ? CanonicalLinks::Ignored : CanonicalLinks::Honoured;
}


std::string DateText(const quillon::SystemTime& when) { return LocaleDateTimeText(TmOf(when)); }

// The pause after a page: the run's, or the longer one the site's robots.txt asks for (told
// to the front end once), or longer still while the site answers busy. None when the source
// keeps the pace itself.
uint32_t PauseAfterPage(PageSource& spider, uint32_t delayMs, FrontEndHooks& hooks,
                        uint32_t& crawlDelayTold) {
  const uint32_t crawlDelay = spider.CrawlDelayMs();
  if (crawlDelay > delayMs && crawlDelay != crawlDelayTold) hooks.CrawlDelayKept(crawlDelay);
  if (crawlDelay > delayMs) crawlDelayTold = crawlDelay;
  if (spider.PacesItself()) return 0;
  return std::max({delayMs, crawlDelay, spider.BusyBackoffMs()});
}

// Adds the pages the last crawl step left out to the summary (and to the report when there is
// one); a page over the size limit is reported as it is skipped.
void NoteLeftOutPages(PageSource& spider, FrontEndHooks& hooks, CrawlSummary& summary,
                      CrawlReport* report) {
  int count = spider.LeftOutCount();
  for (int i = static_cast<int>(summary.leftOut.size()); i < count; ++i) {
    summary.leftOut.push_back(spider.LeftOut(i));
    const LeftOutPage& page = summary.leftOut.back();
    if (report != nullptr) report->AddLeftOut(spider, page);
    if (page.tooLarge) {
      hooks.PageTooLarge(page);
    } else {
      hooks.PageFailed(page);
    }
  }
  count = spider.WarningCount();
  for (int i = static_cast<int>(summary.warnings.size()); i < count; ++i) {
    summary.warnings.push_back(spider.Warning(i));
    hooks.CrawlWarning(summary.warnings.back());
  }
}

}  // namespace

void AddMissingScheme(std::string& siteUrl) {
  if (!siteUrl.empty() && !HasScheme(siteUrl)) siteUrl.insert(0, "http://");
}

bool LooksLikeFolder(const std::string& siteUrl) {
  if (siteUrl.empty()) return true;
  if (siteUrl.back() == '/' || siteUrl.find('?') != std::string::npos) return false;
  size_t hostStart = siteUrl.find("://");
  hostStart = hostStart == std::string::npos ? 0 : hostStart + 3;
  size_t pathStart = siteUrl.find('/', hostStart);
  if (pathStart == std::string::npos) return true;  // a bare host
  return siteUrl.find('.', siteUrl.rfind('/') + 1) == std::string::npos;
}

void EnsureTrailingSlash(SitemapFields& fields, FrontEndHooks& hooks) {
  std::string& url = fields.siteUrl;
  url = TrimWhiteSpace(url);
  AddMissingScheme(url);
  if (LooksLikeFolder(url)) url += '/';
  hooks.ShowSiteUrl(url);
}

std::string SiteDomain(const std::string& siteUrl) {
  quillon::ParsedUrl parsed;
  if (!quillon::ParseUrl(siteUrl.c_str(), parsed)) return std::string();
  return std::string(parsed.host.getString());
}

int CrawlSummary::failedCount() const {
  return static_cast<int>(leftOut.size()) - tooLargeCount();
}

int CrawlSummary::tooLargeCount() const {
  int count = 0;
  for (const LeftOutPage& page : leftOut) count += page.tooLarge ? 1 : 0;
  return count;
}

std::string CrawlSummary::Text() const {
  std::string text = std::to_string(listed) + (listed == 1 ? " page" : " pages") + " listed, " +
                     std::to_string(failedCount()) + " failed, " +
                     std::to_string(tooLargeCount()) + " too large, " +
                     std::to_string(robotsExcluded) + " excluded by robots.txt, " +
                     std::to_string(offSite) + " off the site";
  if (rendered != 0) text += ", " + std::to_string(rendered) + " rendered";
  if (!warnings.empty()) {
    text += ", " + std::to_string(warnings.size()) +
            (warnings.size() == 1 ? " warning" : " warnings");
  }
  return text;
}


std::string CrawlSummary::OutcomeText() const {
  if (stopped) {
    return "stopped: the sitemap is partial (" + std::to_string(notCrawled) +
           " waiting URLs were not crawled)";
  }
  if (pageLimit != 0) {
    return "the limit of " + std::to_string(pageLimit) + " pages was reached (" +
           std::to_string(notCrawled) + " waiting URLs were not crawled)";
  }
  if (!startFailed) return std::string();
  if (leftOut.empty()) return "could not fetch the start page: nothing was fetched";
  return "could not fetch " + leftOut.front().url + ": " + leftOut.front().reason;
}

RunOutcome GenerateSitemap(SitemapFields& fields, FrontEndHooks& hooks, const RunOptions& options,
                           CrawlSummary* summaryOut) {
  if (!fields.urlList && !fields.htmlSitemap && !fields.xmlSitemap) {
    hooks.ShowMessage(kNoOutputChosenMessage);
    hooks.FocusUrlListFlag();
    return RunOutcome::NoOutputChosen;
  }
  if (TrimWhiteSpace(fields.siteUrl).empty()) {
    hooks.ShowMessage(kNoAddressMessage);
    return RunOutcome::NoAddress;
  }
  EnsureTrailingSlash(fields, hooks);
  if (const std::string problem = SiteAddressProblem(fields.siteUrl); !problem.empty()) {
    hooks.ShowMessage("The site address cannot be crawled: " + problem + ".");
    return RunOutcome::BadAddress;
  }
  std::string error;
  bool saved = false;
  CrawlSummary summary;
  const std::tm now = TmOf(quillon::LocalTimeNow());
  if (!MakeOutputFolder(now, fields.outputDir, fields.outputFolder, error)) {
    hooks.ReportFailure(error);
  } else {
    XmlSitemapList xml(CanonicalLinksOf(options));
    std::unique_ptr<CrawlReport> report;
    bool reportSaved = !fields.crawlReport || StartCrawlReport(fields, hooks, report);
    bool listsSaved = BuildHtmlSitemap(fields.outputFolder + "/sitemap.htm", fields, hooks,
                                       options, summary, &xml, report.get());
    bool xmlSaved = WriteXmlSitemap(fields, xml, hooks);
    if (report) reportSaved = WriteCrawlReport(fields, options, *report, summary, xml, hooks);
    saved = listsSaved && xmlSaved && reportSaved;
    hooks.OpenPath(fields.outputFolder);
  }
  if (saved) {
    hooks.SaveSettings(fields);
  } else {
    SaveSettingsWithoutFolder(fields, hooks);
  }
  if (summaryOut != nullptr) *summaryOut = summary;
  if (!saved) return RunOutcome::Failed;
  if (summary.stopped) return RunOutcome::Stopped;
  return summary.startFailed ? RunOutcome::StartPageFailed : RunOutcome::Finished;
}

bool BuildHtmlSitemap(const std::string& path, SitemapFields& fields, FrontEndHooks& hooks,
                      const RunOptions& options, CrawlSummary& summary, XmlSitemapList* xml,
                      CrawlReport* report) {
  hooks.ShowWaitCursor(true);
  summary = CrawlSummary();
  SourceSettings settings = options.source;
  settings.engine = fields.engine;
  settings.followCanonical = fields.xmlSitemap && !options.ignoreCanonical;
  settings.pauseMs = options.delayMs;
  settings.maxPages = options.maxPages;
  std::unique_ptr<PageSource> spider = NewSource(options.makeSource, hooks, settings);
  spider->BeginSite(SiteDomain(fields.siteUrl));
  spider->QueueUrl(fields.siteUrl);

  // Both lists go to their files page by page.
  StreamedOutput sitemap;
  StreamedOutput urlList;
  if (fields.htmlSitemap) {
    sitemap.Begin(path);
    std::string head;
    AppendSitemapHead(head, fields, quillon::AnsiCodePage() == quillon::kCodePageUtf8);
    sitemap.Append(head);
  }
  if (fields.urlList) urlList.Begin(fields.outputFolder + "/urllist.txt");

  int& pagesDone = summary.listed;
  uint32_t crawlDelayTold = 0;
  for (;;) {
    hooks.PumpOneMessage();
    if (hooks.StopRequested()) break;
    bool fetched = spider->CrawlNext();
    if (hooks.WantsCrawlLog()) hooks.CrawlStepLog(spider->ErrorLogText());
    NoteLeftOutPages(*spider, hooks, summary, report);
    if (fetched) {
      std::string title = spider->PageTitle();
      std::string keywords = spider->PageKeywords();
      std::string description = spider->PageDescription();
      std::string url = spider->CurrentUrl();
      hooks.SetCaption(title);
      // CR LF between the addresses, none after the last.
      if (fields.urlList) urlList.Append(pagesDone == 0 ? url : "\r\n" + url);
      const PageListing listing = spider->CurrentPageListing();
      if (listing.rendered) ++summary.rendered;
      const XmlVerdict verdict = xml != nullptr ? xml->Add(listing) : XmlVerdict::Listed;
      if (report != nullptr) report->AddPage(*spider, url, title, description, listing, verdict);
      std::string item = FormatListItem(std::move(keywords), std::move(title), description, url);
      if (fields.htmlSitemap) sitemap.Append(item);
      hooks.PageDone(++pagesDone, spider->PendingCount(), url);
      if (options.maxPages != 0 && pagesDone >= options.maxPages) {
        if (spider->PendingCount() != 0) summary.pageLimit = options.maxPages;
        break;
      }
    } else {
      if (spider->PendingCount() == 0) break;
      if (fields.htmlSitemap) sitemap.Append(spider->ErrorLogText() + "\r\n");
    }
    PauseUnlessStopped(PauseAfterPage(*spider, options.delayMs, hooks, crawlDelayTold), hooks,
                       options.sleep);
  }
  summary.stopped = hooks.StopRequested();
  const bool endedEarly = summary.stopped || summary.pageLimit != 0;
  summary.notCrawled = endedEarly ? spider->NotCrawledCount() : 0;
  summary.robotsExcluded = spider->RobotsExcludedCount();
  summary.offSite = spider->OffSiteCount();
  // The start page is the first URL fetched: nothing listed means it failed.
  summary.startFailed = pagesDone == 0 && !summary.stopped;
  hooks.CrawlFinished(summary);
  const bool pagesSaved = report == nullptr || FinishCrawlReport(*report, *spider, summary, hooks);

  bool saved = true;
  if (fields.htmlSitemap) {
    std::string footer;
    AppendSitemapFooter(footer, fields.endOfBody);
    sitemap.Append(footer);
    saved = CommitOutput(sitemap, "Could not save the sitemap to", hooks);
  }
  if (fields.urlList) saved = CommitOutput(urlList, "Could not save the URL list to", hooks) && saved;
  hooks.SetCaption(kApplicationName);
  spider.reset();
  hooks.ShowWaitCursor(false);
  return saved && pagesSaved;
}

bool WriteXmlSitemap(const SitemapFields& fields, const XmlSitemapList& xml, FrontEndHooks& hooks) {
  if (!fields.xmlSitemap) return true;
  if (xml.size() == 0) {
    hooks.XmlSitemapWritten(
        xml.NothingListedText(fields.xmlGzip ? "sitemap.xml.gz" : "sitemap.xml"));
    return true;
  }
  // The index names its parts by absolute address: they belong at the root of the site.
  XmlSitemapWriter writer(fields.outputFolder, "", fields.xmlGzip);
  xml.ForEach([&writer](const XmlSitemapEntry& entry) { writer.Add(entry); });
  if (!writer.Finish()) {
    hooks.ReportFailure(writer.error());
    return false;
  }
  hooks.XmlSitemapWritten(xml.SummaryText());
  return true;
}

bool DiagnosticCrawl(SitemapFields& fields, FrontEndHooks& hooks, const DiagnosticOptions& options,
                     std::string& path) {
  path = options.outputPath;
  if (path.empty()) {
    std::string folder;
    std::string error;
    if (!PrepareTollwickFolder(folder, error)) {
      hooks.ReportFailure(error);
      return false;
    }
    path = folder + "/sitemap.txt";
  }

  fields.siteUrl = TrimWhiteSpace(fields.siteUrl);
  AddMissingScheme(fields.siteUrl);
  std::string result;
  std::unique_ptr<PageSource> spider = NewSource(options.makeSource, hooks, options.source);
  spider->BeginSite(SiteDomain(fields.siteUrl));
  spider->QueueUrl(fields.siteUrl);

  int pagesDone = 0;
  for (int pass = 0; pass < options.maxPasses; ++pass) {
    if (hooks.StopRequested()) break;
    bool fetched = spider->CrawlNext();
    if (hooks.WantsCrawlLog()) hooks.CrawlStepLog(spider->ErrorLogText());
    if (fetched) {
      std::string url = spider->CurrentUrl();
      result += url;
      result += '\t';
      quillon::SystemTime modified;
      if (spider->PageModifiedDate(modified)) result += DateText(modified);
      hooks.PageDone(++pagesDone, spider->PendingCount(), url);
    } else {
      if (spider->PendingCount() == 0) break;
      result += spider->ErrorLogText();
    }
    result += "\r\n";
    PauseUnlessStopped(options.delayMs, hooks, options.sleep);
  }
  spider.reset();

  if (!SaveAnsiText(path, result, "Could not save the crawl list to", hooks)) return false;
  hooks.OpenPath(path);
  return true;
}

}  // namespace tollwick
