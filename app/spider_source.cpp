// The Generate run's page source over the spider facade.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "app/generate_run.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "base/progress.h"
#include "net/certificate.h"
#include "net/client_credential.h"
#include "spider/vn_spider.h"

namespace tollwick {
namespace {

// The Firefox-like template carries its own fixed User-Agent line; a crawl that names its own
// agent uses the generic template with the same Accept lines instead.
void UseOwnUserAgent(quillon::HttpControl& http, const std::string& userAgent) {
  http.setFirefoxTemplate(false);
  http.setIeTemplate(false);
  http.userAgent.assign(userAgent.c_str());
  http.accept.assign(
      "text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,"
      "image/png,*/*;q=0.5");
  http.acceptCharset.assign("ISO-8859-1,utf-8;q=0.7,*;q=0.7");
  http.acceptLanguage.assign("en-us,en;q=0.5");
  http.connection.assign("keep-alive");
}

void UseCache(quillon::HttpControl& http, const SourceSettings& settings) {
  if (settings.cacheDir.empty()) return;
  http.useHttpCache = settings.useHttpCache;
  if (settings.useHttpCache) {
    http.httpCache.AddRoot(settings.cacheDir.c_str());
  } else {
    http.cache.AddRoot(settings.cacheDir.c_str());
  }
  // --revalidate asks the server about every cached page, fresh or stale, in every template.
  http.revalidateInEveryTemplate = settings.revalidate;
}

// The login, the client certificate and the certificate checks of the command line; the
// command line has checked the files already.
void UseAuthentication(quillon::HttpControl& http, const SourceSettings& settings) {
  if (!settings.login.empty()) {
    http.login.assign(settings.login.c_str());
    http.password.assign(settings.password.c_str());
    // NTLM answers a server that offers it; a server that asks for Basic gets Basic.
    http.ntlmEnabled = true;
  }
  if (!settings.clientCertFile.empty()) {
    quillon::LogNull quiet;
    http.clientCredential.Add(quillon::ClientCredential::Load(
        settings.clientCertFile.c_str(), settings.clientKeyFile.c_str(),
        settings.clientCertPassword.c_str(), quiet));
  }
  if (!settings.caFile.empty()) quillon::SetTrustFile(settings.caFile.c_str());
  http.requireVerifiedCert = settings.requireValidCert;
}

// Pages are also rendered by the browser; the command line has checked that it is there (the
// dialog hears of a missing one through the crawl's warning).
void UseRenderer(quillon::ClsSpider& engine, const SourceSettings& settings) {
  quillon::RenderSettings render;
  render.chromium =
      quillon::FindProgram(settings.chromium.empty() ? "chromium" : settings.chromium);
  render.budgetMs = settings.renderBudgetMs;
  render.maxDocumentBytes =
      static_cast<uint32_t>(std::min<uint64_t>(settings.maxPageSize, UINT32_MAX));
  engine.setRenderer(std::make_unique<quillon::PageRenderer>(std::move(render)));
}

void ApplyEngineOptions(quillon::ClsSpider& engine, const SourceSettings& settings) {
  const EngineOptions& options = settings.engine;
  for (const std::string& pattern : options.avoid) engine.AddAvoidPattern(pattern.c_str());
  for (const std::string& pattern : options.mustMatch) engine.AddMustMatchPattern(pattern.c_str());
  for (const std::string& pattern : options.outboundAvoid) {
    engine.AddOutboundAvoidPattern(pattern.c_str());
  }
  engine.setMaxUrls(options.maxUrls);
  engine.setDropQueryStrings(options.dropQueryStrings);
  engine.setDropHttps(options.dropHttps);
  engine.setRespectNofollow(options.respectNofollow);
  engine.setRobotsAgent(options.robotsAgent.c_str());
  engine.setFollowCanonical(settings.followCanonical);
  engine.setConnections(options.connections);
  engine.setMaxPages(settings.maxPages);
  engine.pace().setPauseMs(settings.pauseMs);
  if (options.renderJs) UseRenderer(engine, settings);
  if (!options.userAgent.empty()) UseOwnUserAgent(engine.http().settings(), options.userAgent);
}

// How often a page answered 429 or 503 is asked again before it counts as failed.
constexpr uint32_t kBusyRetries = 3;

// The spider's event sink: every callback is a chance for the front end to handle its events
// and to end the fetch on a stop request.
class StopSink : public quillon::ProgressEvent {
 public:
  explicit StopSink(FrontEndHooks& hooks) : hooks_(hooks) {}
  void PercentUpdate(int /*percent*/, bool& abort) override { check(abort); }
  void AbortCheck(bool& abort) override { check(abort); }
  void IntervalTick(int /*value*/, bool& abort) override { check(abort); }
  // True once a fetch was ended by a stop request.
  bool stopHeard() const { return stopHeard_; }

 private:
  void check(bool& abort) {
    if (stopHeard_ || hooks_.StopRequested()) {
      stopHeard_ = true;
      abort = true;
    }
  }
  FrontEndHooks& hooks_;
  bool stopHeard_ = false;
};

// After a stop the engine would take the next queued URL in the same step (an aborted fetch is
// a failed one to it), and on a fast server that fetch may finish before it hears the stop.
// So once a stop ended a fetch the source reports the crawl as over: no page, nothing waiting.
class SpiderSource : public PageSource {
 public:
  SpiderSource(FrontEndHooks& hooks, const SourceSettings& settings) : sink_(hooks) {
    quillon::HttpControl& http = spider_.engine().http().settings();
    http.abortCheckMs = hooks.HeartbeatMs();
    http.maxContentLength = settings.maxPageSize;
    // A busy site (429, 503) is asked again after the pause it names, a few times.
    http.max503Retries = kBusyRetries;
    http.cookieDir.assign(settings.cookieDir.c_str());
    UseCache(http, settings);
    UseAuthentication(http, settings);
    ApplyEngineOptions(spider_.engine(), settings);
    spider_.setEventCallback(&sink_);
  }

  void BeginSite(const std::string& domain) override { spider_.BeginSite(domain.c_str()); }
  void QueueUrl(const std::string& url) override { spider_.QueueUrl(url.c_str()); }
  bool CrawlNext() override {
    if (sink_.stopHeard()) return false;
    bool fetched = spider_.CrawlNext();
    return fetched && !sink_.stopHeard();
  }
  int PendingCount() override { return sink_.stopHeard() ? 0 : spider_.PendingCount(); }
  std::string CurrentUrl() override { return spider_.CurrentUrl(); }
  std::string PageTitle() override { return spider_.PageTitle(); }
  std::string PageKeywords() override { return spider_.PageKeywords(); }
  std::string PageDescription() override { return spider_.PageDescription(); }
  bool PageModifiedDate(quillon::SystemTime& when) override {
    return spider_.PageModifiedDate(when);
  }
  std::string ErrorLogText() override { return spider_.ErrorLogText(); }
  // Fetches ended by a stop come last in the engine's failed list (once the stop is heard every
  // fetch ends at once); they are pages not crawled, not pages lost.
  int LeftOutCount() override { return spider_.engine().failedCount() - StoppedFetches(); }
  int NotCrawledCount() override { return StoppedFetches() + spider_.PendingCount(); }
  LeftOutPage LeftOut(int index) override {
    const quillon::FailedFetch* failed = spider_.engine().failedFetch(index);
    if (failed == nullptr) return {};
    return {std::string(failed->url.view()), std::string(failed->reason.view()),
            failed->kind == quillon::FetchFailureKind::TooLarge, failed->statusCode};
  }
  int WarningCount() override { return spider_.engine().warningCount(); }
  CrawlWarningNote Warning(int index) override {
    const quillon::CrawlWarning* warning = spider_.engine().warningAt(index);
    if (warning == nullptr) return {};
    return {std::string(warning->site.view()), std::string(warning->text.view()),
            warning->kind == quillon::FetchWarningKind::kCertificateNotVerified};
  }
  int RobotsExcludedCount() override { return spider_.engine().robotsExcludedCount(); }
  uint32_t CrawlDelayMs() override { return spider_.engine().crawlDelayMs(); }
  uint32_t BusyBackoffMs() override { return spider_.engine().pace().backoffMs(); }
  bool PacesItself() override { return spider_.engine().connections() > 1; }
  int OffSiteCount() override { return spider_.engine().outboundCount(); }
  PageListing CurrentPageListing() override {
    const quillon::PageFacts& facts = spider_.engine().pageFacts();
    PageListing page;
    page.finalUrl = std::string(facts.finalUrl.view());
    page.offSiteRedirect = facts.offSiteRedirect;
    page.statusCode = facts.statusCode;
    page.contentType = std::string(facts.contentType.view());
    page.noindex = facts.robots.noindex;
    page.canonical = std::string(facts.canonical.view());
    page.lastModified = std::string(facts.lastModified.view());
    page.rendered = facts.rendered;
    return page;
  }
  PageTiming CurrentPageTiming() override {
    const quillon::PageFacts& facts = spider_.engine().pageFacts();
    return {facts.answerMs, facts.bodyBytes, facts.redirectStatus, facts.redirectHops};
  }
  LinkInfo LinkInfoOf(const std::string& url) override {
    const quillon::LinkFacts* facts = spider_.engine().linkFacts(url);
    if (facts == nullptr) return {};
    return {facts->depth, facts->referrer != nullptr ? facts->referrer : "", facts->inlinks};
  }
  std::vector<std::string> Referrers(const std::string& url) override {
    const char* pages[quillon::ClsSpider::kMaxReferrers];
    int count = spider_.engine().Referrers(url, pages, quillon::ClsSpider::kMaxReferrers);
    return std::vector<std::string>(pages, pages + count);
  }
  bool ScanSiteSitemaps(SiteSitemapsFound& found, size_t keep) override {
    quillon::SiteSitemapScan scan;
    bool read = spider_.engine().ScanSiteSitemaps(scan, static_cast<int>(keep), &sink_);
    for (int i = 0; i < scan.files.count(); ++i) {
      found.files.emplace_back(scan.files.at<quillon::StringBuffer>(i)->view());
    }
    for (int i = 0; i < scan.orphans.count(); ++i) {
      found.orphans.emplace_back(scan.orphans.at<quillon::StringBuffer>(i)->view());
    }
    found.urlsListed = scan.urlsListed;
    found.orphanCount = scan.orphanCount;
    found.filesFailed = scan.filesFailed;
    found.filesSkipped = scan.filesSkipped;
    return read;
  }

 private:
  int StoppedFetches() const {
    const quillon::ClsSpider& engine = spider_.engine();
    int stopped = 0;
    for (int i = engine.failedCount() - 1;
         i >= 0 && engine.failedFetch(i)->kind == quillon::FetchFailureKind::Stopped; --i) {
      ++stopped;
    }
    return stopped;
  }

  StopSink sink_;
  quillon::VnSpider spider_;
};

}  // namespace

std::unique_ptr<PageSource> MakeSpiderSource(FrontEndHooks& hooks, const SourceSettings& settings) {
  return std::make_unique<SpiderSource>(hooks, settings);
}

}  // namespace tollwick
