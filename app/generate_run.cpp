#include "app/generate_run.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>

#include "app/output_folder.h"
#include "app/sitemap_writer.h"
#include "base/file_access.h"
#include "base/log_base.h"
#include "http/parse_url.h"

namespace tollwick {
namespace {

// The pause is cut into slices so that a stop request is heard quickly.
constexpr uint32_t kSleepSliceMs = 50;

std::unique_ptr<PageSource> NewSource(const PageSourceFactory& make, FrontEndHooks& hooks) {
  return make ? make(hooks) : MakeSpiderSource(hooks);
}

void PauseUnlessStopped(uint32_t delayMs, FrontEndHooks& hooks) {
  while (delayMs > 0 && !hooks.StopRequested()) {
    uint32_t slice = std::min(delayMs, kSleepSliceMs);
    quillon::SleepMs(slice);
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

// Bytes unchanged ("ansi"); the file replaces any old one and a link in its place is refused.
bool SaveAnsiText(const std::string& path, const std::string& text) {
  if (text.size() > UINT32_MAX) return false;
  quillon::LogNull log;
  return quillon::writeWholeFile(path.c_str(), text.data(), static_cast<uint32_t>(text.size()),
                                 &log);
}

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm when{};
  localtime_r(&now, &when);
  return when;
}

std::string DateText(const quillon::SystemTime& when) {
  std::tm tm{};
  tm.tm_year = when.year - 1900;
  tm.tm_mon = when.month - 1;
  tm.tm_mday = when.day;
  tm.tm_wday = when.dayOfWeek;
  tm.tm_hour = when.hour;
  tm.tm_min = when.minute;
  tm.tm_sec = when.second;
  tm.tm_isdst = -1;
  return LocaleDateTimeText(tm);
}

}  // namespace

void AddMissingScheme(std::string& siteUrl) {
  if (!siteUrl.empty() && !HasScheme(siteUrl)) siteUrl.insert(0, "http://");
}

void EnsureTrailingSlash(SitemapFields& fields, FrontEndHooks& hooks) {
  std::string& url = fields.siteUrl;
  AddMissingScheme(url);
  if (url.empty() || url.back() != '/') url += '/';
  hooks.ShowSiteUrl(url);
}

std::string SiteDomain(const std::string& siteUrl) {
  quillon::ParsedUrl parsed;
  if (!quillon::ParseUrl(siteUrl.c_str(), parsed)) return std::string();
  return std::string(parsed.host.getString());
}

RunOutcome GenerateSitemap(SitemapFields& fields, FrontEndHooks& hooks, const RunOptions& options) {
  if (!fields.urlList && !fields.htmlSitemap) {
    hooks.ShowMessage(kNoOutputChosenMessage);
    hooks.FocusUrlListFlag();
    return RunOutcome::NoOutputChosen;
  }
  // Each run lists only its own pages.
  fields.urlListText.clear();

  EnsureTrailingSlash(fields, hooks);
  std::string error;
  bool saved = false;
  if (!MakeOutputFolder(LocalNow(), fields.outputFolder, error)) {
    hooks.ReportFailure(error);
  } else {
    bool htmlSaved = BuildHtmlSitemap(fields.outputFolder + "/sitemap.htm", fields, hooks, options);
    bool listSaved = WriteUrlList(fields, hooks);
    saved = htmlSaved && listSaved;
    hooks.OpenPath(fields.outputFolder);
  }
  hooks.SaveSettings(fields);
  return saved ? RunOutcome::Finished : RunOutcome::Failed;
}

bool BuildHtmlSitemap(const std::string& path, SitemapFields& fields, FrontEndHooks& hooks,
                      const RunOptions& options) {
  hooks.ShowWaitCursor(true);
  std::string sitemap;
  std::unique_ptr<PageSource> spider = NewSource(options.makeSource, hooks);
  spider->BeginSite(SiteDomain(fields.siteUrl));
  spider->QueueUrl(fields.siteUrl);

  AppendSitemapHead(sitemap, fields, quillon::AnsiCodePage() == quillon::kCodePageUtf8);

  int pagesDone = 0;
  for (;;) {
    hooks.PumpOneMessage();
    if (hooks.StopRequested()) break;
    bool fetched = spider->CrawlNext();
    if (hooks.WantsCrawlLog()) hooks.CrawlStepLog(spider->ErrorLogText());
    if (fetched) {
      std::string title = spider->PageTitle();
      std::string keywords = spider->PageKeywords();
      std::string description = spider->PageDescription();
      std::string url = spider->CurrentUrl();
      hooks.SetCaption(title);
      if (fields.urlList) {
        fields.urlListText += url;
        fields.urlListText += "\r\n";
      }
      std::string item = FormatListItem(std::move(keywords), std::move(title), description, url);
      if (fields.htmlSitemap) sitemap += item;
      hooks.PageDone(++pagesDone, spider->PendingCount(), url);
    } else {
      if (spider->PendingCount() == 0) break;
      sitemap += spider->ErrorLogText();
      sitemap += "\r\n";
    }
    PauseUnlessStopped(options.delayMs, hooks);
  }

  AppendSitemapFooter(sitemap, fields.endOfBody);
  bool saved = true;
  if (fields.htmlSitemap && !SaveAnsiText(path, sitemap)) {
    hooks.ReportFailure("Could not save the sitemap to " + path);
    saved = false;
  }
  hooks.SetCaption(kApplicationName);
  spider.reset();
  hooks.ShowWaitCursor(false);
  return saved;
}

bool WriteUrlList(SitemapFields& fields, FrontEndHooks& hooks) {
  if (!fields.urlList) return true;
  std::string path = fields.outputFolder + "/urllist.txt";
  fields.urlListText = TrimWhiteSpace(fields.urlListText);
  quillon::deleteFile(path.c_str());
  if (!SaveAnsiText(path, fields.urlListText)) {
    hooks.ReportFailure("Could not save the URL list to " + path);
    return false;
  }
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

  AddMissingScheme(fields.siteUrl);
  std::string result;
  std::unique_ptr<PageSource> spider = NewSource(options.makeSource, hooks);
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
    PauseUnlessStopped(options.delayMs, hooks);
  }
  spider.reset();

  if (!SaveAnsiText(path, result)) {
    hooks.ReportFailure("Could not save the crawl list to " + path);
    return false;
  }
  hooks.OpenPath(path);
  return true;
}

}  // namespace tollwick
