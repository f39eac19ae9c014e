// Renders fetched pages with headless Chromium, so that links a page's scripts build can be
// crawled. One browser serves the whole crawl: it starts at the first page, gets a profile
// folder of its own under the temporary directory, and is killed (with every process it
// started) and its folder removed when the renderer goes. Each page gets a fresh tab that is
// handed the page's text as the crawl fetched it (no second request, no login needed for it),
// a budget of virtual time (timers run as fast as the page lets them, and the clock waits
// while the page's requests are under way), and twice that budget in real time, after which
// the browser is killed so that a page looping in a script cannot hold the crawl. The browser
// gets no cookies and no login; every request it makes is put to the crawl's filter first, and
// images, media, fonts and style sheets are never fetched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/string_buffer.h"
#include "spider/devtools_client.h"

namespace quillon {

class ProgressEvent;

// Decides which of the browser's own requests (scripts, styles, data, frames) may go out.
class RenderRequestFilter {
 public:
  virtual ~RenderRequestFilter() = default;
  virtual bool MayFetch(std::string_view url) = 0;
};

struct RenderSettings {
  // The browser program (an absolute path).
  std::string chromium;
  // Virtual time per page.
  uint32_t budgetMs = 5000;
  // The largest rendered document taken, in bytes.
  uint32_t maxDocumentBytes = 300000;
};

enum class RenderOutcome {
  kRendered,   // html holds the rendered document
  kUnsettled,  // the page did not finish within its real-time bound (loading, looping)
  kNavigated,  // a script moved the page to another address (detail names it)
  kTooLarge,   // the rendered document passes the size limit
  kFailed,     // the browser failed for this page (detail says how)
  kNoBrowser,  // the browser could not be started (detail says why)
  kStopped,    // the application asked to stop
};

class PageRenderer {
 public:
  static constexpr uint32_t kDefaultBudgetMs = 5000;
  // How long the browser may take to start and answer.
  static constexpr uint32_t kStartTimeoutMs = 30000;

  explicit PageRenderer(RenderSettings settings);
  PageRenderer(const PageRenderer&) = delete;
  PageRenderer& operator=(const PageRenderer&) = delete;
  ~PageRenderer();

  // Renders the page at url whose text (UTF-8) the crawl fetched; the browser resolves no host
  // name but domain and its sub-domains. html receives the rendered document's markup.
  // progress (may be null) is asked about a stop every tenth of a second.
  RenderOutcome Render(const char* url, std::string_view body, std::string_view domain,
                       RenderRequestFilter& filter, ProgressEvent* progress, StringBuffer& html,
                       StringBuffer& detail);

  const RenderSettings& settings() const { return settings_; }
  // The real-time bound of one page.
  uint32_t pageBoundMs() const;

 private:
  struct PageRun;
  // Starts the browser unless it runs: kRendered when it is ready, else kNoBrowser (detail says
  // why) or kStopped.
  RenderOutcome EnsureBrowser(std::string_view domain, ProgressEvent* progress,
                              StringBuffer& detail);
  void StopBrowser();
  // The browser's command line: headless, no first-run chores, the debugging pipe, the profile
  // folder, and no host name resolved but the site's.
  std::vector<std::string> BrowserArguments(std::string_view domain) const;
  // Sends a command of the page and waits for its answer (into answer), handling the page's
  // events meanwhile; id 0 waits for the end of the virtual time budget instead.
  bool Call(PageRun& run, std::string_view method, std::string_view params, bool toPage,
            StringBuffer* answer);
  // A new tab for the page, its requests and dialogs handed to us.
  bool OpenTab(PageRun& run);
  // Navigates the tab to url and waits until its virtual time budget is spent.
  bool LoadPage(PageRun& run, const char* url);
  bool AwaitBudget(PageRun& run);
  bool Await(PageRun& run, int64_t id, StringBuffer* answer);
  void HandleEvent(PageRun& run, std::string_view message);
  static bool StopAsked(PageRun& run);
  void AnswerRequest(PageRun& run, std::string_view params);
  RenderOutcome ReadDocument(PageRun& run, StringBuffer& html, StringBuffer& detail);

  RenderSettings settings_;
  DevToolsClient browser_;
  // The browser's profile (and home) folder; empty when none was made.
  std::string profile_;
  // Starting failed once: no further attempt in this crawl.
  bool startFailed_ = false;
  StringBuffer startFailure_;
};

}  // namespace quillon
