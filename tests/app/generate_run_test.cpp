#include "app/generate_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <tuple>

#include "app/output_folder.h"
#include "app/sitemap_writer.h"
#include "base/file_access.h"
#include "tests/app/fake_page_source.h"
#include "tests/support/test_support.h"

namespace tollwick {
namespace {

using quillon::testing::ReadFileBytes;
using testing::FakeFactory;
using testing::FakeScript;
using testing::FakeStep;
using testing::Page;

// Records what the run asked of its front end.
class RecordingHooks : public FrontEndHooks {
 public:
  void SetCaption(const std::string& caption) override { captions.push_back(caption); }
  void ShowWaitCursor(bool shown) override {
    cursor.push_back(shown);
    if (shown && onWaitCursor) onWaitCursor();
  }
  void ShowSiteUrl(const std::string& url) override { shownUrl = url; }
  void OpenPath(const std::string& path) override { opened.push_back(path); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ReportFailure(const std::string& text) override { failures.push_back(text); }
  void FocusUrlListFlag() override { focused = true; }
  void PageTooLarge(const LeftOutPage& page) override { tooLarge.push_back(page.url); }
  void CrawlFinished(const CrawlSummary& finished) override { summary = finished; }
  bool StopRequested() override { return stopAfterPages >= 0 && pages >= stopAfterPages; }
  void PageDone(int done, int waiting, const std::string& url) override {
    pages = done;
    progress.push_back(std::to_string(done) + "/" + std::to_string(waiting) + " " + url);
  }
  bool WantsCrawlLog() override { return true; }
  void CrawlStepLog(const std::string& text) override { logs += text; }
  void XmlSitemapWritten(const std::string& text) override { xmlNotes.push_back(text); }
  void SaveSettings(const SitemapFields& fields) override {
    ++saves;
    savedFolder = fields.outputFolder;
  }

  std::vector<std::string> captions, opened, messages, failures, progress, tooLarge, xmlNotes;
  CrawlSummary summary;
  std::vector<bool> cursor;
  std::string shownUrl, logs, savedFolder;
  bool focused = false;
  int saves = 0;
  int pages = 0;
  int stopAfterPages = -1;
  std::function<void()> onWaitCursor;
};

class GenerateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A temporary directory of its own, so no earlier run in the same second shares a folder.
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    oldTemp_ = quillon::TempDirectory();
    setenv("TMPDIR", quillon::testing::FreshDir(name).c_str(), 1);
    std::setlocale(LC_TIME, "C");
    fields.siteUrl = "http://example.com/";
    fields.title = "Map";
    fields.metaTags = "";
    options.delayMs = 0;
    options.makeSource = FakeFactory(script);
  }
  void TearDown() override { setenv("TMPDIR", oldTemp_.c_str(), 1); }
  std::string Sitemap() { return ReadFileBytes(fields.outputFolder + "/sitemap.htm"); }
  std::string UrlList() { return ReadFileBytes(fields.outputFolder + "/urllist.txt"); }
  bool Exists(const char* name) {
    return std::filesystem::exists(fields.outputFolder + "/" + name);
  }
  // Every name in the output folder, temporary files included.
  std::vector<std::string> FolderNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fields.outputFolder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  SitemapFields fields;
  RunOptions options;
  FakeScript script;
  RecordingHooks hooks;
  std::string oldTemp_;
};

struct AddressCase {
  const char* typed;
  const char* shown;
};

TEST(EnsureTrailingSlashTest, AddsSchemeAndSlashAndShowsTheResult) {
  const AddressCase cases[] = {
      {"http://example.com", "http://example.com/"},
      {"http://example.com/", "http://example.com/"},
      {"example.com", "http://example.com/"},
      {"example.com:8080/docs", "http://example.com:8080/docs/"},
      {"127.0.0.1:8080", "http://127.0.0.1:8080/"},
      {"HTTPS://Example.com/a/", "HTTPS://Example.com/a/"},
      {"ftp://example.com", "ftp://example.com/"},
      {"", "/"},
      // Trimmed; a file or a query is crawled as typed.
      {" \t http://example.com/docs \r\n", "http://example.com/docs/"},
      {"http://example.com/sub/page.html", "http://example.com/sub/page.html"},
      {"example.com/index.php?id=1", "http://example.com/index.php?id=1"},
      {"http://example.com/v1.2/docs", "http://example.com/v1.2/docs/"},
  };
  for (const AddressCase& c : cases) {
    SitemapFields fields;
    fields.siteUrl = c.typed;
    RecordingHooks hooks;
    EnsureTrailingSlash(fields, hooks);
    EXPECT_EQ(fields.siteUrl, c.shown) << c.typed;
    EXPECT_EQ(hooks.shownUrl, c.shown) << c.typed;
  }
}

TEST(SiteDomainTest, IsTheHostOfTheAddress) {
  EXPECT_EQ(SiteDomain("http://Example.COM/"), "example.com");
  EXPECT_EQ(SiteDomain("http://127.0.0.1:8080/docs/"), "127.0.0.1");
  EXPECT_EQ(SiteDomain("https://www.example.com/a?b"), "www.example.com");
}

TEST_F(GenerateRunTest, NeitherOutputChosenDoesNothing) {
  fields.urlList = false;
  fields.htmlSitemap = false;
  fields.xmlSitemap = false;
  EXPECT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::NoOutputChosen);
  ASSERT_EQ(hooks.messages.size(), 1u);
  EXPECT_EQ(hooks.messages[0], "Please Select the type of Sitemap to Generate to continue.");
  EXPECT_TRUE(hooks.focused);
  EXPECT_EQ(hooks.saves, 0);
  EXPECT_EQ(script.crawlCalls, 0);
  EXPECT_TRUE(fields.outputFolder.empty());
}

TEST_F(GenerateRunTest, BothOutputsFromTwoPages) {
  FakeStep first = Page("http://example.com/", "Home", 1);
  first.keywords = "k1";
  first.description = "Start";
  script.steps = {first, Page("http://example.com/b.html", "Bee")};
  fields.endOfBody = "<!-- e -->";
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);

  EXPECT_EQ(script.domain, "example.com");
  EXPECT_EQ(script.queued, std::vector<std::string>{"http://example.com/"});
  std::string expected = "<html>\r\n<head>\r\n";
  expected += kUtf8CharsetLine;
  expected +=
      "\r\n<title>Map</title>\r\n</head>\r\n<body>\r\n<h1>Sitemap</h1>\r\n<ul>\r\n"
      "<li><a title=\"k1\" href=\"http://example.com/\">Home</a> : Start</li>\r\n"
      "<li><a title=\"Bee\" href=\"http://example.com/b.html\">Bee</a> : </li>\r\n"
      "</ul>\r\n<br />\r\n<br />\r\n";
  expected += kPromotionalLine;
  expected += "\r\n\r\n<!-- e -->\r\n</body>\r\n</html>";
  EXPECT_EQ(Sitemap(), expected);
  EXPECT_EQ(UrlList(), "http://example.com/\r\nhttp://example.com/b.html");
  EXPECT_EQ(hooks.opened, std::vector<std::string>{fields.outputFolder});
  EXPECT_EQ(hooks.saves, 1);
  EXPECT_EQ(hooks.savedFolder, fields.outputFolder);
  EXPECT_TRUE(hooks.failures.empty());
}

TEST_F(GenerateRunTest, OnlyUrlListLeavesOutTheSitemapFile) {
  fields.htmlSitemap = false;
  script.steps = {Page("http://example.com/", "Home")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_FALSE(Exists("sitemap.htm"));
  EXPECT_EQ(UrlList(), "http://example.com/");
  // The crawl ran all the same.
  EXPECT_EQ(script.crawlCalls, 2);
}

TEST_F(GenerateRunTest, OnlySitemapLeavesOutTheUrlList) {
  fields.urlList = false;
  script.steps = {Page("http://example.com/", "Home")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_TRUE(Exists("sitemap.htm"));
  EXPECT_FALSE(Exists("urllist.txt"));
}

TEST_F(GenerateRunTest, UrlListHasCrLfBetweenLinesAndNoneAfterTheLast) {
  script.steps = {Page("http://example.com/", "A", 2), Page("http://example.com/b", "B", 1),
                  Page("http://example.com/c", "C")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(UrlList(), "http://example.com/\r\nhttp://example.com/b\r\nhttp://example.com/c");
}

TEST_F(GenerateRunTest, EmptyCrawlGivesEmptyListAndEmptyUrlListFileButNoXmlSitemap) {
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::StartPageFailed);
  EXPECT_NE(Sitemap().find("<ul>\r\n</ul>\r\n"), std::string::npos);
  EXPECT_TRUE(Exists("urllist.txt"));
  EXPECT_EQ(UrlList(), "");
  // An empty urlset is not a valid sitemap.
  EXPECT_FALSE(Exists("sitemap.xml"));
  EXPECT_EQ(hooks.xmlNotes, std::vector<std::string>{"0 URLs in the XML sitemap: no sitemap.xml "
                                                     "written, as a sitemap must list at least "
                                                     "one URL"});
  EXPECT_EQ(hooks.savedFolder, fields.outputFolder);
}

TEST_F(GenerateRunTest, EachRunListsOnlyItsOwnPages) {
  script.steps = {Page("http://example.com/", "A")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  script = FakeScript();
  script.steps = {Page("http://example.com/", "B")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(UrlList(), "http://example.com/");
}

TEST_F(GenerateRunTest, AnAddressWithoutSchemeOrSlashIsCompletedFirst) {
  fields.siteUrl = "Example.com:8080";
  script.steps = {Page("http://example.com:8080/", "Home")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(fields.siteUrl, "http://Example.com:8080/");
  EXPECT_EQ(script.domain, "example.com");
  EXPECT_EQ(script.queued, std::vector<std::string>{"http://Example.com:8080/"});
}

TEST_F(GenerateRunTest, CaptionShowsTheRawTitleThenTheApplicationName) {
  script.steps = {Page("http://example.com/", "", 1), Page("http://example.com/b", "<B>")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(hooks.captions, (std::vector<std::string>{"", "<B>", "Tollwick"}));
  EXPECT_EQ(hooks.cursor, (std::vector<bool>{true, false}));
}

TEST_F(GenerateRunTest, FailedStepWithUrlsWaitingAppendsItsLogAndGoesOn) {
  FakeStep failed;
  failed.fetched = false;
  failed.pendingAfter = 1;
  failed.log = "fetch failed\r\n";
  script.steps = {failed, Page("http://example.com/b", "B")};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_NE(Sitemap().find("<ul>\r\nfetch failed\r\n\r\n<li>"), std::string::npos);
  EXPECT_EQ(UrlList(), "http://example.com/b");
}

TEST_F(GenerateRunTest, ProgressAndLogAfterEveryStep) {
  script.steps = {Page("http://example.com/", "A", 3), Page("http://example.com/b", "B", 2)};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(hooks.progress,
            (std::vector<std::string>{"1/3 http://example.com/", "2/2 http://example.com/b"}));
  EXPECT_EQ(hooks.logs, "step log\r\nstep log\r\nNo unspidered URLs remaining.\r\n");
}

TEST_F(GenerateRunTest, PageLimitEndsTheCrawlAfterThatManyListedPages) {
  script.steps = {Page("http://example.com/", "A", 2), Page("http://example.com/b", "B", 1),
                  Page("http://example.com/c", "C")};
  options.maxPages = 2;
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(script.crawlCalls, 2);
  EXPECT_EQ(UrlList(), "http://example.com/\r\nhttp://example.com/b");
  EXPECT_EQ(hooks.summary.OutcomeText(),
            "the limit of 2 pages was reached (1 waiting URLs were not crawled)");
}

TEST_F(GenerateRunTest, StopEndsTheCrawlAndStillWritesTheFiles) {
  script.steps = {Page("http://example.com/", "A", 2), Page("http://example.com/b", "B", 1),
                  Page("http://example.com/c", "C")};
  hooks.stopAfterPages = 1;
  options.delayMs = 600000;  // the pause is cut short by the stop
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Stopped);
  EXPECT_EQ(script.crawlCalls, 1);
  EXPECT_TRUE(hooks.summary.stopped);
  EXPECT_EQ(hooks.summary.notCrawled, 2);
  EXPECT_EQ(UrlList(), "http://example.com/");
  EXPECT_NE(Sitemap().find("</html>"), std::string::npos);
}

TEST_F(GenerateRunTest, FailedSaveIsReportedWithItsReasonAndSettingsAreSavedWithoutTheFolder) {
  script.steps = {Page("http://example.com/", "A")};
  fields.crawlReport = false;
  // Once the run has made its folder, both file names are taken by folders.
  hooks.onWaitCursor = [this] {
    std::filesystem::create_directories(fields.outputFolder + "/sitemap.htm");
    std::filesystem::create_directories(fields.outputFolder + "/urllist.txt/keep");
  };
  EXPECT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Failed);
  ASSERT_EQ(hooks.failures.size(), 2u);
  EXPECT_EQ(hooks.failures[0], "Could not save the sitemap to " + fields.outputFolder +
                                   "/sitemap.htm: Is a directory");
  EXPECT_NE(hooks.failures[1].find("urllist.txt: "), std::string::npos);
  EXPECT_EQ(hooks.opened.size(), 1u);
  EXPECT_EQ(hooks.saves, 1);
  EXPECT_EQ(hooks.savedFolder, "");
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"sitemap.htm", "sitemap.xml", "urllist.txt"}));
}

// Each writer on a full disk: the run fails naming the file, no temporary file stays behind and
// the profile does not get the folder.
TEST_F(GenerateRunTest, FullDiskLeavesNoPartialFileAndNoLastFolder) {
  const struct {
    bool html, list, xml, report;
    std::string failure;
  } cases[] = {
      {true, false, false, false, "Could not save the sitemap to %/sitemap.htm"},
      {false, true, false, false, "Could not save the URL list to %/urllist.txt"},
      {false, false, true, false, "Could not save the XML sitemap to %/sitemap.xml"},
      // pages.csv fails first; sitemap.htm and report.html then fail too.
      {true, false, false, true, "Could not save the page list to %/pages.csv"},
  };
  for (const auto& c : cases) {
    std::tie(fields.htmlSitemap, fields.urlList, fields.xmlSitemap, fields.crawlReport) =
        std::tie(c.html, c.list, c.xml, c.report);
    script = FakeScript();
    script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "B")};
    hooks = RecordingHooks();
    quillon::SetDiskSpaceForTests(16);
    RunOutcome outcome = GenerateSitemap(fields, hooks, options);
    quillon::SetDiskSpaceForTests(quillon::kRealDiskSpace);
    EXPECT_EQ(outcome, RunOutcome::Failed) << c.failure;
    std::string failure = c.failure;
    failure.replace(failure.find('%'), 1, fields.outputFolder);
    ASSERT_EQ(hooks.failures.size(), c.report ? 3u : 1u) << c.failure;
    EXPECT_EQ(hooks.failures[0], failure + ": No space left on device");
    EXPECT_TRUE(FolderNames().empty()) << c.failure;
    EXPECT_EQ(hooks.saves, 1);
    EXPECT_EQ(hooks.savedFolder, "") << c.failure;
  }
}

TEST_F(GenerateRunTest, CanonicalLinksDecideTheXmlSitemapUnlessIgnored) {
  const struct {
    bool ignoreCanonical;
    bool followCanonical;
    const char* note;
  } cases[] = {
      {false, true,
       "0 URLs in the XML sitemap (left out: 2 canonical elsewhere): no sitemap.xml written, as "
       "a sitemap must list at least one URL"},
      {true, false, "2 URLs in the XML sitemap"},
  };
  for (const auto& c : cases) {
    script = FakeScript();
    script.steps = {Page("http://staging.example/", "Home", 1),
                    Page("http://staging.example/b", "B")};
    for (FakeStep& step : script.steps) step.canonical = "https://example.com/x";
    hooks = RecordingHooks();
    options.ignoreCanonical = c.ignoreCanonical;
    ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
    EXPECT_EQ(script.settings.followCanonical, c.followCanonical);
    EXPECT_EQ(hooks.xmlNotes, std::vector<std::string>{c.note});
    EXPECT_EQ(Exists("sitemap.xml"), c.ignoreCanonical);
  }
}

TEST_F(GenerateRunTest, SummaryCountsWhatTheCrawlLeftOut) {
  const LeftOutPage big{"http://example.com/big", "larger than the page size limit", true};
  const LeftOutPage gone{"http://example.com/gone", "HTTP 404 Not Found", false};
  FakeStep home = Page("http://example.com/", "A", 2);
  FakeStep after = Page("http://example.com/b", "B");
  after.leftOut = {big, gone};
  script.steps = {home, after};
  script.robotsExcluded = 3;
  script.offSite = 4;
  options.source.maxPageSize = 1234;
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::Finished);
  EXPECT_EQ(script.settings.maxPageSize, 1234u);
  EXPECT_EQ(hooks.tooLarge, std::vector<std::string>{big.url});
  EXPECT_EQ(hooks.summary.Text(),
            "2 pages listed, 1 failed, 1 too large, 3 excluded by robots.txt, 4 off the site");
  EXPECT_EQ(hooks.summary.OutcomeText(), "");
}

TEST_F(GenerateRunTest, StartPageThatFailsIsTheRunsOutcome) {
  script.steps = {testing::Failure({{"http://example.com/", "connection refused", false}})};
  ASSERT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::StartPageFailed);
  EXPECT_TRUE(Exists("sitemap.htm"));
  EXPECT_EQ(hooks.summary.OutcomeText(), "could not fetch http://example.com/: connection refused");
}

TEST_F(GenerateRunTest, EmptyAddressShowsAMessageAndCrawlsNothing) {
  fields.siteUrl = " \t ";
  EXPECT_EQ(GenerateSitemap(fields, hooks, options), RunOutcome::NoAddress);
  EXPECT_EQ(hooks.messages, std::vector<std::string>{kNoAddressMessage});
  EXPECT_EQ(script.crawlCalls, 0);
  EXPECT_TRUE(fields.outputFolder.empty());
}

TEST_F(GenerateRunTest, UntrustedTollwickFolderFailsTheRunWithAMessage) {
  quillon::testing::WriteFileBytes(quillon::TempDirectory() + "Tollwick", "not a folder");
  RunOutcome outcome = GenerateSitemap(fields, hooks, options);
  EXPECT_EQ(outcome, RunOutcome::Failed);
  EXPECT_EQ(hooks.failures.size(), 1u);
  EXPECT_EQ(script.crawlCalls, 0);
  EXPECT_TRUE(fields.outputFolder.empty());
  EXPECT_TRUE(hooks.opened.empty());
  EXPECT_EQ(hooks.saves, 1);
}

TEST_F(GenerateRunTest, DiagnosticCrawlWritesUrlTabDatePerLine) {
  FakeStep dated = Page("http://example.com/", "A", 1);
  dated.hasDate = true;
  dated.date.year = 1994;
  dated.date.month = 11;
  dated.date.day = 15;
  FakeStep failed;
  failed.fetched = false;
  failed.pendingAfter = 1;
  failed.log = "failed step";
  script.steps = {dated, failed, Page("http://example.com/b", "B")};
  DiagnosticOptions diagnostic;
  diagnostic.delayMs = 0;
  diagnostic.makeSource = FakeFactory(script);
  std::string path;
  ASSERT_TRUE(DiagnosticCrawl(fields, hooks, diagnostic, path));
  EXPECT_EQ(path, quillon::TempDirectory() + "Tollwick/sitemap.txt");
  EXPECT_EQ(ReadFileBytes(path),
            "http://example.com/\t11/15/94 00:00:00\r\nfailed step\r\nhttp://example.com/b\t\r\n");
  EXPECT_EQ(hooks.opened, std::vector<std::string>{path});
}

TEST_F(GenerateRunTest, DiagnosticCrawlStopsAfterItsPasses) {
  for (int i = 0; i < 5; ++i)
    script.steps.push_back(Page("http://example.com/" + std::to_string(i), "", 1));
  DiagnosticOptions diagnostic;
  diagnostic.delayMs = 0;
  diagnostic.maxPasses = 3;
  diagnostic.outputPath = quillon::testing::ScratchDir() + "diag.txt";
  diagnostic.makeSource = FakeFactory(script);
  fields.siteUrl = "example.com";
  std::string path;
  ASSERT_TRUE(DiagnosticCrawl(fields, hooks, diagnostic, path));
  EXPECT_EQ(script.crawlCalls, 3);
  EXPECT_EQ(script.queued, std::vector<std::string>{"http://example.com"});
  EXPECT_EQ(ReadFileBytes(path),
            "http://example.com/0\t\r\nhttp://example.com/1\t\r\nhttp://example.com/2\t\r\n");
}

}  // namespace
}  // namespace tollwick
