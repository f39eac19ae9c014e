#include "app/command_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSettings>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "tests/app/fake_page_source.h"
#include "tests/support/test_support.h"

namespace tollwick {
namespace {

using quillon::testing::ReadFileBytes;
using testing::FakeFactory;
using testing::FakeScript;
using testing::Page;

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    oldTemp_ = quillon::TempDirectory();
    std::string dir = quillon::testing::FreshDir(name);
    // Qt keeps the profile's location for the whole process, so each test empties it instead.
    QSettings("Brindlewood", "Tollwick").clear();
    std::filesystem::create_directories(dir + "tmp");
    setenv("TMPDIR", (dir + "tmp").c_str(), 1);
    std::setlocale(LC_TIME, "C");
    context.makeSource = FakeFactory(script);
    ResetStopSignalForTests();
  }
  void TearDown() override {
    setenv("TMPDIR", oldTemp_.c_str(), 1);
    ResetStopSignalForTests();
  }
  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err, context);
  }
  std::string LastLine() {
    std::string text = out.str();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  }

  FakeScript script;
  CommandLineContext context;
  std::ostringstream out, err;
  std::string oldTemp_;
};

struct UsageCase {
  std::vector<std::string> args;
  const char* message;
};

TEST_F(CommandLineTest, UsageErrorsExitWithTwoAndSayWhy) {
  const UsageCase cases[] = {
      {{"generate"}, "generate needs the site address"},
      {{"generate", ""}, "the site address is empty"},
      {{"generate", "a.example", "b.example"}, "only one site address"},
      {{"generate", "a.example", "--delay-ms"}, "option --delay-ms needs a value"},
      {{"generate", "a.example", "--delay-ms", "-5"}, "--delay-ms wants a whole number"},
      {{"generate", "a.example", "--delay-ms", "99999999999"}, "--delay-ms wants a whole number"},
      {{"generate", "a.example", "--delay-ms=3600001"}, "--delay-ms wants a whole number"},
      {{"generate", "a.example", "--delay-ms", "12x"}, "--delay-ms wants a whole number"},
      {{"generate", "a.example", "--colour"}, "unknown option --colour"},
      {{"generate", "a.example", "--html=yes"}, "option --html takes no value"},
      {{"generate", "a.example", "--max-page-size=0"}, "--max-page-size wants a whole number"},
      {{"generate", " \t"}, "the site address is empty"},
      {{"generate", "ftp://x"}, "only http and https addresses can be crawled (\"ftp://x\")"},
      {{"generate", "file:///etc"}, "only http and https addresses can be crawled"},
      {{"generate", "http://"}, "\"http://\" has no host"},
      {{"generate", "not a url"}, "has no valid host name (\"not a url\")"},
      {{"generate", "http://h:99999/"}, "has no valid port (\"99999\"; 1 to 65535)"},
      {{"spider", "ftp://x"}, "only http and https addresses can be crawled"},
      {{"generate", "a.example", "--no-html", "--no-urllist", "--no-xml"},
       "Please Select the type of Sitemap to Generate to continue."},
      {{"spider"}, "spider needs the site address"},
      {{"spider", ""}, "the site address is empty"},
      {{"spider", "a.example", "-o", ""}, "-o needs a file name"},
      {{"spider", "a.example", "--html"}, "unknown option --html"},
      {{"last", "extra"}, "last takes no arguments"},
      {{"crawl"}, "unknown command \"crawl\""},
      {{"generate", "a.example", "--password", "x"}, "a password is never taken on the command"},
      {{"generate", "a.example", "--user", "D\\u"}, "--user needs --password-file FILE or"},
      {{"generate", "a.example", "--user", "D\\u", "--password-file", "/no/such"},
       "cannot read the password file /no/such: No such file or directory"},
      {{"generate", "a.example", "--user", "D\\u", "--password-file", "/"},
       "cannot read the password file /: Is a directory"},
      {{"generate", "a.example", "--password-file", "/no/such"}, "--password-file needs --user"},
      {{"generate", "a.example", "--client-key", "k.pem"}, "--client-key needs --client-cert"},
      {{"generate", "a.example", "--client-cert", "/no/such"},
       "cannot use the client certificate /no/such: No such file or directory"},
      {{"generate", "a.example", "--ca-file", "/no/such"},
       "cannot use the CA file /no/such: No such file or directory"},
      {{"generate", "a.example", "--ca-file", "/dev/null"},
       "cannot use the CA file /dev/null: No PEM certificate in the file"},
      {{"generate", "a.example", "--render-timeout", "0"}, "--render-timeout wants a whole number"},
      {{"generate", "a.example", "--render-js", "--chromium", "/no/such"},
       "--chromium: /no/such is not a program that can be run"},
      {{"generate", "a.example", "--render-js", "--chromium", "/dev"},
       "--chromium: /dev is not a program"},
  };
  unsetenv("TOLLWICK_PASSWORD");
  for (const UsageCase& c : cases) {
    EXPECT_EQ(Run(c.args), kExitUsage) << c.message;
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    EXPECT_EQ(script.crawlCalls, 0) << c.message;
  }
  // No chromium on PATH: the message names the package to install.
  const std::string path = std::getenv("PATH");
  setenv("PATH", "/no/such", 1);
  EXPECT_EQ(Run({"generate", "a.example", "--render-js"}), kExitUsage);
  setenv("PATH", path.c_str(), 1);
  EXPECT_NE(err.str().find("install the chromium package"), std::string::npos) << err.str();
}

TEST_F(CommandLineTest, HelpVersionAndNoArguments) {
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(out.str().find("tollwick generate URL [options]"), std::string::npos);
  EXPECT_NE(out.str().find("Without arguments tollwick opens its dialog."), std::string::npos);
  EXPECT_EQ(Run({}), kExitOk);
  EXPECT_EQ(out.str(), UsageText());
  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out.str(), "Tollwick Version 1.0\n");
  EXPECT_EQ(Run({"generate", "--help"}), kExitOk);
  EXPECT_EQ(out.str(), UsageText());
}

// Every option --help names is described in the man page, and the man page names no other.
TEST(ManPageTest, NamesTheOptionsOfTheUsageText) {
  std::string page =
      ReadFileBytes(std::string(std::getenv("QUILLON_SOURCE_DIR")) + "/docs/tollwick.1");
  for (size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at)) {
    page.erase(at, 1);
  }
  auto options = [](const std::string& text) {
    std::set<std::string> found;
    for (size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
      size_t end = text.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2);
      found.insert(text.substr(at, end - at));
    }
    return found;
  };
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(options(UsageText()), options(page));
}

TEST_F(CommandLineTest, LoginAndCertificateOptionsReachTheSource) {
  const std::string dir = quillon::testing::FreshDir("login-options");
  quillon::testing::WriteFileBytes(dir + "password", "Secret#1\r\nsecond line\n");
  script.steps.push_back(Page("http://a.example/", "Home"));
  ASSERT_EQ(Run({"generate", "a.example", "--user", "STAGING\\crawler", "--password-file",
                 dir + "password", "--require-valid-cert"}),
            kExitOk)
      << err.str();
  EXPECT_EQ(script.settings.login, "STAGING\\crawler");
  EXPECT_EQ(script.settings.password, "Secret#1");
  EXPECT_TRUE(script.settings.requireValidCert);

  setenv("TOLLWICK_PASSWORD", "from-environment", 1);
  ASSERT_EQ(Run({"generate", "a.example", "--user=crawler"}), kExitOk) << err.str();
  unsetenv("TOLLWICK_PASSWORD");
  EXPECT_EQ(script.settings.password, "from-environment");
}

// An empty first line, and one too long to be a password (never cut short), are refused.
TEST_F(CommandLineTest, PasswordFileWithoutAUsableFirstLineIsRefused) {
  const std::string path = quillon::testing::FreshDir("bad-password") + "password";
  for (const std::string& text :
       {std::string(), std::string("\r\nsecond\n"), std::string(1025, 'x')}) {
    quillon::testing::WriteFileBytes(path, text);
    EXPECT_EQ(Run({"generate", "a.example", "--user", "u", "--password-file", path}), kExitUsage);
    EXPECT_NE(err.str().find("holds no password on its first line"), std::string::npos)
        << text.size() << ": " << err.str();
  }
}

TEST_F(CommandLineTest, GeneratePrintsTheFolderLastAndProgressOnStderr) {
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0"}), kExitOk) << err.str();
  std::string folder = LastLine();
  EXPECT_EQ(folder.rfind(quillon::TempDirectory() + "Tollwick/", 0), 0u) << folder;
  EXPECT_EQ(ReadFileBytes(folder + "/urllist.txt"), "http://example.com/\r\nhttp://example.com/b");
  EXPECT_EQ(err.str(),
            "[1 done, 1 waiting] http://example.com/\n[2 done, 0 waiting] http://example.com/b\n"
            "tollwick: 2 pages listed, 0 failed, 0 too large, 0 excluded by robots.txt, "
            "0 off the site\ntollwick: 2 URLs in the XML sitemap\ntollwick: report: " +
                folder + "/report.html\n");
  EXPECT_EQ(script.queued, std::vector<std::string>{"http://example.com/"});
}

TEST_F(CommandLineTest, ProgressIsOneLineOnATerminalAndNoneWhenQuiet) {
  const std::string summary =
      "tollwick: 2 pages listed, 0 failed, 0 too large, 0 excluded by robots.txt, "
      "0 off the site\ntollwick: 2 URLs in the XML sitemap\n";
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
  context.errIsTerminal = true;
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0", "--no-report"}), kExitOk)
      << err.str();
  EXPECT_EQ(err.str(), "\r\x1b[K[1 done, 1 waiting, 0 failed] http://example.com/"
                       "\r\x1b[K[2 done, 0 waiting, 0 failed] http://example.com/b\n" + summary);
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0", "-q", "--no-report"}), kExitOk)
      << err.str();
  EXPECT_EQ(err.str(), summary);
}

TEST_F(CommandLineTest, PauseAfterEachPageIsTheDelayAskedOrTheDefault) {
  const struct {
    std::vector<std::string> args;
    uint32_t crawlDelayMs;
    uint64_t pauseMs;
  } cases[] = {
      {{"generate", "example.com"}, 0, 500},
      {{"generate", "example.com", "--delay-ms", "3600000"}, 0, 3600000},
      {{"generate", "example.com", "--delay-ms=0"}, 0, 0},
      {{"spider", "example.com"}, 0, 1000},
      // A longer Crawl-delay of the site's robots.txt is kept, and said once.
      {{"generate", "example.com", "--delay-ms=0"}, 2000, 2000},
      {{"generate", "example.com", "--delay-ms=3000"}, 2000, 3000},
  };
  for (const auto& c : cases) {
    script = FakeScript();
    script.crawlDelayMs = c.crawlDelayMs;
    script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
    // The run sleeps in slices; they are summed per crawl step.
    std::map<int, uint64_t> pausedAfterStep;
    context.sleep = [&](uint32_t ms) { pausedAfterStep[script.crawlCalls] += ms; };
    ASSERT_EQ(Run(c.args), kExitOk) << err.str();
    std::map<int, uint64_t> expected;
    if (c.pauseMs > 0) expected = {{1, c.pauseMs}, {2, c.pauseMs}};
    EXPECT_EQ(pausedAfterStep, expected) << c.args[0] << " " << c.args.back();
    const bool kept = c.crawlDelayMs > 0 && c.pauseMs == c.crawlDelayMs;
    const std::string told = "robots.txt asks for 2 s between pages (Crawl-delay)";
    EXPECT_EQ(err.str().find(told) != std::string::npos, kept) << err.str();
    EXPECT_EQ(err.str().find(told), err.str().rfind(told)) << err.str();
  }
}

TEST_F(CommandLineTest, RunsStartFromTheDefaultsAndSaveOnlyTheLastFolder) {
  script.steps = {Page("http://example.com/", "Home")};
  ASSERT_EQ(Run({"generate", "http://example.com/", "--delay-ms=0", "--title", "T1",
                 "--description=D1", "--meta-tags", "<meta m />", "--end-of-body", "E1",
                 "--no-urllist", "--max-page-size=5000"}),
            kExitOk);
  std::string folder = LastLine();
  std::string sitemap = ReadFileBytes(folder + "/sitemap.htm");
  EXPECT_NE(sitemap.find("<meta m />\r\n<title>T1</title>\r\n"
                         "<meta name=\"description\" content=\"D1\" />\r\n"),
            std::string::npos);
  EXPECT_NE(sitemap.find("\r\nE1\r\n</body>"), std::string::npos);
  EXPECT_EQ(script.settings.maxPageSize, 5000u);

  // No title is carried over to the next run, and the dialog's fields stay as they were.
  ASSERT_EQ(Run({"generate", "http://example.com/", "--delay-ms", "0"}), kExitOk);
  EXPECT_NE(ReadFileBytes(LastLine() + "/sitemap.htm").find("<title>Sitemap</title>"),
            std::string::npos);
  QSettings profile("Brindlewood", "Tollwick");
  EXPECT_FALSE(profile.contains("Settings/Title"));
  EXPECT_EQ(Run({"last"}), kExitOk);
  EXPECT_EQ(out.str(), LastLine() + "\n");

  // --from-profile starts from the dialog's saved fields; options typed still win.
  profile.setValue("Settings/Title", "Saved title");
  profile.setValue("Settings/Description", "Saved description");
  profile.sync();
  ASSERT_EQ(Run({"generate", "--description", "Typed", "--from-profile", "http://example.com/",
                 "--delay-ms", "0"}),
            kExitOk);
  sitemap = ReadFileBytes(LastLine() + "/sitemap.htm");
  EXPECT_NE(sitemap.find("<title>Saved title</title>"), std::string::npos);
  EXPECT_NE(sitemap.find("content=\"Typed\""), std::string::npos);
}

TEST_F(CommandLineTest, StderrTellsWhatWasLeftOutAndTheStartPageFailureExitsOne) {
  script.steps = {
      Page("http://example.com/", "Home", 2),
      testing::Failure({{"http://example.com/big", "larger than the page size limit", true},
                        {"http://example.com/gone", "HTTP 404 Not Found", false}}),
  };
  script.offSite = 2;
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0", "--no-report"}), kExitOk);
  EXPECT_EQ(err.str(),
            "[1 done, 2 waiting] http://example.com/\n"
            "tollwick: warning: left out http://example.com/big: larger than the page size limit\n"
            "tollwick: failed: http://example.com/gone: HTTP 404 Not Found\n"
            "tollwick: 1 page listed, 1 failed, 1 too large, 0 excluded by robots.txt, "
            "2 off the site\ntollwick: 1 URL in the XML sitemap\n");

  script.steps = {testing::Failure({{"http://example.com/", "connection refused", false}})};
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0"}), kExitFailure);
  EXPECT_NE(err.str().find("tollwick: could not fetch http://example.com/: connection refused\n"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find("tollwick: failed:"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(LastLine() + "/urllist.txt"));
}

TEST_F(CommandLineTest, LastFailsBeforeAnyRunAndWhenTheFolderIsGone) {
  EXPECT_EQ(Run({"last"}), kExitFailure);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "Last Results not available.\n");
  script.steps = {Page("http://example.com/", "Home")};
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0"}), kExitOk);
  std::filesystem::remove_all(LastLine());
  EXPECT_EQ(Run({"last"}), kExitFailure);
  EXPECT_NE(err.str().find("no longer exists"), std::string::npos);
}

TEST_F(CommandLineTest, LogFileGetsEveryCrawlStep) {
  script.steps = {Page("http://example.com/", "Home")};
  std::string log = quillon::TempDirectory() + "crawl.log";
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0", "--log", log}), kExitOk);
  EXPECT_EQ(ReadFileBytes(log), "step log\r\nNo unspidered URLs remaining.\r\n");
}

TEST_F(CommandLineTest, StoreFolderOthersCanWriteIsAUsageError) {
  const std::string dir = quillon::testing::FreshDir("store-folders");
  ASSERT_EQ(mkdir((dir + "shared").c_str(), 0700), 0);
  ASSERT_EQ(chmod((dir + "shared").c_str(), 0777), 0);
  EXPECT_EQ(Run({"generate", "a.example", "--cache", dir + "shared"}), kExitUsage);
  EXPECT_NE(err.str().find("tollwick: Refusing to use " + dir + "shared: other users can write"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(script.crawlCalls, 0);
}

TEST_F(CommandLineTest, UnwritableLogFileFailsBeforeTheCrawl) {
  EXPECT_EQ(Run({"generate", "example.com", "--log", "/nonexistent-dir/x.log"}), kExitFailure);
  EXPECT_NE(err.str().find("cannot open the log file /nonexistent-dir/x.log: No such file or "
                           "directory"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(script.crawlCalls, 0);
}

TEST_F(CommandLineTest, StopSignalEndsTheCrawlAndStillWritesTheFiles) {
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
  RaiseStopForTests();
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0"}), kExitSignalBase + SIGINT);
  EXPECT_EQ(script.crawlCalls, 0);
  EXPECT_NE(err.str().find("stopped: the sitemap is partial"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(LastLine() + "/urllist.txt"), "");
  EXPECT_NE(ReadFileBytes(LastLine() + "/sitemap.htm").find("</html>"), std::string::npos);
}

TEST_F(CommandLineTest, SpiderWritesItsListToTheDefaultPath) {
  script.steps = {Page("http://example.com/", "Home")};
  ASSERT_EQ(Run({"spider", "example.com", "--delay-ms", "0"}), kExitOk);
  std::string path = quillon::TempDirectory() + "Tollwick/sitemap.txt";
  EXPECT_EQ(LastLine(), path);
  EXPECT_EQ(ReadFileBytes(path), "http://example.com/\t\r\n");
}

TEST_F(CommandLineTest, SpiderChecksItsFileBeforeCrawling) {
  EXPECT_EQ(Run({"spider", "example.com", "-o", "/nonexistent-dir/list.txt"}), kExitFailure);
  EXPECT_NE(err.str().find("Cannot write to /nonexistent-dir/list.txt: "), std::string::npos);
  EXPECT_EQ(script.crawlCalls, 0);
}

TEST_F(CommandLineTest, SpiderWritesToTheFileGiven) {
  std::string path = quillon::TempDirectory() + "list.txt";
  ASSERT_EQ(Run({"spider", "http://example.com/", "-o", path, "--delay-ms", "0"}), kExitOk);
  EXPECT_EQ(LastLine(), path);
  EXPECT_EQ(ReadFileBytes(path), "");
}

}  // namespace
}  // namespace tollwick
