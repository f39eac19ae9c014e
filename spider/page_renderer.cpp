#include "spider/page_renderer.h"

#include <utility>
#include <vector>

#include "base/content_coding.h"
#include "base/json_text.h"
#include "base/platform.h"
#include "base/progress.h"

namespace quillon {

namespace {

// Escapes in the protocol's messages make them longer than the document they carry.
constexpr uint32_t kMessageBytesPerDocumentByte = 8;
constexpr uint32_t kMessageSlackBytes = 1 << 20;
constexpr uint32_t kLargestMessageBytes = 1u << 31;
// Tasks the page may run before virtual time is moved on anyway (a page that queues a new task
// from every task would otherwise hold the clock).
constexpr int kStarvationTasks = 100;
// How often a wait for the browser asks the application whether to stop.
constexpr uint32_t kAbortCheckMs = 100;

// Reads the rendered document: its state, its length in UTF-16 units, and the markup when it
// is not longer than the limit that follows.
constexpr std::string_view kReadDocumentScript =
    "(() => { const root = document.documentElement;"
    " const html = root ? root.outerHTML : '';"
    " return {state: document.readyState, length: html.length,"
    " html: html.length <= LIMIT ? html : ''}; })()";

// The member at a path of nested objects ("result", "result", "value").
bool MemberAt(std::string_view json, std::initializer_list<std::string_view> path,
              std::string_view& value) {
  value = json;
  for (std::string_view name : path) {
    if (!JsonText::Member(value, name, value)) return false;
  }
  return true;
}

bool StringAt(std::string_view json, std::initializer_list<std::string_view> path,
              StringBuffer& out) {
  std::string_view value;
  return MemberAt(json, path, value) && JsonText::ReadString(value, out);
}

// {"name":"text"} appended to a JSON object being written (after its "{" or a ",").
bool AppendField(StringBuffer& json, std::string_view name, std::string_view text) {
  return JsonText::AppendString(json, name) && json.appendChar(':') &&
         JsonText::AppendString(json, text);
}

// The browser resolves the site's host names only; addresses given as numbers need none.
std::string HostRules(std::string_view domain) {
  std::string rules = "--host-resolver-rules=MAP * ~NOTFOUND";
  if (!domain.empty()) {
    rules += ", EXCLUDE " + std::string(domain) + ", EXCLUDE *." + std::string(domain);
  }
  return rules;
}

// Chromium keeps a socket in a folder under its TMPDIR (the profile, here), and a socket's path
// may not pass 107 bytes: a longer temporary directory than this gives way to /tmp.
constexpr size_t kLongestProfileParent = 36;

std::string ProfileParent() {
  std::string folder = TempDirectory();
  return folder.size() <= kLongestProfileParent ? folder : "/tmp/";
}

// How a page looks, whose loading builds no link: never fetched, which spares the site most of
// a page's requests and the crawl a tenth of its rendering time.
bool IsDecoration(std::string_view resourceType) {
  return resourceType == "Image" || resourceType == "Media" || resourceType == "Font" ||
         resourceType == "Stylesheet";
}

uint32_t MaxMessageBytes(uint32_t maxDocumentBytes) {
  const uint64_t bytes =
      uint64_t{maxDocumentBytes} * kMessageBytesPerDocumentByte + kMessageSlackBytes;
  return bytes < kLargestMessageBytes ? static_cast<uint32_t>(bytes) : kLargestMessageBytes;
}

}  // namespace

struct PageRenderer::PageRun {
  PageRun(std::string_view pageBody, RenderRequestFilter* requestFilter, ProgressEvent* events,
          uint32_t end)
      : body(pageBody), filter(requestFilter), progress(events), deadline(end) {}
  std::string_view body;
  RenderRequestFilter* filter;
  ProgressEvent* progress;
  uint32_t deadline;
  StringBuffer targetId;
  StringBuffer sessionId;
  bool documentServed = false;
  bool budgetExpired = false;
  // The real-time bound passed, or the browser went away, crashed or refused a command.
  bool timedOut = false;
  bool broken = false;
  bool stopped = false;
  StringBuffer problem;
  // Where a script sent the page, when it tried.
  StringBuffer navigatedTo;
};

PageRenderer::PageRenderer(RenderSettings settings)
    : settings_(std::move(settings)), browser_(MaxMessageBytes(settings_.maxDocumentBytes)) {}

PageRenderer::~PageRenderer() { StopBrowser(); }

uint32_t PageRenderer::pageBoundMs() const { return 2 * settings_.budgetMs; }

void PageRenderer::StopBrowser() {
  browser_.Stop();
  if (!profile_.empty()) RemoveTree(profile_);
  profile_.clear();
}

std::vector<std::string> PageRenderer::BrowserArguments(std::string_view domain) const {
  std::vector<std::string> argv = {settings_.chromium, "--headless=new"};
  // Chromium refuses to run as root inside its sandbox; other users keep it.
  if (IsSuperUser()) argv.emplace_back("--no-sandbox");
  for (const char* flag :
       {"--disable-gpu", "--no-first-run", "--no-default-browser-check", "--disable-extensions",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--disable-default-apps", "--disable-breakpad", "--disable-crash-reporter", "--mute-audio",
        "--hide-scrollbars", "--remote-debugging-pipe"}) {
    argv.emplace_back(flag);
  }
  argv.push_back("--user-data-dir=" + profile_);
  argv.push_back(HostRules(domain));
  return argv;
}

RenderOutcome PageRenderer::EnsureBrowser(std::string_view domain, ProgressEvent* progress,
                                          StringBuffer& detail) {
  if (browser_.running()) return RenderOutcome::kRendered;
  if (startFailed_) {
    detail.assign(startFailure_);
    return RenderOutcome::kNoBrowser;
  }
  std::string error;
  if (settings_.chromium.empty()) {
    error = "no chromium program was found; install the chromium package";
  }
  PageRun start({}, nullptr, progress, TickCount() + kStartTimeoutMs);
  StringBuffer answer;
  if (error.empty() &&
      MakeTemporaryDirectory(ProfileParent(), "tollwick-chromium-", profile_, error)) {
    // Whatever the browser keeps besides its profile goes into the same folder.
    const std::vector<std::string> environment = {"HOME=" + profile_, "TMPDIR=" + profile_,
                                                  "XDG_CONFIG_HOME=" + profile_ + "/config",
                                                  "XDG_CACHE_HOME=" + profile_ + "/cache"};
    if (browser_.Start(settings_.chromium, BrowserArguments(domain), environment, error) &&
        Call(start, "Browser.getVersion", {}, false, &answer)) {
      return RenderOutcome::kRendered;
    }
  }
  StopBrowser();
  if (start.stopped) return RenderOutcome::kStopped;
  // Every later page would fail alike: the crawl goes on without rendering.
  startFailed_ = true;
  startFailure_.assign(!error.empty()             ? error
                       : !start.problem.isEmpty() ? std::string(start.problem.view())
                                                  : std::string("it did not answer"));
  detail.assign(startFailure_);
  return RenderOutcome::kNoBrowser;
}

bool PageRenderer::Call(PageRun& run, std::string_view method, std::string_view params, bool toPage,
                        StringBuffer* answer) {
  int64_t id = 0;
  if (!browser_.Send(method, params, toPage ? run.sessionId.view() : std::string_view(), id,
                     run.deadline)) {
    run.broken = true;
    run.problem.assign("the browser took no command");
    return false;
  }
  return Await(run, id, answer);
}

bool PageRenderer::AwaitBudget(PageRun& run) { return Await(run, 0, nullptr); }

bool PageRenderer::Await(PageRun& run, int64_t id, StringBuffer* answer) {
  StringBuffer message;
  for (;;) {
    if (id == 0 && run.budgetExpired) return true;
    if (run.broken) return false;
    const uint32_t slice = TickCount() + kAbortCheckMs;
    const bool sliceFirst = MsUntil(slice) < MsUntil(run.deadline);
    switch (browser_.Receive(message, sliceFirst ? slice : run.deadline)) {
      case DevToolsClient::Next::kMessage:
        break;
      case DevToolsClient::Next::kTimedOut:
        if (sliceFirst) {
          if (!StopAsked(run)) continue;
          run.stopped = run.broken = true;
          run.problem.assign("stopped");
          return false;
        }
        run.timedOut = true;
        return false;
      case DevToolsClient::Next::kClosed:
        run.broken = true;
        run.problem.assign("the browser ended");
        return false;
      case DevToolsClient::Next::kTooLarge:
        run.broken = true;
        run.problem.assign("the browser sent a message too large to take");
        return false;
    }
    std::string_view text = message.view();
    std::string_view value;
    int64_t answered = 0;
    if (!JsonText::Member(text, "id", value)) {
      HandleEvent(run, text);
      continue;
    }
    if (!JsonText::ReadInt(value, answered) || answered != id) continue;
    if (JsonText::Member(text, "error", value)) {
      run.broken = true;
      if (!StringAt(value, {"message"}, run.problem)) run.problem.assign("a command failed");
      return false;
    }
    if (answer != nullptr && !answer->assign(text)) {
      run.broken = true;
      run.problem.assign("out of memory");
      return false;
    }
    return true;
  }
}

bool PageRenderer::StopAsked(PageRun& run) {
  bool abort = false;
  if (run.progress != nullptr) run.progress->AbortCheck(abort);
  return abort;
}

void PageRenderer::HandleEvent(PageRun& run, std::string_view message) {
  StringBuffer method;
  StringBuffer session;
  if (!StringAt(message, {"method"}, method)) return;
  StringAt(message, {"sessionId"}, session);
  if (run.sessionId.isEmpty() || session.view() != run.sessionId.view()) return;
  std::string_view params;
  if (!JsonText::Member(message, "params", params)) return;
  if (method.equals("Fetch.requestPaused")) {
    AnswerRequest(run, params);
  } else if (method.equals("Emulation.virtualTimeBudgetExpired")) {
    run.budgetExpired = true;
  } else if (method.equals("Page.javascriptDialogOpening")) {
    // An alert or a question would hold the page's script until someone answers: nobody is
    // there, so it is dismissed.
    int64_t id = 0;
    if (!browser_.Send("Page.handleJavaScriptDialog", "{\"accept\":false}", run.sessionId.view(),
                       id, run.deadline)) {
      run.broken = true;
      run.problem.assign("a dialog of the page could not be answered");
    }
  } else if (method.equals("Inspector.targetCrashed") || method.equals("Inspector.detached")) {
    run.broken = true;
    run.problem.assign("the page's renderer crashed");
  }
}

void PageRenderer::AnswerRequest(PageRun& run, std::string_view params) {
  StringBuffer requestId;
  StringBuffer url;
  StringBuffer type;
  StringBuffer frame;
  if (!StringAt(params, {"requestId"}, requestId)) return;
  StringAt(params, {"request", "url"}, url);
  StringAt(params, {"resourceType"}, type);
  StringAt(params, {"frameId"}, frame);
  StringBuffer answer("{");
  bool ok = AppendField(answer, "requestId", requestId.view());
  const char* method = "Fetch.continueRequest";
  if (type.equals("Document") && frame.view() == run.targetId.view()) {
    if (!run.documentServed) {
      // The page itself: the text the crawl fetched, already UTF-8.
      run.documentServed = true;
      method = "Fetch.fulfillRequest";
      ok = ok &&
           answer.append(
               ",\"responseCode\":200,\"responseHeaders\":[{\"name\":\"Content-Type\","
               "\"value\":\"text/html; charset=utf-8\"}],\"body\":\"") &&
           run.body.size() <= UINT32_MAX &&
           ContentCoding::encodeBase64(run.body.data(), static_cast<uint32_t>(run.body.size()),
                                       answer) &&
           answer.append("\"");
    } else {
      // A script sends the page elsewhere: the page as it stood is what counts.
      if (run.navigatedTo.isEmpty()) run.navigatedTo.assign(url);
      method = "Fetch.failRequest";
      ok = ok && answer.append(",\"errorReason\":\"Aborted\"");
    }
  } else if (IsDecoration(type.view()) || run.filter == nullptr ||
             !run.filter->MayFetch(url.view())) {
    method = "Fetch.failRequest";
    ok = ok && answer.append(",\"errorReason\":\"BlockedByClient\"");
  }
  int64_t id = 0;
  if (!ok || !answer.append("}") ||
      !browser_.Send(method, answer.view(), run.sessionId.view(), id, run.deadline)) {
    run.broken = true;
    run.problem.assign("a request of the page could not be answered");
  }
}

bool PageRenderer::OpenTab(PageRun& run) {
  StringBuffer answer;
  StringBuffer params("{");
  bool ok = AppendField(params, "url", "about:blank") && params.append("}") &&
            Call(run, "Target.createTarget", params.view(), false, &answer) &&
            StringAt(answer.view(), {"result", "targetId"}, run.targetId);
  params.assign("{");
  ok = ok && AppendField(params, "targetId", run.targetId.view()) &&
       params.append(",\"flatten\":true}") &&
       Call(run, "Target.attachToTarget", params.view(), false, &answer) &&
       StringAt(answer.view(), {"result", "sessionId"}, run.sessionId);
  // Every request of the tab waits for our word; its dialogs are told to us.
  return ok &&
         Call(run, "Fetch.enable", "{\"patterns\":[{\"urlPattern\":\"*\"}]}", true, nullptr) &&
         Call(run, "Page.enable", {}, true, nullptr);
}

bool PageRenderer::LoadPage(PageRun& run, const char* url) {
  // The clock stands until the page is there, then runs for the budget.
  StringBuffer answer;
  StringBuffer params("{");
  bool ok = Call(run, "Emulation.setVirtualTimePolicy", "{\"policy\":\"pause\"}", true, nullptr) &&
            AppendField(params, "url", url) && params.append("}") &&
            Call(run, "Page.navigate", params.view(), true, &answer);
  StringBuffer error;
  if (ok && StringAt(answer.view(), {"result", "errorText"}, error) && !error.isEmpty()) {
    run.broken = true;
    run.problem.assign(error);
    return false;
  }
  params.assign("{\"policy\":\"pauseIfNetworkFetchesPending\",\"budget\":");
  return ok && params.appendUint32(settings_.budgetMs) &&
         params.append(",\"maxVirtualTimeTaskStarvationCount\":") &&
         params.appendInt(kStarvationTasks) && params.append("}") &&
         Call(run, "Emulation.setVirtualTimePolicy", params.view(), true, nullptr) &&
         AwaitBudget(run);
}

RenderOutcome PageRenderer::Render(const char* url, std::string_view body, std::string_view domain,
                                   RenderRequestFilter& filter, ProgressEvent* progress,
                                   StringBuffer& html, StringBuffer& detail) {
  html.clear();
  detail.clear();
  const RenderOutcome browser = EnsureBrowser(domain, progress, detail);
  if (browser != RenderOutcome::kRendered) return browser;
  PageRun run(body, &filter, progress, TickCount() + pageBoundMs());
  RenderOutcome outcome = RenderOutcome::kFailed;
  if (OpenTab(run) && LoadPage(run, url)) {
    if (!run.navigatedTo.isEmpty()) {
      detail.assign(run.navigatedTo);
      outcome = RenderOutcome::kNavigated;
    } else {
      outcome = ReadDocument(run, html, detail);
    }
  }
  if (run.timedOut || run.broken) {
    // A page that overran its time may still be running a script: only a new browser is
    // sure to be free of it.
    if (run.timedOut) outcome = RenderOutcome::kUnsettled;
    if (run.broken) detail.assign(run.problem);
    if (run.stopped) outcome = RenderOutcome::kStopped;
    html.clear();
    StopBrowser();
    return outcome;
  }
  StringBuffer params("{");
  int64_t id = 0;
  if (!AppendField(params, "targetId", run.targetId.view()) || !params.append("}") ||
      !browser_.Send("Target.closeTarget", params.view(), {}, id, run.deadline)) {
    StopBrowser();
  }
  return outcome;
}

RenderOutcome PageRenderer::ReadDocument(PageRun& run, StringBuffer& html, StringBuffer& detail) {
  std::string script(kReadDocumentScript);
  script.replace(script.find("LIMIT"), 5, std::to_string(settings_.maxDocumentBytes));
  StringBuffer params("{");
  StringBuffer answer;
  if (!AppendField(params, "expression", script) || !params.append(",\"returnByValue\":true}") ||
      !Call(run, "Runtime.evaluate", params.view(), true, &answer)) {
    return RenderOutcome::kFailed;
  }
  std::string_view value;
  int64_t length = 0;
  StringBuffer state;
  if (!MemberAt(answer.view(), {"result", "result", "value"}, value) ||
      !StringAt(value, {"state"}, state) || !MemberAt(value, {"length"}, value) ||
      !JsonText::ReadInt(value, length)) {
    detail.assign("the page's document could not be read");
    return RenderOutcome::kFailed;
  }
  if (state.equals("loading")) return RenderOutcome::kUnsettled;
  if (length > static_cast<int64_t>(settings_.maxDocumentBytes) ||
      !StringAt(answer.view(), {"result", "result", "value", "html"}, html) ||
      html.length() > settings_.maxDocumentBytes) {
    html.clear();
    return RenderOutcome::kTooLarge;
  }
  return RenderOutcome::kRendered;
}

}  // namespace quillon
