#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <clocale>
#include <cstdlib>
#include <filesystem>
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
      {{"generate", "a.example", "--delay-ms", "12x"}, "--delay-ms wants a whole number"},
      {{"generate", "a.example", "--colour"}, "unknown option --colour"},
      {{"generate", "a.example", "--no-html", "--no-urllist"},
       "Please Select the type of Sitemap to Generate to continue."},
      {{"spider"}, "spider needs the site address"},
      {{"spider", ""}, "the site address is empty"},
      {{"spider", "a.example", "-o", ""}, "-o needs a file name"},
      {{"spider", "a.example", "--html"}, "unknown option --html"},
      {{"last", "extra"}, "last takes no arguments"},
      {{"crawl"}, "unknown command \"crawl\""},
  };
  for (const UsageCase& c : cases) {
    EXPECT_EQ(Run(c.args), kExitUsage) << c.message;
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    EXPECT_EQ(script.crawlCalls, 0) << c.message;
  }
}

TEST_F(CommandLineTest, HelpVersionAndNoArguments) {
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(out.str().find("tollwick generate URL [options]"), std::string::npos);
  EXPECT_NE(out.str().find("Without arguments tollwick opens its dialog."), std::string::npos);
  EXPECT_EQ(Run({}), kExitOk);
  EXPECT_EQ(out.str(), UsageText());
  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out.str(), "Tollwick Version 1.0\n");
}

TEST_F(CommandLineTest, GeneratePrintsTheFolderLastAndProgressOnStderr) {
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0"}), kExitOk) << err.str();
  std::string folder = LastLine();
  EXPECT_EQ(folder.rfind(quillon::TempDirectory() + "Tollwick/", 0), 0u) << folder;
  EXPECT_EQ(ReadFileBytes(folder + "/urllist.txt"), "http://example.com/\r\nhttp://example.com/b");
  EXPECT_EQ(err.str(),
            "[1 done, 1 waiting] http://example.com/\n[2 done, 0 waiting] http://example.com/b\n");
  EXPECT_EQ(script.queued, std::vector<std::string>{"http://example.com/"});
}

TEST_F(CommandLineTest, OptionsFillTheHeadAndTheProfileRemembersThem) {
  ASSERT_EQ(Run({"generate", "http://example.com/", "--delay-ms", "0", "--title", "T1",
                 "--description", "D1", "--meta-tags", "<meta m />", "--end-of-body", "E1",
                 "--no-urllist"}),
            kExitOk);
  std::string folder = LastLine();
  std::string sitemap = ReadFileBytes(folder + "/sitemap.htm");
  EXPECT_NE(sitemap.find("<meta m />\r\n<title>T1</title>\r\n"
                         "<meta name=\"description\" content=\"D1\" />\r\n"),
            std::string::npos);
  EXPECT_NE(sitemap.find("\r\nE1\r\n</body>"), std::string::npos);

  // The next run takes the saved values as its defaults, and "last" knows the folder.
  script.crawlCalls = 0;
  ASSERT_EQ(Run({"generate", "http://example.com/", "--delay-ms", "0"}), kExitOk);
  std::string second = ReadFileBytes(LastLine() + "/sitemap.htm");
  EXPECT_NE(second.find("<title>T1</title>"), std::string::npos);
  EXPECT_EQ(Run({"last"}), kExitOk);
  EXPECT_EQ(out.str(), LastLine() + "\n");
}

TEST_F(CommandLineTest, LastBeforeAnyRunIsNotAvailable) {
  EXPECT_EQ(Run({"last"}), kExitFailure);
  EXPECT_EQ(out.str(), "Last Results not available.\n");
}

TEST_F(CommandLineTest, LogFileGetsEveryCrawlStep) {
  script.steps = {Page("http://example.com/", "Home")};
  std::string log = quillon::TempDirectory() + "crawl.log";
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0", "--log", log}), kExitOk);
  EXPECT_EQ(ReadFileBytes(log), "step log\r\nNo unspidered URLs remaining.\r\n");
}

TEST_F(CommandLineTest, UnwritableLogFileFailsBeforeTheCrawl) {
  EXPECT_EQ(Run({"generate", "example.com", "--log", "/nonexistent-dir/x.log"}), kExitFailure);
  EXPECT_EQ(script.crawlCalls, 0);
}

TEST_F(CommandLineTest, StopSignalEndsTheCrawlAndStillWritesTheFiles) {
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "Bee")};
  RaiseStopForTests();
  ASSERT_EQ(Run({"generate", "example.com", "--delay-ms", "0"}), kExitOk);
  EXPECT_EQ(script.crawlCalls, 0);
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

TEST_F(CommandLineTest, SpiderWritesToTheFileGiven) {
  std::string path = quillon::TempDirectory() + "list.txt";
  ASSERT_EQ(Run({"spider", "http://example.com/", "-o", path, "--delay-ms", "0"}), kExitOk);
  EXPECT_EQ(LastLine(), path);
  EXPECT_EQ(ReadFileBytes(path), "");
}

}  // namespace
}  // namespace tollwick
