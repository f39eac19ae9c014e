#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <ostream>

#include "app/settings_profile.h"
#include "base/platform.h"

namespace tollwick {
namespace {

// How often a slow fetch checks for Ctrl-C.
constexpr uint32_t kTerminalHeartbeatMs = 100;

// The longest pause a user may ask for between pages: one hour.
constexpr unsigned long kMaxDelayMs = 3600000;

struct UsageError {
  std::string message;
};

// Starts xdg-open on path without waiting for it.
void OpenWithDesktop(const std::string& path, std::ostream& err) {
  if (!quillon::LaunchDetached("xdg-open", path.c_str())) {
    err << "tollwick: could not start xdg-open for " << path << "\n";
  }
}

// Hooks that talk to a terminal.
class TerminalHooks : public FrontEndHooks {
 public:
  TerminalHooks(std::ostream& err, bool open) : err_(err), open_(open) {}

  void OpenPath(const std::string& path) override {
    if (open_) OpenWithDesktop(path, err_);
  }
  void ShowMessage(const std::string& text) override { err_ << text << "\n"; }
  void ReportFailure(const std::string& text) override { err_ << "tollwick: " << text << "\n"; }
  bool StopRequested() override { return StopSignalled(); }
  // Ctrl-C is heard within a tenth of a second, even during a slow fetch.
  uint32_t HeartbeatMs() override { return kTerminalHeartbeatMs; }
  void PageDone(int pagesDone, int pagesWaiting, const std::string& url) override {
    err_ << "[" << pagesDone << " done, " << pagesWaiting << " waiting] " << url << "\n";
  }
  bool WantsCrawlLog() override { return log_ != nullptr; }
  void CrawlStepLog(const std::string& text) override {
    if (log_) log_->write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  void SaveSettings(const SitemapFields& fields) override { tollwick::SaveSettings(fields); }

  void setLog(std::ofstream* log) { log_ = log; }

 private:
  std::ostream& err_;
  bool open_;
  std::ofstream* log_ = nullptr;
};

// Reads argument i+1 as the value of option args[i].
const std::string& TakeValue(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size()) throw UsageError{"option " + args[i] + " needs a value"};
  return args[++i];
}

uint32_t ParseDelay(const std::string& text) {
  bool digits = !text.empty() && text.size() <= 10 &&
                text.find_first_not_of("0123456789") == std::string::npos;
  unsigned long value = digits ? std::strtoul(text.c_str(), nullptr, 10) : kMaxDelayMs + 1;
  if (value > kMaxDelayMs) {
    throw UsageError{"--delay-ms wants a whole number of milliseconds from 0 to 3600000, not \"" +
                     text + "\""};
  }
  return static_cast<uint32_t>(value);
}

// The one site address among the arguments; an empty one is refused.
void TakeSiteUrl(const std::string& arg, std::string& url, bool& haveUrl) {
  if (haveUrl) throw UsageError{"only one site address may be given (\"" + arg + "\" is extra)"};
  if (arg.empty()) throw UsageError{"the site address is empty"};
  url = arg;
  haveUrl = true;
}

bool IsOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

int RunGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const CommandLineContext& context) {
  SitemapFields fields;
  LoadSettings(fields);
  RunOptions options;
  options.makeSource = context.makeSource;
  std::string logPath;
  bool open = false;
  bool haveUrl = false;
  std::string url;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--html") {
      fields.htmlSitemap = true;
    } else if (arg == "--no-html") {
      fields.htmlSitemap = false;
    } else if (arg == "--urllist") {
      fields.urlList = true;
    } else if (arg == "--no-urllist") {
      fields.urlList = false;
    } else if (arg == "--title") {
      fields.title = TakeValue(args, i);
    } else if (arg == "--description") {
      fields.description = TakeValue(args, i);
    } else if (arg == "--meta-tags") {
      fields.metaTags = TakeValue(args, i);
    } else if (arg == "--end-of-body") {
      fields.endOfBody = TakeValue(args, i);
    } else if (arg == "--delay-ms") {
      options.delayMs = ParseDelay(TakeValue(args, i));
    } else if (arg == "--log") {
      logPath = TakeValue(args, i);
    } else if (arg == "--open") {
      open = true;
    } else if (IsOption(arg)) {
      throw UsageError{"unknown option " + arg};
    } else {
      TakeSiteUrl(arg, url, haveUrl);
    }
  }
  if (!haveUrl) throw UsageError{"generate needs the site address"};
  fields.siteUrl = url;
  if (!fields.urlList && !fields.htmlSitemap) {
    err << kNoOutputChosenMessage << "\n";
    return kExitUsage;
  }

  std::ofstream log;
  if (!logPath.empty()) {
    log.open(logPath, std::ios::binary | std::ios::app);
    if (!log) {
      err << "tollwick: cannot open the log file " << logPath << "\n";
      return kExitFailure;
    }
  }
  TerminalHooks hooks(err, open);
  if (log.is_open()) hooks.setLog(&log);
  RunOutcome outcome = GenerateSitemap(fields, hooks, options);
  if (log.is_open()) {
    log.close();
    if (!log) {
      err << "tollwick: could not write the log file " << logPath << "\n";
      outcome = RunOutcome::Failed;
    }
  }
  if (outcome == RunOutcome::NoOutputChosen) return kExitUsage;
  if (!fields.outputFolder.empty()) out << fields.outputFolder << "\n";
  return outcome == RunOutcome::Finished ? kExitOk : kExitFailure;
}

int RunSpider(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const CommandLineContext& context) {
  SitemapFields fields;
  DiagnosticOptions options;
  options.makeSource = context.makeSource;
  bool haveUrl = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--delay-ms") {
      options.delayMs = ParseDelay(TakeValue(args, i));
    } else if (arg == "-o") {
      options.outputPath = TakeValue(args, i);
      if (options.outputPath.empty()) throw UsageError{"-o needs a file name"};
    } else if (IsOption(arg)) {
      throw UsageError{"unknown option " + arg};
    } else {
      TakeSiteUrl(arg, fields.siteUrl, haveUrl);
    }
  }
  if (!haveUrl) throw UsageError{"spider needs the site address"};
  TerminalHooks hooks(err, false);
  std::string path;
  bool ok = DiagnosticCrawl(fields, hooks, options, path);
  if (ok) out << path << "\n";
  return ok ? kExitOk : kExitFailure;
}

int RunLast(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() > 1) throw UsageError{"last takes no arguments"};
  // Prints instead of opening: the folder or the message, on stdout.
  class PrintHooks : public FrontEndHooks {
   public:
    explicit PrintHooks(std::ostream& out) : out_(out) {}
    void OpenPath(const std::string& path) override { out_ << path << "\n"; }
    void ShowMessage(const std::string& text) override { out_ << text << "\n"; }

   private:
    std::ostream& out_;
  } hooks(out);
  SitemapFields fields;
  return ShowLastResults(fields, hooks) ? kExitOk : kExitFailure;
}

}  // namespace

std::string UsageText() {
  return
      "Usage:\n"
      "  tollwick generate URL [options]   crawl the site of URL and write the sitemap files\n"
      "    --html | --no-html              write sitemap.htm (default: profile, else on)\n"
      "    --urllist | --no-urllist        write urllist.txt (default: profile, else on)\n"
      "    --title TEXT  --description TEXT  --meta-tags TEXT  --end-of-body TEXT\n"
      "    --delay-ms N                    pause after each page (default 500)\n"
      "    --log FILE                      append the error report text of every crawl step\n"
      "                                    (CR LF line ends) to FILE\n"
      "    --open                          open the output folder with xdg-open afterwards\n"
      "    Output folder: <temp>/Tollwick/<local date-time text>/.\n"
      "    stdout: the output folder's path is the last line. stderr: one progress line per\n"
      "    page (pages done, pages waiting, the page's address). Ctrl-C ends the crawl and\n"
      "    still writes the files. Settings are loaded from and saved to the profile.\n"
      "  tollwick spider URL [--delay-ms N] [-o FILE]\n"
      "    the diagnostic crawl (at most 1000 passes, default pause 1000 ms): per line the URL,\n"
      "    a tab and the page's Last-Modified date (empty when it has none); default FILE\n"
      "    <temp>/Tollwick/sitemap.txt, printed as the last line of stdout\n"
      "  tollwick last                     print the last results folder, or\n"
      "                                    \"Last Results not available.\" (exit 1)\n"
      "  tollwick --help | --version\n"
      "An address without a scheme gets \"http://\" in front. Exit codes: 0 the run finished\n"
      "(pages that failed are left out), 2 a usage error (also when neither output is chosen),\n"
      "1 any other failure.\n"
      "Without arguments tollwick opens its dialog.\n";
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const CommandLineContext& context) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    out << UsageText();
    return kExitOk;
  }
  if (args[0] == "--version") {
    out << kVersionText << "\n";
    return kExitOk;
  }
  try {
    if (args[0] == "generate") return RunGenerate(args, out, err, context);
    if (args[0] == "spider") return RunSpider(args, out, err, context);
    if (args[0] == "last") return RunLast(args, out);
    throw UsageError{"unknown command \"" + args[0] + "\""};
  } catch (const UsageError& error) {
    err << "tollwick: " << error.message << "\n"
        << "Run \"tollwick --help\" for the usage.\n";
    return kExitUsage;
  }
}

void InstallStopSignals() { quillon::InstallStopSignalHandlers(); }
bool StopSignalled() { return quillon::StopSignalled(); }
void ResetStopSignalForTests() { quillon::SetStopSignalledForTests(false); }
void RaiseStopForTests() { quillon::SetStopSignalledForTests(true); }

}  // namespace tollwick
