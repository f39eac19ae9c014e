#include "app/command_line.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "app/failure_reason_log.h"
#include "app/settings_profile.h"
#include "app/site_address.h"
#include "app/sitemap_writer.h"
#include "base/ascii.h"
#include "base/file_access.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "net/certificate.h"
#include "net/client_credential.h"

namespace tollwick {
namespace {

// How often a slow fetch checks for Ctrl-C.
constexpr uint32_t kTerminalHeartbeatMs = 100;

// The longest pause a user may ask for between pages: one hour.
constexpr uint64_t kMaxDelayMs = 3600000;
// The largest page limit a user may set: 1 GiB (a limit there must be: it bounds memory).
constexpr uint64_t kMaxPageSizeLimit = 1ull << 30;
// The longest virtual time a user may give the browser per page: ten minutes.
constexpr uint64_t kMaxRenderSeconds = 600;

struct UsageError {
  std::string message;
};

// Starts xdg-open on path without waiting for it.
void OpenWithDesktop(const std::string& path, std::ostream& err) {
  if (!quillon::LaunchDetached("xdg-open", path.c_str())) {
    err << "tollwick: could not start xdg-open for " << path << "\n";
  }
}

// The --log file: crawl steps are appended as they come; a refused write is reported once the
// run ends, as the run itself must not stop for its log.
class CrawlLogFile {
 public:
  // False with the system's reason in failure().
  bool open(const std::string& path) {
    quillon::FileFailure reason;
    FailureReasonLog log;
    file_ = quillon::openForAppend(path.c_str(), reason, log);
    if (!file_.isValid()) {
      failure_ = log.reason().empty() ? "the file could not be opened" : log.reason();
    }
    return file_.isValid();
  }
  bool isOpen() const { return file_.isValid(); }
  void append(const std::string& text) {
    if (failure_.empty() &&
        !quillon::appendBytes(file_, text.data(), static_cast<uint32_t>(text.size()))) {
      failure_ = quillon::SystemErrorText(errno);
    }
  }
  // Closes the file; false (the reason in failure()) when any write was refused.
  bool close() {
    file_.close();
    return failure_.empty();
  }
  const std::string& failure() const { return failure_; }

 private:
  quillon::UniqueFd file_;
  std::string failure_;
};

// Only an http or https address with a host and a valid port is crawled; anything else is a
// usage error before any folder is made.
void CheckSiteAddress(const std::string& url) {
  std::string address = TrimWhiteSpace(url);
  AddMissingScheme(address);
  if (const std::string problem = SiteAddressProblem(address); !problem.empty()) {
    throw UsageError{problem};
  }
}

// A password typed into the address is visible to the machine's other users (the process list,
// the shell's history): say so once, and how to give it instead.
void WarnOfPasswordInAddress(const std::string& url, std::ostream& err) {
  if (!HasPasswordInAddress(url)) return;
  err << "tollwick: warning: the password in the address can be seen by other users of this "
         "machine; give it with --user and --password-file instead\n";
}

// How the crawl's progress reaches stderr: a line per page (a log or a pipe), one line
// rewritten in place (a terminal), or none (--quiet; warnings, failures and the summary stay).
enum class ProgressStyle { kLines, kInPlace, kQuiet };

// Hooks that talk to a terminal.
class TerminalHooks : public FrontEndHooks {
 public:
  TerminalHooks(std::ostream& err, bool open, ProgressStyle style = ProgressStyle::kLines)
      : err_(err), open_(open), style_(style) {}
  ~TerminalHooks() override { EndProgressLine(); }

  void OpenPath(const std::string& path) override {
    if (open_) OpenWithDesktop(path, err_);
  }
  void ShowMessage(const std::string& text) override { Line() << text << "\n"; }
  void ReportFailure(const std::string& text) override { Line() << "tollwick: " << text << "\n"; }
  bool StopRequested() override { return StopSignalled(); }
  // Ctrl-C is heard within a tenth of a second, even during a slow fetch.
  uint32_t HeartbeatMs() override { return kTerminalHeartbeatMs; }
  void PageDone(int pagesDone, int pagesWaiting, const std::string& url) override {
    if (style_ == ProgressStyle::kQuiet) return;
    if (style_ == ProgressStyle::kInPlace) {
      // Carriage return and erase to the end of the line: the next page's line replaces it.
      err_ << "\r\x1b[K[" << pagesDone << " done, " << pagesWaiting << " waiting, " << failed_
           << " failed] " << url << std::flush;
      lineOpen_ = true;
      return;
    }
    err_ << "[" << pagesDone << " done, " << pagesWaiting << " waiting] " << url << "\n";
  }
  void PageFailed(const LeftOutPage& /*page*/) override { ++failed_; }
  void CrawlDelayKept(uint32_t delayMs) override {
    Line() << "tollwick: the site's robots.txt asks for " << delayMs / 1000.0
           << " s between pages (Crawl-delay); the crawl keeps that pause\n";
  }
  void PageTooLarge(const LeftOutPage& page) override {
    Line() << "tollwick: warning: left out " << page.url << ": " << page.reason << "\n";
  }
  void CrawlWarning(const CrawlWarningNote& warning) override {
    Line() << "tollwick: warning: " << warning.Line()
           << (warning.certificate ? "; --require-valid-cert makes this an error\n" : "\n");
  }
  void CrawlFinished(const CrawlSummary& summary) override {
    EndProgressLine();
    // A failed start page gets its own line below.
    for (const LeftOutPage& page : summary.leftOut) {
      if (!page.tooLarge && !summary.startFailed) {
        err_ << "tollwick: failed: " << page.url << ": " << page.reason << "\n";
      }
    }
    err_ << "tollwick: " << summary.Text() << "\n";
    std::string outcome = summary.OutcomeText();
    if (!outcome.empty()) err_ << "tollwick: " << outcome << "\n";
  }
  void XmlSitemapWritten(const std::string& summary) override {
    Line() << "tollwick: " << summary << "\n";
  }
  void ReportWritten(const std::string& path) override {
    Line() << "tollwick: report: " << path << "\n";
  }
  bool WantsCrawlLog() override { return log_ != nullptr; }
  void CrawlStepLog(const std::string& text) override {
    if (log_) log_->append(text);
  }
  // A command-line run keeps the dialog's fields as they are; "last" must find its folder. A run
  // whose files are incomplete hands no folder: "last" keeps the previous one.
  void SaveSettings(const SitemapFields& fields) override {
    if (!fields.outputFolder.empty()) SaveLastFolder(fields.outputFolder);
  }

  void setLog(CrawlLogFile* log) { log_ = log; }

 private:
  // Ends the progress line kept open on a terminal, so that what follows starts a line of
  // its own.
  void EndProgressLine() {
    if (lineOpen_) err_ << "\n";
    lineOpen_ = false;
  }
  // Clears the progress line kept open on a terminal for a line of another kind; the next
  // page draws it again.
  std::ostream& Line() {
    if (lineOpen_) err_ << "\r\x1b[K";
    lineOpen_ = false;
    return err_;
  }

  std::ostream& err_;
  bool open_;
  ProgressStyle style_;
  bool lineOpen_ = false;
  int failed_ = 0;
  CrawlLogFile* log_ = nullptr;
};

// Walks the arguments after the command; "--opt=value" and "--opt value" read alike.
class ArgReader {
 public:
  explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}

  // Moves to the next argument; false at the end.
  bool Next() {
    if (++index_ >= args_.size()) return false;
    const std::string& arg = args_[index_];
    size_t equals = arg.find('=');
    inlineValue_.reset();
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name_ = arg.substr(0, equals);
      inlineValue_ = arg.substr(equals + 1);
    } else {
      name_ = arg;
    }
    return true;
  }
  const std::string& name() const { return name_; }
  bool IsOption() const { return name_.size() > 1 && name_[0] == '-'; }
  bool IsHelp() const { return name_ == "--help" || name_ == "-h"; }
  // The option's value: after "=" or the next argument.
  std::string Value() {
    if (inlineValue_) return *inlineValue_;
    if (index_ + 1 >= args_.size()) throw UsageError{"option " + name_ + " needs a value"};
    return args_[++index_];
  }
  // A flag takes no value.
  void NoValue() const {
    if (inlineValue_) throw UsageError{"option " + name_ + " takes no value"};
  }

 private:
  const std::vector<std::string>& args_;
  size_t index_ = 0;
  std::string name_;
  std::optional<std::string> inlineValue_;
};

// A whole number from min to max; option and unit name it in the message.
uint64_t ParseNumber(const std::string& text, uint64_t min, uint64_t max, const std::string& option,
                     const char* unit) {
  bool digits = !text.empty() && text.size() <= 19 &&
                text.find_first_not_of("0123456789") == std::string::npos;
  unsigned long long value = digits ? std::strtoull(text.c_str(), nullptr, 10) : max + 1;
  if (value < min || value > max) {
    throw UsageError{option + " wants a whole number of " + unit + " from " +
                     std::to_string(min) + " to " + std::to_string(max) + ", not \"" + text +
                     "\""};
  }
  return value;
}

uint32_t ParseDelay(const std::string& text) {
  return static_cast<uint32_t>(ParseNumber(text, 0, kMaxDelayMs, "--delay-ms", "milliseconds"));
}

// The one site address among the arguments; an empty one is refused.
void TakeSiteUrl(const std::string& arg, std::string& url, bool& haveUrl) {
  if (haveUrl) throw UsageError{"only one site address may be given (\"" + arg + "\" is extra)"};
  if (TrimWhiteSpace(arg).empty()) throw UsageError{"the site address is empty"};
  url = arg;
  haveUrl = true;
}

// Walks the arguments after the command: an option goes to takeOption(reader, name), which is
// false for one it does not know; anything else is the site address. False when --help was
// asked: the usage is then printed.
template <typename TakeOption>
bool ReadArguments(const std::vector<std::string>& args, std::ostream& out, std::string& url,
                   bool& haveUrl, TakeOption takeOption) {
  ArgReader reader(args);
  while (reader.Next()) {
    const std::string& arg = reader.name();
    if (reader.IsHelp()) {
      out << UsageText();
      return false;
    }
    if (!reader.IsOption()) {
      TakeSiteUrl(arg, url, haveUrl);
    } else if (!takeOption(reader, arg)) {
      throw UsageError{"unknown option " + arg};
    }
  }
  return true;
}

// The password of --password-file (its first line) or of TOLLWICK_PASSWORD.
constexpr uint32_t kMaxPasswordBytes = 1024;
constexpr char kPasswordVariable[] = "TOLLWICK_PASSWORD";
constexpr char kCertPasswordVariable[] = "TOLLWICK_CERT_PASSWORD";

// The first bytes of a file, at most limit of them; on failure empty, with reason saying why.
std::string ReadFileHead(const std::string& path, uint32_t limit, std::string& reason) {
  FailureReasonLog log;
  quillon::FileAccess file;
  if (!file.open(path.c_str(), log)) {
    reason = log.reason().empty() ? "the file could not be opened" : log.reason();
    return {};
  }
  quillon::DataBuffer head;
  errno = 0;
  // read is false for a file shorter than limit too; only a failed read sets errno.
  if (!file.read(0, limit, head) && head.length() == 0 && errno != 0) {
    reason = quillon::SystemErrorText(errno);
    return {};
  }
  return std::string(head.view());
}

std::string ReadPasswordFile(const std::string& path) {
  std::string reason;
  std::string head = ReadFileHead(path, kMaxPasswordBytes + 1, reason);
  if (!reason.empty()) throw UsageError{"cannot read the password file " + path + ": " + reason};
  std::string line = head.substr(0, head.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() || line.size() > kMaxPasswordBytes) {
    throw UsageError{"the password file " + path + " holds no password on its first line"};
  }
  return line;
}

// A CA file must be readable and hold a PEM certificate.
void CheckCaFile(const std::string& path) {
  FailureReasonLog log;
  if (quillon::Certificate::FromPemFile(path.c_str(), log)) return;
  std::string reason = log.reason().empty() ? "No PEM certificate in the file" : log.reason();
  throw UsageError{"cannot use the CA file " + path + ": " + reason};
}

// Why the client certificate (or its key file) cannot be used, with what the user can do about
// it; reason is the log's, which holds the system's reason for a file that cannot be read.
std::string ClientCertificateMessage(const SourceSettings& source,
                                     const quillon::CredentialFailure& failure,
                                     const std::string& reason) {
  using quillon::CredentialProblem;
  const bool inKeyFile = failure.file == quillon::CredentialFile::kKey;
  std::string message = inKeyFile ? "cannot use the client key " + source.clientKeyFile
                                  : "cannot use the client certificate " + source.clientCertFile;
  message += ": ";
  message += failure.problem == CredentialProblem::kUnreadable && !reason.empty()
                 ? reason
                 : quillon::DescribeCredentialProblem(failure.problem);
  switch (failure.problem) {
    case CredentialProblem::kPasswordNeeded:
      return message + "; set " + kCertPasswordVariable + " to its password";
    case CredentialProblem::kWrongPassword:
      return message + " (from " + kCertPasswordVariable + ")";
    case CredentialProblem::kNoPrivateKey:
      return inKeyFile ? message : message + "; name the key file with --client-key";
    case CredentialProblem::kDamaged:
    case CredentialProblem::kNoCertificate:
      return message + " (a certificate and its private key: PEM, or PKCS#12 with " +
             kCertPasswordVariable + ")";
    default:
      return message;
  }
}

// Fills in the password and checks the certificate files before a crawl starts, so that a
// wrong file fails at once with its name instead of as a failed fetch.
void CheckAuthentication(SourceSettings& source, const std::string& passwordFile) {
  if (!passwordFile.empty()) {
    if (source.login.empty()) throw UsageError{"--password-file needs --user"};
    source.password = ReadPasswordFile(passwordFile);
  } else if (!source.login.empty()) {
    const char* fromEnvironment = std::getenv(kPasswordVariable);
    if (fromEnvironment == nullptr || *fromEnvironment == '\0') {
      throw UsageError{"--user needs --password-file FILE or the TOLLWICK_PASSWORD variable"};
    }
    source.password = fromEnvironment;
  }
  if (!source.clientKeyFile.empty() && source.clientCertFile.empty()) {
    throw UsageError{"--client-key needs --client-cert"};
  }
  if (!source.clientCertFile.empty()) {
    const char* password = std::getenv(kCertPasswordVariable);
    source.clientCertPassword = password != nullptr ? password : "";
    FailureReasonLog log;
    quillon::CredentialFailure failure;
    if (!quillon::ClientCredential::Load(source.clientCertFile.c_str(),
                                         source.clientKeyFile.c_str(),
                                         source.clientCertPassword.c_str(), log, failure)) {
      throw UsageError{ClientCertificateMessage(source, failure, log.reason())};
    }
  }
  if (!source.caFile.empty()) CheckCaFile(source.caFile);
}

// Rendering needs the browser: its absolute path goes into source.chromium, or a missing one is
// a usage error that names the package to install.
void FindChromium(SourceSettings& source) {
  const std::string found =
      quillon::FindProgram(source.chromium.empty() ? "chromium" : source.chromium);
  if (!found.empty()) {
    source.chromium = found;
    return;
  }
  if (!source.chromium.empty()) {
    throw UsageError{"--chromium: " + source.chromium + " is not a program that can be run"};
  }
  throw UsageError{
      "--render-js needs Chromium, which is not on PATH: install the chromium package (or name "
      "the program with --chromium PATH)"};
}

// The cookie and cache folders named on the command line are made private (0700) when missing;
// an existing one keeps its mode unless others can write to it, which refuses it. Cookies in
// "memory" need none. False with a message in error.
bool PrepareStoreFolders(const SourceSettings& source, std::string& error) {
  const std::string& cookies = source.cookieDir;
  if (!cookies.empty() && !quillon::EqualsNoCase(cookies, "memory") &&
      !quillon::PrepareUserDirectory(cookies, error)) {
    return false;
  }
  return source.cacheDir.empty() || quillon::PrepareUserDirectory(source.cacheDir, error);
}

// The exit code for a run a stop request ended: 128 + the signal, as shells report it.
int StoppedExitCode() {
  int signal = quillon::StopSignalNumber();
  return kExitSignalBase + (signal != 0 ? signal : SIGINT);
}

int ExitCodeFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Finished:
      return kExitOk;
    case RunOutcome::NoOutputChosen:
    case RunOutcome::NoAddress:
    case RunOutcome::BadAddress:
      return kExitUsage;
    case RunOutcome::Stopped:
      return StoppedExitCode();
    case RunOutcome::StartPageFailed:
    case RunOutcome::Failed:
      break;
  }
  return kExitFailure;
}

int RunGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const CommandLineContext& context) {
  SitemapFields fields;
  RunOptions options;
  options.makeSource = context.makeSource;
  options.sleep = context.sleep;
  std::string logPath;
  std::string passwordFile;
  bool open = false;
  bool quiet = false;
  bool fromProfile = false;
  bool haveUrl = false;
  std::string url;
  // Fields typed on the command line win over the profile, whatever the order of the options.
  std::vector<std::function<void(SitemapFields&)>> typed;
  auto set = [&typed](auto SitemapFields::*field, auto value) {
    typed.push_back([field, value](SitemapFields& f) { f.*field = value; });
  };
  auto engine = [&typed](std::function<void(EngineOptions&)> change) {
    typed.push_back([change](SitemapFields& f) { change(f.engine); });
  };
  auto takeOption = [&](ArgReader& reader, const std::string& arg) {
    if (arg == "--html" || arg == "--no-html") {
      reader.NoValue();
      set(&SitemapFields::htmlSitemap, arg == "--html");
    } else if (arg == "--urllist" || arg == "--no-urllist") {
      reader.NoValue();
      set(&SitemapFields::urlList, arg == "--urllist");
    } else if (arg == "--xml" || arg == "--no-xml") {
      reader.NoValue();
      set(&SitemapFields::xmlSitemap, arg == "--xml");
    } else if (arg == "--report" || arg == "--no-report") {
      reader.NoValue();
      set(&SitemapFields::crawlReport, arg == "--report");
    } else if (arg == "--xml-gzip" || arg == "--no-xml-gzip") {
      reader.NoValue();
      set(&SitemapFields::xmlGzip, arg == "--xml-gzip");
    } else if (arg == "--respect-nofollow") {
      reader.NoValue();
      engine([](EngineOptions& e) { e.respectNofollow = true; });
    } else if (arg == "--avoid" || arg == "--must-match" || arg == "--outbound-avoid") {
      std::string pattern = reader.Value();
      if (pattern.empty()) throw UsageError{arg + " needs a pattern"};
      auto list = arg == "--avoid"        ? &EngineOptions::avoid
                  : arg == "--must-match" ? &EngineOptions::mustMatch
                                          : &EngineOptions::outboundAvoid;
      engine([list, pattern](EngineOptions& e) { (e.*list).push_back(pattern); });
    } else if (arg == "--max-urls") {
      auto most =
          static_cast<int32_t>(ParseNumber(reader.Value(), 0, INT32_MAX, "--max-urls", "pages"));
      engine([most](EngineOptions& e) { e.maxUrls = most; });
    } else if (arg == "--connections") {
      auto count = static_cast<int32_t>(ParseNumber(reader.Value(), 1, kMaxConnections,
                                                    "--connections", "connections"));
      engine([count](EngineOptions& e) { e.connections = count; });
    } else if (arg == "--render-js") {
      reader.NoValue();
      engine([](EngineOptions& e) { e.renderJs = true; });
    } else if (arg == "--chromium") {
      options.source.chromium = reader.Value();
      if (options.source.chromium.empty()) throw UsageError{"--chromium needs a program"};
    } else if (arg == "--render-timeout") {
      options.source.renderBudgetMs = static_cast<uint32_t>(
          1000 * ParseNumber(reader.Value(), 1, kMaxRenderSeconds, "--render-timeout", "seconds"));
    } else if (arg == "--drop-query") {
      reader.NoValue();
      engine([](EngineOptions& e) { e.dropQueryStrings = true; });
    } else if (arg == "--drop-https") {
      reader.NoValue();
      engine([](EngineOptions& e) { e.dropHttps = true; });
    } else if (arg == "--user-agent" || arg == "--robots-agent") {
      std::string name = reader.Value();
      if (name.find_first_of("\r\n") != std::string::npos) {
        throw UsageError{arg + " may not hold a line break"};
      }
      auto text = arg == "--user-agent" ? &EngineOptions::userAgent : &EngineOptions::robotsAgent;
      engine([text, name](EngineOptions& e) { e.*text = name; });
    } else if (arg == "--output-dir") {
      // Kept absolute, so that "last" finds the folder from anywhere later.
      std::string dir = reader.Value();
      if (!dir.empty() && dir.front() != '/') dir = quillon::CurrentDirectory() + "/" + dir;
      set(&SitemapFields::outputDir, dir);
    } else if (arg == "--title") {
      set(&SitemapFields::title, reader.Value());
    } else if (arg == "--description") {
      set(&SitemapFields::description, reader.Value());
    } else if (arg == "--meta-tags") {
      set(&SitemapFields::metaTags, reader.Value());
    } else if (arg == "--end-of-body") {
      set(&SitemapFields::endOfBody, reader.Value());
    } else if (arg == "--from-profile") {
      reader.NoValue();
      fromProfile = true;
    } else if (arg == "--delay-ms") {
      options.delayMs = ParseDelay(reader.Value());
    } else if (arg == "--max-pages") {
      options.maxPages =
          static_cast<int>(ParseNumber(reader.Value(), 0, INT32_MAX, "--max-pages", "pages"));
    } else if (arg == "-q" || arg == "--quiet") {
      reader.NoValue();
      quiet = true;
    } else if (arg == "--ignore-canonical") {
      reader.NoValue();
      options.ignoreCanonical = true;
    } else if (arg == "--max-page-size") {
      options.source.maxPageSize =
          ParseNumber(reader.Value(), 1, kMaxPageSizeLimit, "--max-page-size", "bytes");
    } else if (arg == "--cookies") {
      options.source.cookieDir = reader.Value();
      if (options.source.cookieDir.empty()) throw UsageError{"--cookies needs a folder or memory"};
    } else if (arg == "--cache") {
      options.source.cacheDir = reader.Value();
      if (options.source.cacheDir.empty()) throw UsageError{"--cache needs a folder"};
    } else if (arg == "--http-cache" || arg == "--revalidate") {
      reader.NoValue();
      (arg == "--http-cache" ? options.source.useHttpCache : options.source.revalidate) = true;
    } else if (arg == "--user") {
      options.source.login = reader.Value();
      if (TrimWhiteSpace(options.source.login).empty()) throw UsageError{"--user needs a name"};
    } else if (arg == "--password") {
      throw UsageError{
          "a password is never taken on the command line; use --password-file "
          "FILE or the TOLLWICK_PASSWORD variable"};
    } else if (arg == "--password-file") {
      passwordFile = reader.Value();
      if (passwordFile.empty()) throw UsageError{"--password-file needs a file"};
    } else if (arg == "--client-cert" || arg == "--client-key" || arg == "--ca-file") {
      std::string path = reader.Value();
      if (path.empty()) throw UsageError{arg + " needs a file"};
      (arg == "--client-cert"  ? options.source.clientCertFile
       : arg == "--client-key" ? options.source.clientKeyFile
                               : options.source.caFile) = path;
    } else if (arg == "--require-valid-cert") {
      reader.NoValue();
      options.source.requireValidCert = true;
    } else if (arg == "--log") {
      logPath = reader.Value();
    } else if (arg == "--open") {
      reader.NoValue();
      open = true;
    } else {
      return false;
    }
    return true;
  };
  if (!ReadArguments(args, out, url, haveUrl, takeOption)) return kExitOk;
  if (!haveUrl) throw UsageError{"generate needs the site address"};
  CheckSiteAddress(url);
  if (fromProfile) LoadSettings(fields);
  for (const auto& apply : typed) apply(fields);
  fields.siteUrl = url;
  WarnOfPasswordInAddress(url, err);
  if (!fields.urlList && !fields.htmlSitemap && !fields.xmlSitemap) {
    err << kNoOutputChosenMessage << "\n";
    return kExitUsage;
  }

  if ((options.source.useHttpCache || options.source.revalidate) &&
      options.source.cacheDir.empty()) {
    throw UsageError{"--http-cache and --revalidate need --cache DIR"};
  }
  CheckAuthentication(options.source, passwordFile);
  if (fields.engine.renderJs) FindChromium(options.source);
  std::string error;
  if (!PrepareStoreFolders(options.source, error)) {
    err << "tollwick: " << error << "\n";
    return kExitUsage;  // the folder named is unusable: the user must name another
  }
  CrawlLogFile log;
  if (!logPath.empty() && !log.open(logPath)) {
    err << "tollwick: cannot open the log file " << logPath << ": " << log.failure() << "\n";
    return kExitFailure;
  }
  const ProgressStyle style = quiet                   ? ProgressStyle::kQuiet
                              : context.errIsTerminal ? ProgressStyle::kInPlace
                                                      : ProgressStyle::kLines;
  TerminalHooks hooks(err, open, style);
  if (log.isOpen()) hooks.setLog(&log);
  RunOutcome outcome = GenerateSitemap(fields, hooks, options);
  if (log.isOpen()) {
    if (!log.close()) {
      err << "tollwick: could not write the log file " << logPath << ": " << log.failure() << "\n";
      outcome = RunOutcome::Failed;
    }
  }
  if (ExitCodeFor(outcome) == kExitUsage) return kExitUsage;
  if (!fields.outputFolder.empty()) out << fields.outputFolder << "\n";
  return ExitCodeFor(outcome);
}

int RunSpider(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const CommandLineContext& context) {
  SitemapFields fields;
  DiagnosticOptions options;
  options.makeSource = context.makeSource;
  options.sleep = context.sleep;
  bool haveUrl = false;
  auto takeOption = [&options](ArgReader& reader, const std::string& arg) {
    if (arg == "--delay-ms") {
      options.delayMs = ParseDelay(reader.Value());
    } else if (arg == "-o" || arg == "--output") {
      options.outputPath = reader.Value();
      if (options.outputPath.empty()) throw UsageError{"-o needs a file name"};
    } else {
      return false;
    }
    return true;
  };
  if (!ReadArguments(args, out, fields.siteUrl, haveUrl, takeOption)) return kExitOk;
  if (!haveUrl) throw UsageError{"spider needs the site address"};
  CheckSiteAddress(fields.siteUrl);
  WarnOfPasswordInAddress(fields.siteUrl, err);
  // A crawl of up to a thousand pages must not end in a file that cannot be written.
  std::string error;
  if (!options.outputPath.empty() && !quillon::CheckWritableFile(options.outputPath, error)) {
    err << "tollwick: " << error << "\n";
    return kExitFailure;
  }
  TerminalHooks hooks(err, false);
  std::string path;
  bool ok = DiagnosticCrawl(fields, hooks, options, path);
  if (ok) out << path << "\n";
  if (ok && StopSignalled()) return StoppedExitCode();
  return ok ? kExitOk : kExitFailure;
}

int RunLast(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1) throw UsageError{"last takes no arguments"};
  // Prints instead of opening: the folder on stdout, the message about its absence on stderr.
  class PrintHooks : public FrontEndHooks {
   public:
    PrintHooks(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void OpenPath(const std::string& path) override { out_ << path << "\n"; }
    void ShowMessage(const std::string& text) override { err_ << text << "\n"; }

   private:
    std::ostream& out_;
    std::ostream& err_;
  } hooks(out, err);
  SitemapFields fields;
  if (!ShowLastResults(fields, hooks)) return kExitFailure;
  if (!quillon::IsDirectory(fields.outputFolder)) {
    err << "tollwick: the last results folder " << fields.outputFolder << " no longer exists\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

std::string UsageText() {
  return
      "Usage:\n"
      "  tollwick generate URL [options]   crawl the site of URL and write the sitemap files\n"
      "    --html | --no-html              write sitemap.htm (default on)\n"
      "    --urllist | --no-urllist        write urllist.txt (default on)\n"
      "    --xml | --no-xml                write sitemap.xml, the sitemaps.org XML sitemap\n"
      "                                    (default on; split with an index above 50,000 URLs\n"
      "                                    or 50 MB)\n"
      "    --xml-gzip                      write it gzip-compressed (sitemap.xml.gz)\n"
      "    --report | --no-report          write report.html (broken links with the pages that\n"
      "                                    link to them, redirects, pages left out of\n"
      "                                    sitemap.xml and why, title and description checks,\n"
      "                                    orphans of the site's own sitemaps, slowest and\n"
      "                                    largest pages) and pages.csv (one row per URL\n"
      "                                    tried) (default on)\n"
      "    --title TEXT  --description TEXT  --meta-tags TEXT  --end-of-body TEXT\n"
      "    --from-profile                  start from the dialog's saved fields instead of the\n"
      "                                    built-in defaults\n"
      "    --delay-ms N                    pause after each page (default 500; a longer\n"
      "                                    Crawl-delay of robots.txt is kept, up to 60 s; it\n"
      "                                    doubles while the site answers 429 or 503)\n"
      "    --connections N                 fetch with N connections in parallel (1-16, default\n"
      "                                    1); the pause is then the least time between two\n"
      "                                    request starts; the files are the same\n"
      "    --max-page-size BYTES           leave out pages larger than this (default 300000)\n"
      "    --cookies DIR|memory            keep the site's cookies in DIR (one XML file per\n"
      "                                    base domain; made private when missing) or in memory\n"
      "    --cache DIR                     keep answers in a cache in DIR (one file per URL; made\n"
      "                                    private when missing), so a re-crawl is cheap\n"
      "    --http-cache                    with --cache: the container store instead\n"
      "    --revalidate                    with --cache: ask the server whether each kept page\n"
      "                                    changed (conditional requests; unchanged ones cost\n"
      "                                    a 304)\n"
      "    --user [DOMAIN\\]NAME            log in to sites that ask: NTLM when the server\n"
      "                                    offers it (NAME must then carry DOMAIN\\), else Basic\n"
      "    --password-file FILE            the password is the first line of FILE (else the\n"
      "                                    TOLLWICK_PASSWORD variable; never an argument)\n"
      "    --client-cert FILE              offer this certificate to HTTPS servers that ask\n"
      "                                    for one: PEM with its key, or PKCS#12 (password in\n"
      "                                    TOLLWICK_CERT_PASSWORD, also for an encrypted PEM\n"
      "                                    key)\n"
      "    --client-key FILE               the certificate's key when it is a file of its own\n"
      "    --ca-file FILE                  trust the CA certificates of FILE (PEM) instead of\n"
      "                                    the system's\n"
      "    --require-valid-cert            a server certificate that cannot be verified fails\n"
      "                                    the fetch (by default it only warns)\n"
      "    --output-dir DIR                make the dated output folder in DIR instead of\n"
      "                                    <temp>/Tollwick (DIR is created when missing)\n"
      "    --avoid PATTERN                 do not follow links matching PATTERN (\"*\" matches\n"
      "                                    anything, case-insensitive; repeatable)\n"
      "    --must-match PATTERN            follow only links matching a PATTERN (repeatable;\n"
      "                                    the start page's links are followed whatever it is)\n"
      "    --outbound-avoid PATTERN        do not count off-site links matching PATTERN\n"
      "    --max-urls N                    queue no more links once N pages were fetched; the\n"
      "                                    pages already queued are still crawled (default 0)\n"
      "    --max-pages N                   stop after N pages were listed (default 0: no limit)\n"
      "    --ignore-canonical              list pages at their own address in sitemap.xml and\n"
      "                                    follow no canonical link (staging mirrors whose\n"
      "                                    canonical links name production)\n"
      "    --render-js                     also render pages answered as HTML with headless\n"
      "                                    Chromium (the chromium package) and follow the\n"
      "                                    links their scripts build; the browser fetches only\n"
      "                                    what the crawl may, without cookies or login\n"
      "    --chromium PATH                 the browser program (default: chromium on PATH)\n"
      "    --render-timeout SECONDS        virtual time each rendered page gets (default 5;\n"
      "                                    at most twice that in real time)\n"
      "    --drop-query                    cut links at their \"?\"\n"
      "    --drop-https                    do not follow https links\n"
      "    --respect-nofollow              do not follow rel=\"nofollow\" links nor the links\n"
      "                                    of pages whose robots meta or X-Robots-Tag says\n"
      "                                    nofollow\n"
      "    --user-agent TEXT               send TEXT as User-Agent (also matched against\n"
      "                                    robots.txt groups)\n"
      "    --robots-agent NAME             honour robots.txt groups for NAME besides \"*\"\n"
      "                                    (default \"Tollwick\")\n"
      "    --log FILE                      append the error report text of every crawl step\n"
      "                                    (CR LF line ends) to FILE\n"
      "    --open                          open the output folder with xdg-open afterwards\n"
      "    -q, --quiet                     no progress lines: only warnings, failures and the\n"
      "                                    summary (on a terminal the progress is one line\n"
      "                                    rewritten in place)\n"
      "    Options take \"--opt VALUE\" or \"--opt=VALUE\". Output folder:\n"
      "    <temp>/Tollwick/<local date-time text>/ (\" (2)\", \" (3)\", ... when it exists).\n"
      "    The XML sitemap lists only pages answered 2xx as HTML, at their address after\n"
      "    redirects, without noindex and without a canonical link elsewhere, each once.\n"
      "    stdout: the output folder's path is the last line. stderr: one progress line per\n"
      "    page, a warning per page left out as too large, then every failed URL with its\n"
      "    reason, a summary line, the XML sitemap's count and \"tollwick: report: PATH\".\n"
      "    Ctrl-C ends the crawl and still writes the files from what was gathered. Only\n"
      "    \"Last Folder\" is saved in the profile. See tollwick(1).\n"
      "  tollwick spider URL [--delay-ms N] [-o FILE]\n"
      "    the diagnostic crawl (at most 1000 passes, default pause 1000 ms): per line the URL,\n"
      "    a tab and the page's Last-Modified date (empty when it has none); default FILE\n"
      "    <temp>/Tollwick/sitemap.txt, printed as the last line of stdout\n"
      "  tollwick last                     print the last results folder, or\n"
      "                                    \"Last Results not available.\" (exit 1, also when\n"
      "                                    the folder no longer exists)\n"
      "  tollwick --help | --version\n"
      "An address without a scheme gets \"http://\" in front. Exit codes: 0 the run finished\n"
      "(pages left out are listed on stderr), 1 the start page could not be fetched (the files\n"
      "are still written) or any other failure, 2 a usage error (also when neither output is\n"
      "chosen), 130/143 stopped by SIGINT/SIGTERM (the sitemap is partial).\n"
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
    if (args[0] == "last") return RunLast(args, out, err);
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
