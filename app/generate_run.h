// The Generate run: one breadth-first crawl of a site through the spider facade, written as
// sitemap.htm and urllist.txt into a new dated folder, and the bounded diagnostic crawl. It
// knows no front end: the dialog and the command line hand it the fields and a set of hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/sitemap_fields.h"
#include "app/xml_sitemap.h"
#include "base/platform.h"

namespace tollwick {

// A page the crawl could not list, with a short reason for the user.
struct LeftOutPage {
  std::string url;
  std::string reason;
  bool tooLarge = false;  // over the page size limit rather than failed
  int statusCode = 0;     // the answer's status; 0 when none came
};

// Where the crawl met a URL: its link depth, the first page that led to it and how many links
// of crawled pages lead to it.
struct LinkInfo {
  int depth = 0;
  std::string referrer;
  uint32_t inlinks = 0;
};

// How the last fetched page was answered: time, size and the redirect on the way.
struct PageTiming {
  uint32_t answerMs = 0;
  uint64_t bytes = 0;
  int redirectStatus = 0;  // the first redirect answer's status; 0 when none
  int redirectHops = 0;
};

// What the site's own sitemaps (robots.txt's Sitemap lines, else /sitemap.xml) list that no
// crawled page links to.
struct SiteSitemapsFound {
  std::vector<std::string> files;  // the files read
  uint32_t urlsListed = 0;
  uint32_t orphanCount = 0;
  std::vector<std::string> orphans;  // the first ones
  uint32_t filesFailed = 0;
  uint32_t filesSkipped = 0;
};

class CrawlReport;

// Something that went wrong beside success on one site, once per site and kind: a certificate
// that did not verify, cookies or a cache entry that could not be saved, an unknown charset.
struct CrawlWarningNote {
  std::string site;  // "https://host:port"
  std::string text;  // "certificate not trusted: self-signed"
  bool certificate = false;

  // "https://host: certificate not trusted: self-signed".
  std::string Line() const { return site + ": " + text; }
};

// What one crawl did, for the closing lines a front end shows.
struct CrawlSummary {
  int listed = 0;
  // Failed fetches and pages over the size limit, in crawl order.
  std::vector<LeftOutPage> leftOut;
  int robotsExcluded = 0;
  int offSite = 0;
  // Pages rendered by the browser (--render-js).
  int rendered = 0;
  // A stop request ended the crawl; waiting URLs were not crawled.
  bool stopped = false;
  // The crawl ended at the page limit it was given (maxPages); waiting URLs were not crawled.
  int pageLimit = 0;
  int notCrawled = 0;
  // The start page itself could not be fetched (its entry is leftOut's first).
  bool startFailed = false;
  std::vector<CrawlWarningNote> warnings;

  int failedCount() const;
  int tooLargeCount() const;
  // "12 pages listed, 1 failed, 0 too large, 3 excluded by robots.txt, 5 off the site", then
  // ", 12 rendered" when pages were rendered and ", 1 warning" when there were any.
  std::string Text() const;
  // What ended the crawl early, or "" when it ran to its end: "stopped: the sitemap is partial
  // (N waiting URLs were not crawled)" or "could not fetch URL: reason".
  std::string OutcomeText() const;
};

// What the run needs of the spider facade, so that a test can stand in for the network.
class PageSource {
 public:
  virtual ~PageSource() = default;
  virtual void BeginSite(const std::string& domain) = 0;
  virtual void QueueUrl(const std::string& url) = 0;
  // True when a page was fetched.
  virtual bool CrawlNext() = 0;
  virtual int PendingCount() = 0;
  virtual std::string CurrentUrl() = 0;
  virtual std::string PageTitle() = 0;
  virtual std::string PageKeywords() = 0;
  virtual std::string PageDescription() = 0;
  // False when the page has no usable Last-Modified date.
  virtual bool PageModifiedDate(quillon::SystemTime& when) = 0;
  // The engine's log of the last step, CR LF line ends.
  virtual std::string ErrorLogText() = 0;
  // The pages left out so far (failed or too large; fetches ended by a stop are not counted),
  // in crawl order.
  virtual int LeftOutCount() { return 0; }
  // The warnings met so far, in the order met.
  virtual int WarningCount() { return 0; }
  virtual CrawlWarningNote Warning(int /*index*/) { return {}; }
  virtual LeftOutPage LeftOut(int /*index*/) { return {}; }
  // URLs a stop left uncrawled (waiting, or whose fetch the stop ended).
  virtual int NotCrawledCount() { return PendingCount(); }
  // On-site links robots.txt disallowed, and off-site links met.
  virtual int RobotsExcludedCount() { return 0; }
  // The pause robots.txt asks for between pages (ms; 0: none).
  virtual uint32_t CrawlDelayMs() { return 0; }
  // What the site's busy answers (429, 503) add to the pause (ms; 0: none).
  virtual uint32_t BusyBackoffMs() { return 0; }
  // True when the source keeps the pause between request starts itself (several connections
  // fetch ahead), so the run makes none between pages.
  virtual bool PacesItself() { return false; }
  virtual int OffSiteCount() { return 0; }
  // What the last fetched page's answer says for the XML sitemap; by default a 200 HTML page
  // at CurrentUrl().
  virtual PageListing CurrentPageListing() {
    PageListing page;
    page.finalUrl = CurrentUrl();
    return page;
  }
  // The last fetched page's answer time, size and redirect.
  virtual PageTiming CurrentPageTiming() { return {}; }
  // Where the crawl met url (depth 0 and no referrer when it knows nothing of it).
  virtual LinkInfo LinkInfoOf(const std::string& /*url*/) { return {}; }
  // The first pages that led to url (for a URL not fetched successfully, up to five).
  virtual std::vector<std::string> Referrers(const std::string& /*url*/) { return {}; }
  // After the crawl: reads the site's own sitemaps, keeping at most keep orphans. False when
  // none could be read.
  virtual bool ScanSiteSitemaps(SiteSitemapsFound& /*found*/, size_t /*keep*/) { return false; }
};

// What a front end provides. Every hook has a harmless default.
class FrontEndHooks {
 public:
  virtual ~FrontEndHooks() = default;
  // Handles at most one waiting window message.
  virtual void PumpOneMessage() {}
  virtual void SetCaption(const std::string& /*caption*/) {}
  virtual void ShowWaitCursor(bool /*shown*/) {}
  // Shows the corrected site address back to the user.
  virtual void ShowSiteUrl(const std::string& /*siteUrl*/) {}
  // Opens a folder (or a file) in the desktop's file manager or editor.
  virtual void OpenPath(const std::string& /*path*/) {}
  // An information message ("Please Select the type of Sitemap...").
  virtual void ShowMessage(const std::string& /*text*/) {}
  // A failure the user must hear of (a folder that cannot be trusted, a failed save).
  virtual void ReportFailure(const std::string& /*text*/) {}
  // Put the focus on the "&URL List" check box.
  virtual void FocusUrlListFlag() {}
  // Stop in the dialog, SIGINT/SIGTERM on the command line: the crawl loop ends and the files
  // are still written from what was gathered.
  virtual bool StopRequested() { return false; }
  // How often (ms) the HTTP client calls back while it waits on the network, so that
  // StopRequested is heard during a slow fetch; 0 = only between pages.
  virtual uint32_t HeartbeatMs() { return 0; }
  // After each listed page: pages listed so far, URLs waiting, the page's address.
  virtual void PageDone(int /*pagesDone*/, int /*pagesWaiting*/, const std::string& /*url*/) {}
  // A page left out as larger than the size limit, when it is skipped.
  virtual void PageTooLarge(const LeftOutPage& /*page*/) {}
  // A page that could not be fetched, when it failed.
  virtual void PageFailed(const LeftOutPage& /*page*/) {}
  // The site's robots.txt asks for a longer pause than the run's (ms), said once.
  virtual void CrawlDelayKept(uint32_t /*delayMs*/) {}
  // A warning the crawl met, as soon as it is met (each site and kind once).
  virtual void CrawlWarning(const CrawlWarningNote& /*warning*/) {}
  // After the crawl, before the files are written.
  virtual void CrawlFinished(const CrawlSummary& /*summary*/) {}
  // After the XML sitemap was written: "N URLs in the XML sitemap (left out: ...)"; also when
  // no page qualified and so no file was written, with the summary saying so.
  virtual void XmlSitemapWritten(const std::string& /*summary*/) {}
  // After report.html and pages.csv were written: the report's path.
  virtual void ReportWritten(const std::string& /*path*/) {}
  // When true, CrawlStepLog hears the engine's log text after every crawl step.
  virtual bool WantsCrawlLog() { return false; }
  virtual void CrawlStepLog(const std::string& /*errorLogText*/) {}
  // Saves the fields in the profile (end of every Generate that chose an output). The output
  // folder is empty when the run's files are incomplete (or no folder was made): "Last Folder"
  // must then keep naming the last complete run, so an empty folder is never recorded.
  virtual void SaveSettings(const SitemapFields& /*fields*/) {}
};

inline constexpr uint32_t kPageDelayMs = kDefaultPauseMs;
// The spider's page size limit (bytes); larger pages are left out.
inline constexpr uint64_t kDefaultMaxPageSize = 300000;

// The virtual time the browser gives each rendered page.
inline constexpr uint32_t kDefaultRenderBudgetMs = 5000;

// What a page source is made with besides the hooks.
struct SourceSettings {
  uint64_t maxPageSize = kDefaultMaxPageSize;
  // The pause between pages, kept by a source that paces itself (RunOptions::delayMs).
  uint32_t pauseMs = kPageDelayMs;
  // The run lists at most this many pages (0: no limit), so fetching more is wasted.
  int maxPages = 0;
  EngineOptions engine;
  // Queue the address a page's canonical link names (the XML sitemap lists it instead).
  bool followCanonical = false;
  // The client's cookie folder, "memory", or empty for no cookies.
  std::string cookieDir;
  // The client's cache folder (empty: none); useHttpCache selects the container store for it;
  // revalidate asks the server about every kept page with a conditional request.
  std::string cacheDir;
  bool useHttpCache = false;
  bool revalidate = false;
  // A login for sites that ask for one ("[DOMAIN\]NAME"; empty: none): Basic or NTLM, as the
  // server offers.
  std::string login;
  std::string password;
  // A client certificate (PEM or PKCS#12) and its key when it is in a file of its own; the
  // PKCS#12 password.
  std::string clientCertFile;
  std::string clientKeyFile;
  std::string clientCertPassword;
  // Trusted CA certificates (PEM) instead of the system's.
  std::string caFile;
  // A server certificate that is not verified fails the fetch instead of a warning.
  bool requireValidCert = false;
  // With engine.renderJs: the browser program (empty: "chromium" on PATH) and the virtual
  // time each page gets.
  std::string chromium;
  uint32_t renderBudgetMs = kDefaultRenderBudgetMs;
};

// A PageSource over a new VnSpider whose fetches end early once hooks.StopRequested() is true.
std::unique_ptr<PageSource> MakeSpiderSource(FrontEndHooks& hooks, const SourceSettings& settings);
using PageSourceFactory =
    std::function<std::unique_ptr<PageSource>(FrontEndHooks&, const SourceSettings&)>;

inline constexpr uint32_t kDiagnosticDelayMs = 1000;
inline constexpr int kDiagnosticMaxPasses = 1000;
inline constexpr char kNoOutputChosenMessage[] =
    "Please Select the type of Sitemap to Generate to continue.";
inline constexpr char kNoAddressMessage[] =
    "Please enter the address of the site to map, e.g. http://www.example.com/.";

// Sleeps for the given milliseconds; the pause between crawl steps is cut into such slices.
using SleepFunction = std::function<void(uint32_t milliseconds)>;

struct RunOptions {
  // Pause after each crawl step.
  uint32_t delayMs = kPageDelayMs;
  // The crawl ends once this many pages were listed (0: no limit).
  int maxPages = 0;
  SourceSettings source;
  // The XML sitemap lists pages at their own address whatever their canonical links name, and
  // the crawl does not follow those links (a staging mirror whose links name production).
  bool ignoreCanonical = false;
  // Makes the page source; empty means MakeSpiderSource (tests put a stand-in here).
  PageSourceFactory makeSource;
  // Empty means quillon::SleepMs (tests record the pauses instead).
  SleepFunction sleep;
};

enum class RunOutcome {
  Finished,         // the files were written (pages left out are in the summary)
  NoOutputChosen,   // neither output flag set: nothing was done
  NoAddress,        // the site address is empty: nothing was done
  BadAddress,       // the site address is not an http or https address: nothing was done
  Failed,           // the folder could not be made or trusted, or a file could not be saved
  StartPageFailed,  // the files were written, but the start page could not be fetched
  Stopped,          // a stop request ended the crawl; the files hold what was gathered
};

// The Generate command: checks the flags (one of the three outputs) and the address, empties the
// URL-list text, normalises the address, makes the output folder, crawls, writes the chosen
// files, opens the folder and saves the settings (also after a failed save, but then with an
// empty output folder, so that "Last Folder" never names incomplete files). The engine options
// come from fields. summary, when given, receives the crawl's summary.
RunOutcome GenerateSitemap(SitemapFields& fields, FrontEndHooks& hooks, const RunOptions& options,
                           CrawlSummary* summary = nullptr);

// Trims the address, puts "http://" before one without a scheme and "/" after one that looks
// like a folder (no query, no "." in its last path segment), then shows the address back. An
// empty address becomes "/".
void EnsureTrailingSlash(SitemapFields& fields, FrontEndHooks& hooks);

// Whether "/" belongs after the address: it does not end in "/", has no query and its last
// path segment holds no "." ("http://host", "http://host/docs"; not ".../page.html").
bool LooksLikeFolder(const std::string& siteUrl);

// Puts "http://" before a non-empty address that has no "scheme://" at its start.
void AddMissingScheme(std::string& siteUrl);

// The spider's domain for a site address: its host as ParseUrl gives it (empty when none).
std::string SiteDomain(const std::string& siteUrl);

// Crawls the site and writes the sitemap to path when the HTML flag is set and the URL list
// ("<output folder>/urllist.txt": CR LF between the addresses, none after the last) when the
// URL-list flag is set, each page as it is listed, into temporary files renamed into place at
// the end; adds every fetched page to xml when given, and every page fetched or
// tried to report when given; fills summary and hands it to the hooks. False when the save
// failed (reported through the hooks; no half file is left).
bool BuildHtmlSitemap(const std::string& path, SitemapFields& fields, FrontEndHooks& hooks,
                      const RunOptions& options, CrawlSummary& summary,
                      XmlSitemapList* xml = nullptr, CrawlReport* report = nullptr);

// Writes sitemap.xml (split with an index when large, gzip-compressed when asked) into the
// output folder when the XML flag is set and a page qualified (else only says why there is
// none). False when a file failed (reported).
bool WriteXmlSitemap(const SitemapFields& fields, const XmlSitemapList& xml, FrontEndHooks& hooks);

struct DiagnosticOptions {
  uint32_t delayMs = kDiagnosticDelayMs;
  int maxPasses = kDiagnosticMaxPasses;
  // Where the list goes; empty means "<temp>/Tollwick/sitemap.txt".
  std::string outputPath;
  SourceSettings source;
  PageSourceFactory makeSource;
  SleepFunction sleep;  // as in RunOptions
};

// The hidden "Spider" command: at most maxPasses crawl steps, one line per step (the address, a
// tab and the Last-Modified date in the locale's form, empty when none; or the step's log),
// saved to the output path, which is then opened and stored in path. False when the folder or
// the file failed (reported).
bool DiagnosticCrawl(SitemapFields& fields, FrontEndHooks& hooks, const DiagnosticOptions& options,
                     std::string& path);

}  // namespace tollwick
