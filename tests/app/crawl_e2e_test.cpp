// End-to-end crawls: the tollwick program against nginx serving a generated site, compared
// byte for byte with the expected files in tests/data/app/crawl_site (made by
// tools/gen_crawl_site.py from its own model of the crawl), and bad site addresses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/generate_run.h"
#include "app/sitemap_fields.h"
#include "tests/net/resolver_fake.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace tollwick {
namespace {

using quillon::testing::NginxOptions;
using quillon::testing::NginxServer;
using quillon::testing::ReadFileBytes;

std::string SourceDir() {
  const char* dir = std::getenv("QUILLON_SOURCE_DIR");
  return dir ? dir : ".";
}

// The tollwick program built beside this test (build/app/tollwick).
std::string TollwickBinary() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "app" /
         "tollwick";
}

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::string LastLine() const {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t at = text.rfind('\n');
    return at == std::string::npos ? text : text.substr(at + 1);
  }
};

// Runs a program with the arguments (no shell), stdout and stderr captured in files.
Outcome RunProgram(const std::vector<std::string>& args) {
  std::string dir = quillon::testing::ScratchDir();
  std::string outPath = dir + "run.out";
  std::string errPath = dir + "run.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  Outcome outcome;
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = ReadFileBytes(outPath);
  outcome.err = ReadFileBytes(errPath);
  return outcome;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// nginx serving the generated site for the whole test program.
class CrawlSiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new std::string(quillon::testing::FreshDir("crawl_site"));
    NginxOptions options;
    options.gzip = false;
    options.extraServerConfig = "location /gz/ { add_header Content-Encoding gzip; }";
    server_ = new NginxServer(*root_, options);
    if (!server_->isRunning()) return;
    Outcome made = RunProgram({"/usr/bin/python3", SourceDir() + "/tools/gen_crawl_site.py", "site",
                               *root_, server_->baseUrl()});
    generated_ = made.exitCode == 0;
  }
  static void TearDownTestSuite() {
    delete server_;
    delete root_;
  }
  void SetUp() override {
    if (!server_->isRunning()) GTEST_SKIP() << server_->error();
    ASSERT_TRUE(generated_) << "tools/gen_crawl_site.py failed";
    QSettings("Brindlewood", "Tollwick").clear();
  }

  static Outcome Generate(const std::string& url) {
    return RunProgram({TollwickBinary(), "generate", url, "--delay-ms", "0", "--html", "--urllist",
                       "--title", "Crawl test sitemap", "--description",
                       "Every page of the crawl test site.", "--meta-tags", kDefaultMetaTags,
                       "--end-of-body", "<!-- end -->"});
  }
  static std::string Base() { return server_->baseUrl(); }

  static std::string* root_;
  static NginxServer* server_;
  static bool generated_;
};

std::string* CrawlSiteTest::root_ = nullptr;
NginxServer* CrawlSiteTest::server_ = nullptr;
bool CrawlSiteTest::generated_ = false;

TEST_F(CrawlSiteTest, GeneratedSiteGivesTheExpectedFilesByteForByte) {
  Outcome run = Generate(Base() + "/");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::string folder = run.LastLine();
  std::string expectedDir = SourceDir() + "/tests/data/app/crawl_site/";
  std::string expectedList =
      ReplaceAll(ReadFileBytes(expectedDir + "expected_urllist.txt"), "@BASE@", Base());
  std::string expectedMap =
      ReplaceAll(ReadFileBytes(expectedDir + "expected_sitemap.htm"), "@BASE@", Base());
  ASSERT_FALSE(expectedList.empty());
  EXPECT_EQ(ReadFileBytes(folder + "/urllist.txt"), expectedList);
  EXPECT_EQ(ReadFileBytes(folder + "/sitemap.htm"), expectedMap);
  // One progress line per listed page.
  size_t lines = std::count(run.err.begin(), run.err.end(), '\n');
  size_t pages = std::count(expectedList.begin(), expectedList.end(), '\n') + 1;
  EXPECT_EQ(lines, pages);
}

TEST_F(CrawlSiteTest, FolderAddressCrawlsFromThereOnTheWholeHost) {
  Outcome run = Generate(Base() + "/docs/");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"),
            Base() + "/docs/\r\n" + Base() + "/docs/guide.html\r\n" + Base() + "/list.html");
}

TEST_F(CrawlSiteTest, AddressWithoutSchemeIsCrawledOverHttp) {
  std::string hostAndPort = Base().substr(std::string("http://").size());
  Outcome run = Generate(hostAndPort + "/docs");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"),
            Base() + "/docs/\r\n" + Base() + "/docs/guide.html\r\n" + Base() + "/list.html");
}

TEST_F(CrawlSiteTest, HttpsAddressEndsWithAnEmptyList) {
  std::string hostAndPort = Base().substr(std::string("http://").size());
  Outcome run = Generate("https://" + hostAndPort + "/");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"), "");
  EXPECT_NE(ReadFileBytes(run.LastLine() + "/sitemap.htm").find("<ul>\r\n</ul>"),
            std::string::npos);
}

TEST_F(CrawlSiteTest, RefusingPortEndsWithAnEmptyList) {
  int port = quillon::testing::FreeLoopbackPort();
  Outcome run = Generate("http://127.0.0.1:" + std::to_string(port) + "/");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"), "");
}

TEST_F(CrawlSiteTest, EmptyAddressIsAUsageError) {
  Outcome run = RunProgram({TollwickBinary(), "generate", ""});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("the site address is empty"), std::string::npos);
  EXPECT_EQ(run.out, "");
}

TEST_F(CrawlSiteTest, DiagnosticCrawlListsEveryPageWithATab) {
  std::string path = quillon::testing::ScratchDir() + "diag.txt";
  Outcome run =
      RunProgram({TollwickBinary(), "spider", Base() + "/docs/", "--delay-ms", "0", "-o", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.LastLine(), path);
  std::string text = ReadFileBytes(path);
  // nginx sends Last-Modified for static files, so every line has a date after the tab.
  EXPECT_EQ(text.rfind(Base() + "/docs/\t", 0), 0u) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 3);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

// Hooks that keep nothing: the run's own outcome is what these tests look at.
class QuietHooks : public FrontEndHooks {};

TEST(UnresolvableHostTest, RunEndsNormallyWithAnEmptyList) {
  quillon::testing::FakeResolver::Instance().Install();
  std::setlocale(LC_TIME, "C");
  SitemapFields fields;
  fields.siteUrl = "http://nowhere.test/";
  RunOptions options;
  options.delayMs = 0;
  QuietHooks hooks;
  RunOutcome outcome = GenerateSitemap(fields, hooks, options);
  quillon::testing::FakeResolver::Instance().Uninstall();
  EXPECT_EQ(outcome, RunOutcome::Finished);
  EXPECT_EQ(ReadFileBytes(fields.outputFolder + "/urllist.txt"), "");
  EXPECT_NE(ReadFileBytes(fields.outputFolder + "/sitemap.htm").find("<ul>\r\n</ul>"),
            std::string::npos);
  EXPECT_TRUE(quillon::testing::FakeResolver::WaitForLookupsToEnd());
}

}  // namespace
}  // namespace tollwick
