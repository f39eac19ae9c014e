// End-to-end crawls: the tollwick program against nginx serving a generated site, compared
// byte for byte with the expected files in tests/data/app/crawl_site (made by
// tools/gen_crawl_site.py from its own model of the crawl), and bad site addresses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <clocale>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <memory>

#include "app/generate_run.h"
#include "app/sitemap_fields.h"
#include "base/platform.h"
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

// A program started with the arguments (no shell), stdout and stderr captured in files.
class Running {
 public:
  explicit Running(const std::vector<std::string>& args) {
    static int runs = 0;
    std::string dir = quillon::testing::ScratchDir();
    outPath_ = dir + "run" + std::to_string(++runs) + ".out";
    errPath_ = dir + "run" + std::to_string(runs) + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  // What stderr holds so far.
  std::string ErrSoFar() const { return ReadFileBytes(errPath_); }
  void Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
  }
  Outcome Wait() {
    Outcome outcome;
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = 0;
    }
    outcome.out = ReadFileBytes(outPath_);
    outcome.err = ReadFileBytes(errPath_);
    return outcome;
  }

 private:
  pid_t pid_ = 0;
  std::string outPath_;
  std::string errPath_;
};

Outcome RunProgram(const std::vector<std::string>& args) { return Running(args).Wait(); }

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
  size_t lines = std::count(run.err.begin(), run.err.end(), '[');
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

TEST_F(CrawlSiteTest, StopSignalMidCrawlWritesWhatWasGatheredAndExits130) {
  Running running({TollwickBinary(), "generate", Base() + "/", "--delay-ms", "100"});
  for (int wait = 0; wait < 200 && running.ErrSoFar().find("[3 done") == std::string::npos;
       ++wait) {
    quillon::SleepMs(50);
  }
  running.Signal(SIGINT);
  Outcome run = running.Wait();
  EXPECT_EQ(run.exitCode, 130) << run.err;
  EXPECT_NE(run.err.find("tollwick: stopped: the sitemap is partial ("), std::string::npos)
      << run.err;
  // Every page reported done is in the list, once.
  std::string list = ReadFileBytes(run.LastLine() + "/urllist.txt");
  long done = std::count(run.err.begin(), run.err.end(), '[');
  EXPECT_GE(done, 3);
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n') + 1, done);
  EXPECT_NE(ReadFileBytes(run.LastLine() + "/sitemap.htm").find("</html>"), std::string::npos);
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

// A hand-made site with the traps real sites set: a ">" hidden in a quoted attribute, an
// upper-case scheme, a bare "http://host:port" link, a folder without its slash, a file as the
// start address, robots.txt, a missing page, a page over the size limit and an off-site link.
class TrapSiteTest : public ::testing::Test {
 protected:
  static constexpr int kMaxPageSize = 4000;

  static void SetUpTestSuite() {
    root_ = new std::string(quillon::testing::FreshDir("trap_site"));
    NginxOptions options;
    options.gzip = false;
    server_ = new NginxServer(*root_, options);
    if (!server_->isRunning()) return;
    const std::string base = server_->baseUrl();
    const std::string upperBase = "HTTP" + base.substr(4);
    Write("index.html",
          "<html><head><title>Trap home</title></head><body>\n"
          "<a title='a > b' href=\"quoted.html\">Quoted</a>\n"
          "<a href=\"" + upperBase + "/upper.html\">Upper</a>\n"
          "<a href=\"" + base + "\">Bare host</a> <a href=\"" + base + "/\">Home again</a>\n"
          "<a href=\"docs\">Folder</a> <a href=\"private/secret.html\">Private</a>\n"
          "<a href=\"missing.html\">Missing</a> <a href=\"big.html\">Big</a>\n"
          "<a href=\"http://elsewhere.example/\">Away</a>\n</body></html>\n");
    Write("quoted.html", "<title>Quoted</title>");
    Write("upper.html", "<title>Upper</title>");
    Write("docs/index.html", "<title>Docs</title><a href=\"guide.html\">Guide</a>");
    Write("docs/guide.html", "<title>Guide</title>");
    Write("private/secret.html", "<title>Secret</title>");
    Write("big.html", "<title>Big</title>" + std::string(kMaxPageSize * 2, 'x'));
    Write("robots.txt", "User-agent: *\nDisallow: /private/\n");
  }
  static void TearDownTestSuite() {
    delete server_;
    delete root_;
  }
  void SetUp() override {
    if (!server_->isRunning()) GTEST_SKIP() << server_->error();
  }
  static void Write(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(*root_ + "/" + name).parent_path());
    quillon::testing::WriteFileBytes(*root_ + "/" + name, text);
  }
  static std::vector<std::string> Args(const std::string& url) {
    return {TollwickBinary(), "generate",        url,
            "--delay-ms",     "0",               "--max-page-size",
            std::to_string(kMaxPageSize)};
  }
  static std::string Base() { return server_->baseUrl(); }

  static std::string* root_;
  static NginxServer* server_;
};

std::string* TrapSiteTest::root_ = nullptr;
NginxServer* TrapSiteTest::server_ = nullptr;

TEST_F(TrapSiteTest, EveryTrapIsCrawledRightAndTheSummarySaysWhatWasLeftOut) {
  const std::string base = Base();
  Outcome run = RunProgram(Args("  HTTP" + base.substr(4) + "/index.html \t"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"),
            base + "/index.html\r\n" + base + "/quoted.html\r\n" + base + "/upper.html\r\n" +
                base + "/\r\n" + base + "/docs\r\n" + base + "/docs/guide.html");
  for (const std::string& line :
       {"tollwick: warning: left out " + base + "/big.html: larger than the page size limit of " +
            "4000 bytes\n",
        "tollwick: failed: " + base + "/missing.html: HTTP 404 Not Found\n",
        std::string("tollwick: 6 pages listed, 1 failed, 1 too large, 1 excluded by robots.txt, "
                    "1 off the site\n")}) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
  }
}

TEST_F(TrapSiteTest, StartPageFailuresExitOneWithTheReasonAndStillWriteTheFiles) {
  const std::string hostAndPort = Base().substr(std::string("http://").size());
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(quillon::testing::FreeLoopbackPort()) + "/";
  struct Case {
    std::string url;
    std::string reason;
  } cases[] = {
      {refused, "connection refused"},
      {"https://" + hostAndPort + "/", "TLS handshake failed"},
      {Base() + "/nothing.html", "HTTP 404 Not Found"},
      {Base() + "/big.html", "larger than the page size limit of 4000 bytes"},
  };
  for (const Case& c : cases) {
    Outcome run = RunProgram(Args(c.url));
    EXPECT_EQ(run.exitCode, 1) << c.url;
    EXPECT_NE(run.err.find("tollwick: could not fetch " + c.url + ": " + c.reason + "\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"), "") << c.url;
  }
}

TEST_F(TrapSiteTest, TwoRunsAtOnceGetAFolderEachWithAllTheirPages) {
  Running first(Args(Base() + "/docs/"));
  Running second(Args(Base() + "/docs/"));
  Outcome one = first.Wait();
  Outcome two = second.Wait();
  ASSERT_EQ(one.exitCode, 0) << one.err;
  ASSERT_EQ(two.exitCode, 0) << two.err;
  EXPECT_NE(one.LastLine(), two.LastLine());
  for (const Outcome* run : {&one, &two}) {
    EXPECT_EQ(ReadFileBytes(run->LastLine() + "/urllist.txt"),
              Base() + "/docs/\r\n" + Base() + "/docs/guide.html");
  }
}

// A site for the XML sitemap: redirects, noindex by meta element and by header, canonical links
// to the page itself and elsewhere, a text file, a page reachable under two addresses, a missing
// page, and Last-Modified dates set on some pages (nginx sends the file's time; pages answered
// by "return" have none).
class XmlSiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new std::string(quillon::testing::FreshDir("xml_site"));
    NginxOptions options;
    options.gzip = false;
    options.extraServerConfig =
        "location = /old.html { return 301 /new.html; }\n"
        "location = /about.html { default_type text/html; return 200 '<title>About</title>'; }\n"
        "location = /noindex-header.html { add_header X-Robots-Tag \"noindex\"; }\n";
    server_ = new NginxServer(*root_, options);
    Write("index.html", 1704164645,
          "<html><head><title>Home</title><link rel=\"canonical\" href=\"/\"></head><body>\n"
          "<a href=\"index.html\">Home</a> <a href=\"about.html\">About</a>\n"
          "<a href=\"noindex-meta.html\">Meta</a> <a href=\"noindex-header.html\">Header</a>\n"
          "<a href=\"canon-self.html\">Self</a> <a href=\"print.html\">Print</a>\n"
          "<a href=\"article.html?a=1&amp;b=2\">Article</a> <a href=\"data.txt\">Data</a>\n"
          "<a href=\"old.html\">Old</a> <a href=\"new.html\">New</a>\n"
          "<a href=\"two\">Two</a> <a href=\"two/\">Two again</a> <a href=\"gone.html\">Gone</a>\n"
          "</body></html>\n");
    Write("noindex-meta.html", 1704164645,
          "<meta name=\"ROBOTS\" content=\"NoIndex, follow\"><a href=\"deep.html\">Deep</a>");
    Write("noindex-header.html", 1704164645, "<title>Header</title>");
    Write("canon-self.html", 1688169599,
          "<link href='canon-self.html#top' rel='Canonical'><title>Self</title>");
    Write("print.html", 1704164645,
          "<link rel=\"canonical\" href=\"article.html?a=1&amp;b=2\"><title>Print</title>");
    Write("article.html", 1582977600, "<title>Article</title>");
    Write("data.txt", 1704164645, "<title>Not a page</title>");
    Write("new.html", 946598400, "<title>New</title>");
    Write("two/index.html", 1620191105, "<title>Two</title>");
    Write("deep.html", 1286705410, "<title>Deep</title>");
  }
  static void TearDownTestSuite() {
    delete server_;
    delete root_;
  }
  void SetUp() override {
    if (!server_->isRunning()) GTEST_SKIP() << server_->error();
  }
  // A file whose modification time (and so its Last-Modified) is the given UTC second.
  static void Write(const std::string& name, time_t modified, const std::string& text) {
    std::string path = *root_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    quillon::testing::WriteFileBytes(path, text);
    timespec times[2] = {{modified, 0}, {modified, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  static Outcome Generate(std::vector<std::string> extra) {
    std::vector<std::string> args = {TollwickBinary(), "generate", server_->baseUrl() + "/",
                                     "--delay-ms", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProgram(args);
  }
  // xmllint's verdict on file against one of the schemas in tests/data/app/xsd.
  static Outcome Validate(const std::string& file, const std::string& schema) {
    return RunProgram({"/usr/bin/xmllint", "--noout", "--schema",
                       SourceDir() + "/tests/data/app/xsd/" + schema, file});
  }

  static std::string* root_;
  static NginxServer* server_;
};

std::string* XmlSiteTest::root_ = nullptr;
NginxServer* XmlSiteTest::server_ = nullptr;

TEST_F(XmlSiteTest, ListsOnlyIndexableHtmlPagesOnceWithTheirDatesAndLeavesTheOtherFilesAlone) {
  Outcome run = Generate({});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string base = server_->baseUrl();
  const std::string folder = run.LastLine();
  std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
  for (const char* entry : {"/</loc><lastmod>2024-01-02T03:04:05+00:00</lastmod>",
                            "/about.html</loc>",
                            "/canon-self.html</loc><lastmod>2023-06-30T23:59:59+00:00</lastmod>",
                            "/article.html?a=1&amp;b=2</loc>"
                            "<lastmod>2020-02-29T12:00:00+00:00</lastmod>",
                            "/new.html</loc><lastmod>1999-12-31T00:00:00+00:00</lastmod>",
                            "/two/</loc><lastmod>2021-05-05T05:05:05+00:00</lastmod>",
                            "/deep.html</loc><lastmod>2010-10-10T10:10:10+00:00</lastmod>"}) {
    expected += "<url><loc>" + base + entry + "</url>\n";
  }
  expected += "</urlset>\n";
  EXPECT_EQ(ReadFileBytes(folder + "/sitemap.xml"), expected);
  EXPECT_NE(run.err.find("tollwick: 7 URLs in the XML sitemap (left out: 1 not HTML, 2 noindex, "
                         "2 canonical elsewhere, 2 duplicate)\n"),
            std::string::npos)
      << run.err;
  Outcome valid = Validate(folder + "/sitemap.xml", "sitemap.xsd");
  EXPECT_EQ(valid.exitCode, 0) << valid.err;

  // The HTML sitemap and the URL list are what a run without the XML sitemap writes.
  Outcome plain = Generate({"--no-xml"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  for (const char* name : {"/urllist.txt", "/sitemap.htm"}) {
    EXPECT_EQ(ReadFileBytes(folder + name), ReadFileBytes(plain.LastLine() + name)) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(plain.LastLine() + "/sitemap.xml"));
  EXPECT_EQ(std::count(plain.err.begin(), plain.err.end(), '['), 14);

  // Compressed, the same text.
  Outcome gzipped = Generate({"--xml-gzip", "--no-html", "--no-urllist", "--no-report"});
  ASSERT_EQ(gzipped.exitCode, 0) << gzipped.err;
  EXPECT_EQ(RunProgram({"/bin/gzip", "-dc", gzipped.LastLine() + "/sitemap.xml.gz"}).out,
            ReadFileBytes(folder + "/sitemap.xml"));
  EXPECT_EQ(std::filesystem::directory_iterator(gzipped.LastLine())->path().filename(),
            "sitemap.xml.gz");
}

// One site on which each of the engine's options changes what is crawled.
TEST(EngineOptionsTest, EachOptionChangesTheCrawlAsItSays) {
  std::string root = quillon::testing::FreshDir("options_site");
  NginxOptions nginx;
  nginx.gzip = false;
  nginx.extraServerConfig =
      "location /ua/ { if ($http_user_agent != \"MyAgent\") { return 404; } }";
  NginxServer server(root, nginx);
  if (!server.isRunning()) GTEST_SKIP() << server.error();
  const std::string base = server.baseUrl();
  auto write = [&root](const std::string& name, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(root + "/" + name).parent_path());
    quillon::testing::WriteFileBytes(root + "/" + name, text);
  };
  write("index.html",
        std::string("<a href=a.html>A</a> <a href=skip/b.html>B</a> <a href=q.html?x=1>Q</a>\n") +
        "<a href=https" + base.substr(4) + "/s.html>S</a> <a rel=nofollow href=nf.html>NF</a>\n"
        "<a href=tw/x.html>TW</a> <a href=ob/x.html>OB</a> <a href=ua/page.html>UA</a>\n"
        "<a href=http://elsewhere.example/x>E</a> <a href=http://other.example/y>O</a>\n");
  write("a.html", "<a href=a2.html>A2</a>");
  for (const char* name : {"a2.html", "skip/b.html", "q.html", "nf.html", "tw/x.html",
                           "ob/x.html", "ua/page.html"}) {
    write(name, "<title>page</title>");
  }
  write("robots.txt",
        "User-agent: Tollwick\nDisallow: /tw/\nUser-agent: OtherBot\nDisallow: /ob/\n"
        "User-agent: MyAgent\nDisallow: /a2\n");
  // A folder that does not exist yet, in one that does.
  const std::string outputDir = quillon::testing::FreshDir("chosen") + "/out";

  const struct {
    std::vector<std::string> options;
    std::vector<std::string> pages;
    std::string summary;  // listed, failed, too large, excluded by robots.txt, off the site
  } cases[] = {
      {{},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/ob/x.html",
        "/a2.html"},
       "7 2 0 1 2"},
      {{"--avoid", "*SKIP*", "--avoid=*nothing*"},
       {"/index.html", "/a.html", "/q.html?x=1", "/nf.html", "/ob/x.html", "/a2.html"},
       "6 2 0 1 2"},
      {{"--must-match", "*.html"},
       {"/index.html", "/a.html", "/skip/b.html", "/nf.html", "/ob/x.html", "/a2.html"},
       "6 2 0 1 0"},
      {{"--outbound-avoid", "*elsewhere*"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/ob/x.html",
        "/a2.html"},
       "7 2 0 1 1"},
      {{"--max-urls", "1"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/ob/x.html"},
       "6 2 0 1 2"},
      {{"--drop-query"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html", "/nf.html", "/ob/x.html", "/a2.html"},
       "7 2 0 1 2"},
      {{"--drop-https"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/ob/x.html",
        "/a2.html"},
       "7 1 0 1 2"},
      {{"--respect-nofollow"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/ob/x.html", "/a2.html"},
       "6 2 0 1 2"},
      {{"--user-agent", "MyAgent"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/ob/x.html",
        "/ua/page.html"},
       "7 1 0 2 2"},
      {{"--robots-agent", "otherbot"},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/tw/x.html",
        "/a2.html"},
       "7 2 0 1 2"},
      {{"--output-dir", outputDir},
       {"/index.html", "/a.html", "/skip/b.html", "/q.html?x=1", "/nf.html", "/ob/x.html",
        "/a2.html"},
       "7 2 0 1 2"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {TollwickBinary(), "generate", base + "/index.html",
                                     "--delay-ms", "0"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Outcome run = RunProgram(args);
    std::string label = c.options.empty() ? "(defaults)" : c.options[0];
    ASSERT_EQ(run.exitCode, 0) << label << run.err;
    std::string expected;
    for (const std::string& page : c.pages)
      expected += (expected.empty() ? "" : "\r\n") + base + page;
    EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"), expected) << label;
    int listed, failed, large, robots, offSite;
    std::sscanf(c.summary.c_str(), "%d %d %d %d %d", &listed, &failed, &large, &robots, &offSite);
    std::string summary = "tollwick: " + std::to_string(listed) + " pages listed, " +
                          std::to_string(failed) + " failed, " + std::to_string(large) +
                          " too large, " + std::to_string(robots) + " excluded by robots.txt, " +
                          std::to_string(offSite) + " off the site\n";
    EXPECT_NE(run.err.find(summary), std::string::npos) << label << "\n" << run.err;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outputDir), {}), 1);
}

// A site whose member pages answer 403 without the session cookie its front page sets.
class CookieSiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new std::string(quillon::testing::FreshDir("cookie_site"));
    NginxOptions options;
    options.gzip = false;
    options.extraServerConfig =
        "location = /index.html { add_header Set-Cookie \"session=ok; path=/\"; }\n"
        "location /members/ { if ($cookie_session != \"ok\") { return 403; } }\n";
    server_ = new NginxServer(*root_, options);
    quillon::testing::WriteFileBytes(*root_ + "/index.html",
                                     "<title>Login</title><a href=\"members/a.html\">A</a>");
    std::filesystem::create_directories(*root_ + "/members");
    quillon::testing::WriteFileBytes(*root_ + "/members/a.html",
                                     "<title>A</title><a href=\"b.html\">B</a>");
    quillon::testing::WriteFileBytes(*root_ + "/members/b.html", "<title>B</title>");
  }
  static void TearDownTestSuite() {
    delete server_;
    delete root_;
  }
  void SetUp() override {
    if (!server_->isRunning()) GTEST_SKIP() << server_->error();
  }
  static Outcome Crawl(const std::string& path, const std::vector<std::string>& more) {
    std::vector<std::string> args = {TollwickBinary(), "generate", server_->baseUrl() + path,
                                     "--delay-ms", "0"};
    args.insert(args.end(), more.begin(), more.end());
    return RunProgram(args);
  }
  static std::string List(const Outcome& run) {
    return ReadFileBytes(run.LastLine() + "/urllist.txt");
  }

  static std::string* root_;
  static NginxServer* server_;
};

std::string* CookieSiteTest::root_ = nullptr;
NginxServer* CookieSiteTest::server_ = nullptr;

TEST_F(CookieSiteTest, TheSessionCookieOpensTheMemberPagesAndLastsAcrossRuns) {
  const std::string base = server_->baseUrl();
  const std::string all = base + "/index.html\r\n" + base + "/members/a.html\r\n" + base +
                          "/members/b.html";
  Outcome without = Crawl("/index.html", {});
  EXPECT_EQ(List(without), base + "/index.html");
  EXPECT_NE(without.err.find("members/a.html: HTTP 403 Forbidden"), std::string::npos);

  Outcome inMemory = Crawl("/index.html", {"--cookies", "memory"});
  EXPECT_EQ(List(inMemory), all) << inMemory.err;

  const std::string jar = quillon::testing::ScratchDir() + "jar";
  Outcome first = Crawl("/index.html", {"--cookies", jar});
  EXPECT_EQ(List(first), all) << first.err;
  EXPECT_EQ(std::filesystem::status(jar).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  // The next run goes straight to a member page with the cookie from the folder.
  Outcome second = Crawl("/members/a.html", {"--cookies=" + jar});
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(List(second), base + "/members/a.html\r\n" + base + "/members/b.html");
}

// A site behind a Basic login given in the address: its pages crawl, and the password is in no
// file of the run, nor on stderr beyond the one warning that names no password.
TEST(AddressLoginTest, ThePasswordInTheAddressOpensTheSiteAndIsWrittenNowhere) {
  const std::string root = quillon::testing::FreshDir("address_login");
  const std::string users = quillon::testing::ScratchDir() + "htpasswd";
  quillon::testing::WriteFileBytes(users, "ann:{PLAIN}Pa55word\n");
  quillon::testing::WriteFileBytes(root + "/index.html", "<title>Home</title><a href=a.html>A</a>");
  quillon::testing::WriteFileBytes(root + "/a.html", "<title>A</title>");
  NginxOptions options;
  options.extraServerConfig = "auth_basic \"members\";\nauth_basic_user_file " + users + ";";
  NginxServer server(root, options);
  if (!server.isRunning()) GTEST_SKIP() << server.error();
  const std::string base = server.baseUrl();
  const std::string withLogin = ReplaceAll(base, "http://", "http://ann:Pa55word@");

  Outcome run = RunProgram({TollwickBinary(), "generate", withLogin + "/", "--delay-ms", "0",
                            "--log", quillon::testing::ScratchDir() + "address-login.log"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(run.LastLine() + "/urllist.txt"), base + "/\r\n" + base + "/a.html");
  EXPECT_NE(run.err.find("warning: the password in the address"), std::string::npos);
  EXPECT_EQ((run.out + run.err).find("Pa55word"), std::string::npos) << run.err;
  std::vector<std::string> files = {quillon::testing::ScratchDir() + "address-login.log"};
  for (const auto& entry : std::filesystem::directory_iterator(run.LastLine())) {
    files.push_back(entry.path());
  }
  for (const std::string& file : files) {
    EXPECT_EQ(ReadFileBytes(file).find("Pa55word"), std::string::npos) << file;
  }
}

// A cookie file that cannot be written (a folder stands where it goes) does not stop the crawl:
// it is told once, as a warning counted in the summary.
TEST_F(CookieSiteTest, ACookieFileThatCannotBeSavedWarnsOnce) {
  const std::string jar = quillon::testing::FreshDir("blocked_jar");
  std::filesystem::create_directories(jar + "127_0_0_1.xml");
  Outcome run = Crawl("/index.html", {"--cookies", jar});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string warning =
      "tollwick: warning: " + server_->baseUrl() + ": cookies could not be saved\n";
  EXPECT_EQ(run.err.find(warning), run.err.rfind(warning)) << run.err;
  EXPECT_NE(run.err.find(warning), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(", 1 warning\n"), std::string::npos) << run.err;
}

// Hooks that keep the summary: the run's own outcome is what this test looks at.
class SummaryHooks : public FrontEndHooks {
 public:
  void CrawlFinished(const CrawlSummary& finished) override { summary = finished; }
  CrawlSummary summary;
};

TEST(UnresolvableHostTest, StartPageFailsWithTheLookupAsReason) {
  quillon::testing::FakeResolver::Instance().Install();
  std::setlocale(LC_TIME, "C");
  SitemapFields fields;
  fields.siteUrl = "http://nowhere.test/";
  RunOptions options;
  options.delayMs = 0;
  SummaryHooks hooks;
  RunOutcome outcome = GenerateSitemap(fields, hooks, options);
  quillon::testing::FakeResolver::Instance().Uninstall();
  EXPECT_EQ(outcome, RunOutcome::StartPageFailed);
  EXPECT_EQ(hooks.summary.OutcomeText(),
            "could not fetch http://nowhere.test/: could not resolve host nowhere.test");
  EXPECT_EQ(ReadFileBytes(fields.outputFolder + "/urllist.txt"), "");
  EXPECT_NE(ReadFileBytes(fields.outputFolder + "/sitemap.htm").find("<ul>\r\n</ul>"),
            std::string::npos);
  EXPECT_TRUE(quillon::testing::FakeResolver::WaitForLookupsToEnd());
}

// A site crawled again with a cache: fresh entries cost no request, stale ones one 304 each
// with --revalidate (by ETag, and by date where nginx sends no ETag), and a page changed
// meanwhile comes back changed. The run's zone is not UTC, so dates must travel in GMT.
class CacheSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = quillon::testing::FreshDir("cache_site");
    cache_ = quillon::testing::ScratchDir() + "cache-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    NginxOptions options;
    options.gzip = false;
    options.extraServerConfig = "location /plain/ { etag off; }";
    server_ = std::make_unique<NginxServer>(root_, options);
    if (!server_->isRunning()) GTEST_SKIP() << server_->error();
    Write("index.html", "<title>Home</title><a href=a.html>A</a> <a href=plain/b.html>B</a>\n"
                        "<a href=docs>Docs</a> <a href=gone.html>Gone</a>");
    Write("a.html", "<title>Page A</title>");
    Write("plain/b.html", "<title>Page B</title>");
    Write("docs/index.html", "<title>Docs</title>");
    setenv("TZ", "IST-5:30", 1);
  }
  void TearDown() override { unsetenv("TZ"); }

  // Pages last modified ten days ago stay fresh for two and a half days.
  void Write(const std::string& name, const std::string& text, int daysAgo = 10) {
    const std::string path = root_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    quillon::testing::WriteFileBytes(path, text);
    const timespec modified{time(nullptr) - daysAgo * 86400, 0};
    const timespec times[2] = {modified, modified};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  // The report's look for the site's own sitemap is left out: the requests are the crawl's.
  Outcome Crawl(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {TollwickBinary(), "generate", server_->baseUrl() + "/",
                                     "--delay-ms", "0", "--cache", cache_, "--no-report"};
    args.insert(args.end(), more.begin(), more.end());
    Outcome run = RunProgram(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run;
  }
  // "<status> <path>" of each request nginx logged since the last call.
  std::vector<std::string> NewRequests() {
    std::string log = ReadFileBytes(server_->accessLogPath());
    std::vector<std::string> lines;
    for (size_t at = logged_; at < log.size();) {
      size_t end = log.find('\n', at);
      std::string line = log.substr(at, end - at);  // <connection> <status> "GET <path> HTTP/1.1"
      size_t status = line.find(' ') + 1;
      size_t path = line.find(' ', line.find('"')) + 1;
      lines.push_back(line.substr(status, 4) + line.substr(path, line.rfind(' ') - path));
      at = end + 1;
    }
    logged_ = log.size();
    return lines;
  }
  // Every entry of the one-file store expired long ago.
  void AgeEveryEntry() {
    for (const auto& file : std::filesystem::recursive_directory_iterator(cache_)) {
      if (file.path().extension() != ".dat") continue;
      std::string bytes = ReadFileBytes(file.path());
      const double longAgo = 1.0;
      bytes.replace(10, sizeof longAgo, reinterpret_cast<const char*>(&longAgo), sizeof longAgo);
      quillon::testing::WriteFileBytes(file.path(), bytes);
    }
  }
  static std::string Files(const Outcome& run) {
    return ReadFileBytes(run.LastLine() + "/urllist.txt") + "\n" +
           ReadFileBytes(run.LastLine() + "/sitemap.htm");
  }

  std::string root_;
  std::string cache_;
  std::unique_ptr<NginxServer> server_;
  size_t logged_ = 0;
};

using Requests = std::vector<std::string>;

TEST_F(CacheSiteTest, FreshEntriesCostNoRequestAndStaleOnesA304Each) {
  const Outcome first = Crawl();
  EXPECT_EQ(NewRequests(), (Requests{"404 /robots.txt", "200 /", "200 /a.html", "200 /plain/b.html",
                                     "301 /docs", "200 /docs/", "404 /gone.html"}));
  EXPECT_EQ(std::filesystem::status(cache_).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);

  const Outcome second = Crawl();
  EXPECT_EQ(NewRequests(), (Requests{"404 /robots.txt", "301 /docs", "404 /gone.html"}));
  EXPECT_EQ(Files(second), Files(first));

  AgeEveryEntry();
  Write("a.html", "<title>Page A changed</title>", 5);
  const Outcome third = Crawl({"--revalidate"});
  EXPECT_EQ(NewRequests(), (Requests{"404 /robots.txt", "304 /", "200 /a.html", "304 /plain/b.html",
                                     "301 /docs", "304 /docs/", "404 /gone.html"}));
  EXPECT_EQ(Files(third), ReplaceAll(Files(first), "Page A", "Page A changed"));
  EXPECT_NE(Files(third).find(">Page A changed</a>"), std::string::npos);
}

TEST_F(CacheSiteTest, ContainerStoreAnswersEverythingItKeptTheSecondTime) {
  const Outcome first = Crawl({"--http-cache"});
  EXPECT_EQ(NewRequests().size(), 7u);
  const Outcome second = Crawl({"--http-cache"});
  EXPECT_EQ(NewRequests(), (Requests{"404 /robots.txt"}));
  EXPECT_EQ(Files(second), Files(first));
}

// --revalidate asks about every cached page, fresh or not, in either store: the page edited
// since the last run comes back changed and each of the others costs a 304.
TEST_F(CacheSiteTest, RevalidateShowsEditsAtOnceForA304PerUnchangedPage) {
  const std::string folder = cache_;
  const std::vector<std::string> stores[] = {{}, {"--http-cache"}};
  for (const std::vector<std::string>& store : stores) {
    cache_ = folder + (store.empty() ? "-one-file" : "-containers");
    Write("a.html", "<title>Page A</title>");
    const Outcome first = Crawl(store);
    NewRequests();
    Write("a.html", "<title>Page A changed</title>", 5);
    std::vector<std::string> revalidating = store;
    revalidating.push_back("--revalidate");
    const Outcome second = Crawl(revalidating);
    EXPECT_EQ(NewRequests(), (Requests{"404 /robots.txt", "304 /", "200 /a.html",
                                       "304 /plain/b.html", "301 /docs", "304 /docs/",
                                       "404 /gone.html"}))
        << cache_;
    EXPECT_EQ(Files(second), ReplaceAll(Files(first), "Page A", "Page A changed")) << cache_;
  }
}

// A wrong password, then the right one, with the container store: the first run's login
// answers are not kept, so the second run crawls every page.
TEST(ContainerCacheLoginTest, AWrongPasswordDoesNotSpoilTheNextRun) {
  const std::string root = quillon::testing::FreshDir("cache_login");
  const std::string scratch = quillon::testing::ScratchDir();
  quillon::testing::WriteFileBytes(scratch + "users", "ann:{PLAIN}Pa55word\n");
  quillon::testing::WriteFileBytes(scratch + "wrong", "Pa55wort\n");
  quillon::testing::WriteFileBytes(scratch + "right", "Pa55word\n");
  quillon::testing::WriteFileBytes(root + "/index.html", "<title>Home</title><a href=a.html>A</a>");
  quillon::testing::WriteFileBytes(root + "/a.html", "<title>A</title>");
  NginxOptions options;
  options.extraServerConfig = "auth_basic \"members\";\nauth_basic_user_file " + scratch + "users;";
  NginxServer server(root, options);
  if (!server.isRunning()) GTEST_SKIP() << server.error();
  const std::string base = server.baseUrl();
  auto crawl = [&](const char* passwordFile) {
    return RunProgram({TollwickBinary(), "generate", base + "/", "--delay-ms", "0", "--cache",
                       scratch + "login-cache", "--http-cache", "--user", "ann",
                       "--password-file", scratch + passwordFile});
  };
  const Outcome refused = crawl("wrong");
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  const Outcome admitted = crawl("right");
  ASSERT_EQ(admitted.exitCode, 0) << admitted.err;
  EXPECT_EQ(ReadFileBytes(admitted.LastLine() + "/urllist.txt"), base + "/\r\n" + base + "/a.html");
}


// A hand-made site for the crawl report: two broken links (one linked from three pages), a
// redirect, a noindex page, two pages sharing a title, and an orphan that only the site's own
// sitemaps name (robots.txt names an index, which names a gzip-compressed sitemap).
TEST(CrawlReportTest, ReportCountsBrokenLinksOrphansAndCsvMatchTheCrawl) {
  std::string root = quillon::testing::FreshDir("report_site");
  NginxOptions nginx;
  nginx.gzip = false;
  nginx.extraServerConfig = "location = /old.html { return 301 /a.html; }";
  NginxServer server(root, nginx);
  if (!server.isRunning()) GTEST_SKIP() << server.error();
  const std::string base = server.baseUrl();
  auto write = [&root](const std::string& name, const std::string& text) {
    quillon::testing::WriteFileBytes(root + "/" + name, text);
  };
  write("index.html",
        "<title>Home</title><meta name=description content=\"The home page\">"
        "<a href=a.html>A</a> <a href=b.html>B</a> <a href=missing.html>M</a> "
        "<a href=old.html>Old</a> <a href=hidden.html>Hidden</a> <a href=twin.html>Twin</a>");
  write("a.html", "<title>A</title><a href=missing.html>M</a> <a href=gone.html>G</a>");
  write("b.html", "<title>B &amp; \"quotes\" <i>, a title running well past sixty characters</title>"
                  "<a href=missing.html>M</a>");
  write("hidden.html", "<meta name=robots content=noindex><title>Hidden</title>");
  write("twin.html", "<title>A</title>");
  write("orphan.html", "<title>Orphan</title>");
  write("robots.txt", "User-agent: *\nDisallow: /private/\nSitemap: " + base + "/index.xml\n");
  write("index.xml",
        "<?xml version=\"1.0\"?><sitemapindex><sitemap><loc>" + base +
            "/pages.xml.gz</loc></sitemap></sitemapindex>");
  write("pages.xml.gz", quillon::testing::GzipOf(
                            "<urlset><url><loc>" + base + "/</loc></url><url><loc>" + base +
                            "/a.html</loc></url><url><loc>" + base +
                            "/orphan.html</loc></url></urlset>"));

  Outcome run = RunProgram({TollwickBinary(), "generate", base + "/", "--delay-ms", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string folder = run.LastLine();
  const std::string report = ReadFileBytes(folder + "/report.html");
  EXPECT_NE(run.err.find("tollwick: report: " + folder + "/report.html\n"), std::string::npos)
      << run.err;
  ASSERT_NE(run.err.find("tollwick: 6 pages listed, 2 failed, 0 too large, 0 excluded by "
                         "robots.txt, 0 off the site\n"),
            std::string::npos)
      << run.err;
  for (const char* count : {"listed\">6<", "failed\">2<", "too-large\">0<", "robots\">0<",
                                   "off-site\">0<", "redirects\">1<", "orphans\">1<"}) {
    EXPECT_NE(report.find(std::string("id=\"count-") + count), std::string::npos) << count;
  }
  // missing.html with its three referrers, in crawl order; the orphan; the checks.
  const std::string link = "<a href=\"" + base;
  EXPECT_NE(report.find("/missing.html</a></td><td>HTTP 404 Not Found</td><td class=\"url\">" +
                        link + "/\">" + base + "/</a><br>" + link + "/a.html\">" + base +
                        "/a.html</a><br>" + link + "/b.html\">"),
            std::string::npos);
  EXPECT_NE(report.find(link + "/orphan.html\">"), std::string::npos);
  EXPECT_NE(report.find("Duplicate titles (2)"), std::string::npos);
  EXPECT_NE(report.find("<td>noindex</td>"), std::string::npos);
  // The long title, its markup and entities shown as the page wrote them.
  EXPECT_NE(report.find("<td>B &amp;amp; &quot;quotes&quot; &lt;i&gt;, a title running"),
            std::string::npos);
  EXPECT_EQ(report.find("<i>"), std::string::npos);

  // pages.csv, read by Python's csv module: one row per URL listed or failed, in crawl order.
  Outcome csv = RunProgram({"/usr/bin/python3", "-c",
                            "import csv, sys\n"
                            "rows = list(csv.reader(open(sys.argv[1], newline='')))\n"
                            "assert all(len(r) == len(rows[0]) for r in rows)\n"
                            "for r in rows[1:]: print(r[0], r[1], r[5], r[11], r[12], sep='|')\n",
                            folder + "/pages.csv"});
  ASSERT_EQ(csv.exitCode, 0) << csv.err;
  const std::string list = ReadFileBytes(folder + "/urllist.txt");
  EXPECT_EQ(csv.out, base + "/|200|0|yes|\n" + base + "/a.html|200|1|yes|\n" + base +
                         "/b.html|200|1|yes|\n" + base + "/missing.html|404|4|no|failed\n" +
                         base + "/old.html|301|1|no|duplicate\n" + base +
                         "/hidden.html|200|1|no|noindex\n" + base + "/twin.html|200|1|yes|\n" +
                         base + "/gone.html|404|2|no|failed\n");
  EXPECT_EQ(list, base + "/\r\n" + base + "/a.html\r\n" + base + "/b.html\r\n" + base +
                      "/old.html\r\n" + base + "/hidden.html\r\n" + base + "/twin.html");

  if (std::filesystem::exists("/usr/bin/xmllint")) {
    Outcome lint = RunProgram({"/usr/bin/xmllint", "--html", "--noout", folder + "/report.html"});
    EXPECT_EQ(lint.exitCode, 0);
    EXPECT_EQ(lint.err, "");
  }
  Outcome none = RunProgram({TollwickBinary(), "generate", base + "/", "--delay-ms", "0",
                             "--no-report"});
  ASSERT_EQ(none.exitCode, 0) << none.err;
  EXPECT_FALSE(std::filesystem::exists(none.LastLine() + "/report.html"));
  EXPECT_FALSE(std::filesystem::exists(none.LastLine() + "/pages.csv"));
  // The scratch file of the rows is gone: the five output files are all that is left.
  auto files = std::filesystem::directory_iterator(folder);
  EXPECT_EQ(std::distance(begin(files), end(files)), 5);
}

// A site whose menus only scripts write (a router fetching menu.json, a link made with
// createElement): tests/data/render_site, rendered by the chromium found on PATH.
TEST(RenderSiteTest, ScriptBuiltLinksAreFollowedOnlyWhenRenderedAndAlwaysInOneOrder) {
  if (quillon::FindProgram("chromium").empty()) GTEST_SKIP() << "chromium is not installed";
  NginxOptions options;
  options.gzip = false;
  NginxServer server(SourceDir() + "/tests/data/render_site", options);
  if (!server.isRunning()) GTEST_SKIP() << server.error();
  const std::string base = server.baseUrl();
  auto crawl = [&base](std::vector<std::string> more) {
    std::vector<std::string> args = {TollwickBinary(), "generate", base + "/", "--delay-ms", "0"};
    args.insert(args.end(), more.begin(), more.end());
    return RunProgram(args);
  };
  Outcome raw = crawl({});
  ASSERT_EQ(raw.exitCode, 0) << raw.err;
  EXPECT_EQ(ReadFileBytes(raw.LastLine() + "/urllist.txt"), base + "/");
  EXPECT_NE(raw.err.find("tollwick: warning: " + base +
                         "/: this page may build its links with "
                         "JavaScript; try --render-js\n"),
            std::string::npos)
      << raw.err;

  // The browser's profile goes into the run's $TMPDIR: a short one of this test's own, to look
  // into afterwards.
  char tmp[] = "/tmp/tollwick-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmp), nullptr);
  const std::string scratchTmp = std::getenv("TMPDIR");
  setenv("TMPDIR", tmp, 1);
  const std::string all = base + "/\r\n" + base + "/about.html\r\n" + base + "/guide.html\r\n" +
                          base + "/news.html\r\n" + base + "/contact.html";
  for (int run = 0; run < 2; ++run) {
    Outcome rendered = crawl({"--render-js"});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
    EXPECT_EQ(ReadFileBytes(rendered.LastLine() + "/urllist.txt"), all);
    EXPECT_NE(rendered.err.find("0 off the site, 5 rendered\n"), std::string::npos) << rendered.err;
    // The title a script set.
    EXPECT_NE(ReadFileBytes(rendered.LastLine() + "/sitemap.htm").find(">News</a>"),
              std::string::npos);
  }
  setenv("TMPDIR", scratchTmp.c_str(), 1);
  // No browser process and no profile folder outlives a run.
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    EXPECT_EQ(ReadFileBytes(entry.path().string() + "/cmdline").find(tmp), std::string::npos);
  }
  for (const auto& entry : std::filesystem::directory_iterator(tmp)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("tollwick-chromium-"));
  }
  std::filesystem::remove_all(tmp);
}

}  // namespace
}  // namespace tollwick
