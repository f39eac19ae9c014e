#include "spider/cls_spider.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "base/platform.h"
#include "net/hostname_resolve.h"
#include "spider/page_directives.h"
#include "spider/vn_spider.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::HttpFixtureServer;
using Urls = std::vector<std::string>;

// Every name under ".test" is this machine, so host names can be told apart on one server.
bool LoopbackResolver(const char* name, uint32_t& address) {
  std::string host(name);
  if (host.size() < 5 || host.compare(host.size() - 5, 5, ".test") != 0) return false;
  const unsigned char loopback[4] = {127, 0, 0, 1};
  std::memcpy(&address, loopback, sizeof address);
  return true;
}

std::string Html(const std::string& body, const std::string& headers = "") {
  return HttpFixtureServer::Response(200, "OK", body,
                                     "Content-Type: text/html; charset=utf-8\r\n" + headers);
}

std::string Redirect(const std::string& location) {
  return HttpFixtureServer::Response(301, "Moved Permanently", "",
                                     "Location: " + location + "\r\n");
}

Urls List(const ClsSpider& spider, const char* (ClsSpider::*at)(int) const, int count) {
  Urls out;
  for (int i = 0; i < count; ++i) out.emplace_back((spider.*at)(i));
  return out;
}

class CrawlTest : public ::testing::Test {
 protected:
  void SetUp() override { SetResolverForTests(LoopbackResolver); }
  void TearDown() override { SetResolverForTests(nullptr); }

  // "http://<host>:<port><path>" on the fixture server.
  std::string At(const std::string& host, const std::string& path) const {
    return "http://" + host + ":" + std::to_string(server_.port()) + path;
  }
  Urls Spidered() const { return List(spider_, &ClsSpider::spideredUrl, spider_.spideredCount()); }
  Urls Failed() const { return List(spider_, &ClsSpider::failedUrl, spider_.failedCount()); }
  Urls Outbound() const { return List(spider_, &ClsSpider::outboundUrl, spider_.outboundCount()); }
  Urls Pending() const {
    return List(spider_, &ClsSpider::unspideredUrl, spider_.unspideredCount());
  }
  std::string Log() {
    StringBuffer text;
    spider_.lastErrorText(text);
    return text.getString();
  }
  // Crawls until the queue runs out; returns the pages in the order they were fetched.
  Urls CrawlAll() {
    Urls pages;
    for (int guard = 0; guard < 1000; ++guard) {
      if (spider_.CrawlNext(nullptr)) {
        pages.emplace_back(spider_.currentUrl().getString());
        continue;
      }
      if (spider_.unspideredCount() == 0) break;
    }
    return pages;
  }

  HttpFixtureServer server_;
  ClsSpider spider_;
};

// ---- Starting a site and queueing

TEST_F(CrawlTest, BeginSiteWithBareDomainQueuesNothing) {
  spider_.BeginSite("site.test");
  EXPECT_STREQ("site.test", spider_.domain().getString());
  EXPECT_EQ(0, spider_.unspideredCount());
}

TEST_F(CrawlTest, BeginSiteWithUrlTakesItsHostAndQueuesIt) {
  spider_.BeginSite("HTTP://Site.Test:8080/start?x=1");
  EXPECT_STREQ("site.test", spider_.domain().getString());
  EXPECT_EQ(Urls({"http://site.test:8080/start?x=1"}), Pending());
}

TEST_F(CrawlTest, QueueUrlRefusesOtherHostsAndAcceptsPathsAndSubdomains) {
  spider_.BeginSite("book.test");
  EXPECT_FALSE(spider_.QueueUrl("http://facebook.test/"));
  EXPECT_FALSE(spider_.QueueUrl("http://evil.test/?book.test"));
  EXPECT_TRUE(spider_.QueueUrl("http://www.book.test/"));
  EXPECT_TRUE(spider_.QueueUrl("/bare/path"));
  // Queueing does not consult the seen set: the same URL can be queued twice.
  EXPECT_TRUE(spider_.QueueUrl("http://www.book.test/"));
  EXPECT_EQ(3, spider_.unspideredCount());
}

TEST_F(CrawlTest, QueueUrlWithoutDomainTakesTheUrlsHost) {
  spider_.Reset("");
  EXPECT_TRUE(spider_.QueueUrl("http://site.test/a"));
  EXPECT_STREQ("site.test", spider_.domain().getString());
}

// ---- Crawling

TEST_F(CrawlTest, EmptyQueueFailsWithTheLogLine) {
  spider_.setObeyRobots(false);
  spider_.BeginSite("site.test");
  EXPECT_FALSE(spider_.CrawlNext(nullptr));
  EXPECT_NE(std::string::npos, Log().find("No unspidered URLs remaining."));
  EXPECT_NE(std::string::npos, Log().find("Nov  7 2008"));
  EXPECT_TRUE(spider_.currentUrl().isEmpty());
}

TEST_F(CrawlTest, BreadthFirstOrderWithRobotsRules) {
  server_.AddResponse("/robots.txt",
                      HttpFixtureServer::Response(200, "OK", "User-agent: *\nDisallow: /Hidden\n"));
  server_.AddResponse("/", Html("<a href=a.html>a</a><a href=b.html>b</a><a href=hidden/x>h</a>"
                                "<a href=http://other.test/>o</a>"));
  server_.AddResponse("/a.html", Html("<a href=c.html>c</a><a href=/>home</a>"));
  server_.AddResponse("/b.html", Html("<a href=d.html>d</a>"));
  server_.AddResponse("/c.html", Html("c"));
  server_.AddResponse("/d.html", Html("d"));
  spider_.BeginSite(At("site.test", "/").c_str());
  EXPECT_EQ(Urls({At("site.test", "/"), At("site.test", "/a.html"), At("site.test", "/b.html"),
                  At("site.test", "/c.html"), At("site.test", "/d.html")}),
            CrawlAll());
  EXPECT_EQ(Urls({"http://other.test/"}), Outbound());
  for (const auto& request : server_.Requests()) EXPECT_NE("/hidden/x", request.path);
}

TEST_F(CrawlTest, OtherSchemesInLinksAndRedirectsMakeNoRequest) {
  spider_.setObeyRobots(false);
  server_.AddResponse("/", Html("<a href=ftp://f.test/x>f</a><a href=file:///etc/passwd>p</a>"
                                "<a href=javascript:go()>j</a><a href=\"data:text/html,x\">d</a>"
                                "<a href=/redir>r</a>"));
  server_.AddResponse("/redir", HttpFixtureServer::Response(302, "Found", "",
                                                            "Location: file:///etc/passwd\r\n"));
  spider_.BeginSite(At("site.test", "/").c_str());
  EXPECT_EQ(Urls({At("site.test", "/")}), CrawlAll());
  EXPECT_EQ(Urls({At("site.test", "/redir")}), Failed());
  EXPECT_STREQ(spider_.failedFetch(0)->reason.getString(), "not a usable address");
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_TRUE(Outbound().empty());
}

// One connection serves the whole crawl; with four, the pages are fetched ahead on four more
// (robots.txt came over the engine's own) and handled in the same order.
TEST(KeepAliveCrawlTest, HundredPageCrawlOfNginxKeepsItsConnections) {
  const std::string root = testing::FreshDir("keep-alive-site");
  std::ofstream index(root + "index.html");
  for (int i = 1; i < 100; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    index << "<a href=" << name << ">" << i << "</a>\n";
    std::ofstream(root + name) << "<html><head><title>" << i << "</title></head><body>page "
                               << i << "<a href=p" << (i * 7) % 100 << ".html>n</a></body></html>";
  }
  index.close();
  testing::NginxServer nginx(root);
  if (!nginx.isRunning()) GTEST_SKIP() << nginx.error();
  // The access log's lines from line `from` on: the first word is the client's address and port.
  auto loggedPorts = [&](int from, int& requests) {
    std::set<std::string> ports;
    std::ifstream log(nginx.accessLogPath());
    requests = 0;
    int at = 0;
    for (std::string line; std::getline(log, line); ++at) {
      if (at < from) continue;
      ports.insert(line.substr(0, line.find(' ')));
      ++requests;
    }
    return ports;
  };
  std::vector<std::string> firstOrder;
  int logged = 0;
  for (int connections : {1, 4}) {
    ClsSpider spider;
    spider.setConnections(connections);
    spider.BeginSite((nginx.baseUrl() + "/").c_str());
    std::vector<std::string> order;
    for (int guard = 0; guard < 1000; ++guard) {
      if (spider.CrawlNext(nullptr)) {
        order.emplace_back(spider.currentUrl().getString());
      } else if (spider.unspideredCount() == 0) {
        break;
      }
    }
    EXPECT_EQ(order.size(), 100u);
    if (firstOrder.empty()) firstOrder = order;
    EXPECT_EQ(order, firstOrder) << connections << " connections";
    // nginx logs a request once its answer is out: the last line may come a moment later.
    std::set<std::string> ports;
    int requests = 0;
    for (int wait = 0; wait < 100 && requests < 101; ++wait) {
      if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ports = loggedPorts(logged, requests);
    }
    logged += requests;
    EXPECT_EQ(requests, 101);  // robots.txt and the pages, each once
    EXPECT_EQ(ports.size(), connections == 1 ? 1u : 5u);
  }
}

// A session cookie the start page sets reaches every connection that fetches ahead.
TEST_F(CrawlTest, ConnectionsFetchingAheadShareTheCookiesAndKeepTheOrder) {
  std::string links;
  for (int i = 1; i <= 12; ++i) links += "<a href=/" + std::to_string(i) + ">x</a>";
  server_.AddResponse("/", Html(links, "Set-Cookie: session=ok; Path=/\r\n"));
  server_.AddHandler("*", [](int fd, const HttpFixtureServer::Request& request) {
    const bool session = request.head.find("Cookie: session=ok") != std::string::npos;
    HttpFixtureServer::SendAll(fd, session ? Html("page") : HttpFixtureServer::Response(403, "Forbidden", ""));
    return HttpFixtureServer::After::kKeepAlive;
  });
  spider_.setObeyRobots(false);
  spider_.setConnections(4);
  spider_.http().settings().cookieDir.assign("memory");
  spider_.BeginSite(At("site.test", "/").c_str());
  Urls expected = {At("site.test", "/")};
  for (int i = 1; i <= 12; ++i) expected.push_back(At("site.test", "/" + std::to_string(i)));
  EXPECT_EQ(CrawlAll(), expected);
  EXPECT_EQ(spider_.failedCount(), 0);
}

TEST_F(CrawlTest, ThreeFailuresThenAGoodPage) {
  int closed = testing::FreeLoopbackPort();
  spider_.BeginSite("site.test");
  for (int i = 1; i <= 3; ++i) {
    std::string dead = "http://site.test:" + std::to_string(closed) + "/dead" + std::to_string(i);
    ASSERT_TRUE(spider_.QueueUrl(dead.c_str()));
  }
  server_.AddResponse("/good", Html("<title>Good</title>"));
  ASSERT_TRUE(spider_.QueueUrl(At("site.test", "/good").c_str()));
  spider_.setObeyRobots(false);

  EXPECT_TRUE(spider_.CrawlNext(nullptr));
  EXPECT_EQ(At("site.test", "/good"), spider_.currentUrl().getString());
  EXPECT_EQ(3, spider_.failedCount());
  EXPECT_EQ(Urls({At("site.test", "/good")}), Spidered());
  EXPECT_NE(nullptr, strstr(spider_.pageText().getString(), "Good"));
  // Each failure's client log is kept under "http".
  std::string log = Log();
  size_t first = log.find("http:");
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, log.find("http:", first + 1));
}

// A stop ends the step at the fetch it stopped: the thousands waiting are not visited.
TEST_F(CrawlTest, AStopEndsTheStepWithTheRestStillQueued) {
  struct StopAtOnce : ProgressEvent {
    void AbortCheck(bool& abort) override { abort = true; }
    void IntervalTick(int, bool& abort) override { abort = true; }
    void PercentUpdate(int, bool& abort) override { abort = true; }
  } stop;
  server_.AddHandler("*", [this](int, const HttpFixtureServer::Request&) {
    server_.SleepUnlessStopping(3000);
    return HttpFixtureServer::After::kClose;
  });
  for (int connections : {1, 4}) {
    ClsSpider spider;
    spider.setObeyRobots(false);
    spider.setConnections(connections);
    spider.http().settings().abortCheckMs = 50;
    spider.BeginSite(At("site.test", "/0").c_str());
    for (int i = 1; i < 5000; ++i) spider.QueueUrl(At("site.test", "/" + std::to_string(i)).c_str());
    EXPECT_FALSE(spider.CrawlNext(&stop));
    EXPECT_EQ(1, spider.failedCount());
    EXPECT_EQ(FetchFailureKind::Stopped, spider.failedFetch(0)->kind);
    // The fetches ahead were ended too; their URLs wait in the queue.
    EXPECT_EQ(4999, spider.unspideredCount());
  }
  EXPECT_LE(server_.RequestCount(), 5u);
}

TEST_F(CrawlTest, TheStartPagesLinksPassTheMustMatchPatternsWhateverItsAddress) {
  spider_.setObeyRobots(false);
  spider_.AddMustMatchPattern("*tutorial*");
  server_.AddResponse("/", Html("<a href=tutorial/a.html>t</a><a href=other.html>o</a>"));
  server_.AddResponse("/tutorial/a.html",
                      Html("<a href=/tutorial/b.html>b</a><a href=/other2.html>o</a>"));
  server_.AddResponse("/tutorial/b.html", Html("b"));
  spider_.BeginSite(At("site.test", "/").c_str());
  EXPECT_EQ(Urls({At("site.test", "/"), At("site.test", "/tutorial/a.html"),
                  At("site.test", "/tutorial/b.html")}),
            CrawlAll());
}

TEST_F(CrawlTest, FailedCrawlKeepsTheLastFailedUrlAndNoText) {
  server_.AddResponse("/ok", Html("ok"));
  spider_.setObeyRobots(false);
  spider_.BeginSite(At("site.test", "/ok").c_str());
  ASSERT_TRUE(spider_.CrawlNext(nullptr));
  ASSERT_TRUE(spider_.QueueUrl(At("site.test", "/missing").c_str()));
  EXPECT_FALSE(spider_.CrawlNext(nullptr));
  EXPECT_EQ(At("site.test", "/missing"), spider_.currentUrl().getString());
  EXPECT_TRUE(spider_.pageText().isEmpty());
  EXPECT_EQ(Urls({At("site.test", "/missing")}), Failed());
}

TEST_F(CrawlTest, StartPageRedirectedToAnotherHost) {
  server_.AddResponse("/", Redirect(At("elsewhere.test", "/landing")));
  server_.AddResponse("/landing", Html("<a href=/more>more</a>"));
  spider_.BeginSite(At("site.test", "/").c_str());
  EXPECT_EQ(Urls({At("site.test", "/")}), CrawlAll());
  EXPECT_EQ(Urls({At("elsewhere.test", "/landing")}), Outbound());
  EXPECT_EQ(0, spider_.unspideredCount());
}

TEST_F(CrawlTest, LinksOfARedirectedPageAreResolvedAgainstTheFinalUrl) {
  server_.AddResponse("/", Html("<a href=/docs>docs</a>"));
  server_.AddResponse("/docs", Redirect(At("site.test", "/docs/")));
  server_.AddResponse("/docs/", Html("<a href=intro.html>intro</a><a href=./>self</a>"));
  server_.AddResponse("/docs/intro.html", Html("intro"));
  spider_.BeginSite(At("site.test", "/").c_str());
  // The listed URL stays the requested one; the final URL counts as seen, so "/docs/" is
  // not fetched again.
  EXPECT_EQ(
      Urls({At("site.test", "/"), At("site.test", "/docs"), At("site.test", "/docs/intro.html")}),
      CrawlAll());
  EXPECT_TRUE(spider_.IsSeen(At("site.test", "/docs/")));
}

TEST_F(CrawlTest, WwwRedirectOfTheStartAddressCrawlsTheBareHost) {
  server_.AddResponse("/", Redirect(At("site.test", "/home")));
  server_.AddResponse("/home", Html("<a href=page.html>p</a>"));
  server_.AddResponse("/page.html", Html("page"));
  spider_.BeginSite(At("www.site.test", "/").c_str());
  EXPECT_EQ(Urls({At("www.site.test", "/"), At("site.test", "/page.html")}), CrawlAll());
  EXPECT_STREQ("site.test", spider_.domain().getString());
  EXPECT_EQ(0, spider_.outboundCount());
}

TEST_F(CrawlTest, WwwRedirectOfALaterPageIsOutbound) {
  server_.AddResponse("/", Html("<a href=/moved>m</a>"));
  server_.AddResponse("/moved", Redirect(At("site.test", "/new")));
  server_.AddResponse("/new", Html("<a href=/beyond>b</a>"));
  spider_.BeginSite(At("www.site.test", "/").c_str());
  EXPECT_EQ(Urls({At("www.site.test", "/"), At("www.site.test", "/moved")}), CrawlAll());
  EXPECT_STREQ("www.site.test", spider_.domain().getString());
  EXPECT_EQ(Urls({At("site.test", "/new")}), Outbound());
}

TEST_F(CrawlTest, LastModifiedDateText) {
  server_.AddResponse(
      "/", Html("<a href=/bad>b</a>", "Last-Modified: Tue, 15 Nov 1994 08:12:31 GMT\r\n"));
  server_.AddResponse("/bad", Html("x", "Last-Modified: Tue, 15 Noo 1994 08:12:31 GMT\r\n"));
  spider_.setObeyRobots(false);
  spider_.BeginSite(At("site.test", "/").c_str());
  ASSERT_TRUE(spider_.CrawlNext(nullptr));
  EXPECT_STREQ("1994-11-15", spider_.lastModified().getString());
  ASSERT_TRUE(spider_.CrawlNext(nullptr));
  EXPECT_TRUE(spider_.lastModified().isEmpty());
}

TEST_F(CrawlTest, ClientSettingsOfTheSpider) {
  const HttpControl& settings = spider_.http().settings();
  EXPECT_TRUE(settings.firefoxTemplate());
  EXPECT_FALSE(settings.ieTemplate());
  EXPECT_EQ(10u, settings.connectTimeoutSec);
  EXPECT_EQ(10u, settings.readTimeout);
  EXPECT_TRUE(settings.cacheRules.readFromCache);
  EXPECT_TRUE(settings.cacheRules.writeToCache);
  EXPECT_FALSE(settings.useHttpCache);
  EXPECT_EQ(300000u, settings.maxContentLength);
  EXPECT_EQ(300u, settings.maxUrlLen);
}

TEST_F(CrawlTest, HostilePagesEndNormally) {
  std::string junk;
  uint32_t seed = 7;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245 + 12345;
    junk += static_cast<char>(seed >> 16);
  }
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "<a href=p" + std::to_string(i % 50) + ">x</a>";
  std::string anchors;
  for (int i = 0; anchors.size() < 290000; ++i)
    anchors += "<a href=q" + std::to_string(i % 30) + ">";
  server_.AddResponse("/", Html("<a href=junk>j</a><a href=many>m</a><a href=anchors>a</a>"
                                "<a href=/" + std::string(5000, 'L') + ">l</a>"
                                "<a href=/" + std::string(1500, 'M') + ">m</a>"));
  server_.AddResponse("/junk", HttpFixtureServer::Response(200, "OK", junk));
  server_.AddResponse("/many", Html(many));
  server_.AddResponse("/anchors", Html(anchors));
  server_.AddResponse("*", Html("leaf"));
  spider_.BeginSite(At("site.test", "/").c_str());
  Urls pages = CrawlAll();
  EXPECT_EQ(4u + 50u + 30u, pages.size());
  // The 5,000-character link cannot be combined and is dropped; the 1,500-character one
  // passes the 300-character URL limit of the client and fails.
  EXPECT_EQ(1, spider_.failedCount());
}

// ---- The facade

class FacadeTest : public ::testing::Test {
 protected:
  HttpFixtureServer server_;
  VnSpider spider_;
};

class CountingSink : public ProgressEvent {
 public:
  void AbortCheck(bool&) override { ++checks; }
  void PercentUpdate(int, bool&) override { ++updates; }
  int checks = 0;
  int updates = 0;
};

TEST_F(FacadeTest, PageFieldsAndCounts) {
  server_.AddResponse(
      "/", Html("<html><head><title>Home page</title>"
                "<meta name=\"description\" content=\"About us\">"
                "<meta name=\"keywords\" content=\"a, b\"></head>"
                "<body><a href=x>x</a><a href=http://off.example/>o</a></body></html>",
                "Last-Modified: Tue, 15 Nov 1994 08:12:31 GMT\r\n"));
  spider_.BeginSite(server_.Url("/").c_str());
  CountingSink sink;
  spider_.setEventCallback(&sink);
  ASSERT_TRUE(spider_.CrawlNext());
  EXPECT_STREQ(server_.Url("/").c_str(), spider_.CurrentUrl());
  EXPECT_STREQ("Home page", spider_.PageTitle());
  EXPECT_STREQ("About us", spider_.PageDescription());
  EXPECT_STREQ("a, b", spider_.PageKeywords());
  VnString title;
  spider_.PageTitle(title);
  EXPECT_STREQ("Home page", title.getAnsi());
  EXPECT_EQ(1, spider_.PendingCount());
  EXPECT_EQ(1, spider_.SpideredCount());
  EXPECT_EQ(1, spider_.OutboundCount());
  EXPECT_STREQ("http://off.example/", spider_.OutboundUrl(0));
  EXPECT_STREQ("", spider_.OutboundUrl(5));

  SystemTime date;
  ASSERT_TRUE(spider_.PageModifiedDate(date));
  EXPECT_EQ(1994, date.year);
  EXPECT_EQ(11, date.month);
  EXPECT_EQ(15, date.day);
  EXPECT_EQ(2, date.dayOfWeek);
}

TEST_F(FacadeTest, MissingDateLeavesTheCallersStructure) {
  server_.AddResponse("/", Html("no date"));
  spider_.BeginSite(server_.Url("/").c_str());
  ASSERT_TRUE(spider_.CrawlNext());
  SystemTime date;
  date.year = 1234;
  EXPECT_FALSE(spider_.PageModifiedDate(date));
  EXPECT_EQ(1234, date.year);
}

TEST_F(FacadeTest, ErrorLogTextHasCrLfLineEnds) {
  spider_.engine().setObeyRobots(false);
  spider_.BeginSite("site.test");
  EXPECT_FALSE(spider_.CrawlNext());
  std::string text = spider_.ErrorLogText();
  EXPECT_NE(std::string::npos, text.find("No unspidered URLs remaining."));
  EXPECT_NE(std::string::npos, text.find("\r\n"));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r');
    }
  }
  EXPECT_EQ(text, std::string(spider_.LastErrorText()));
}

TEST_F(FacadeTest, ApplicationTextIsConverted) {
  SetAnsiCodePageForTests(1252);
  server_.AddResponse("/", Html("<title>Caf\xC3\xA9</title>"));
  spider_.BeginSite(server_.Url("/").c_str());
  ASSERT_TRUE(spider_.CrawlNext());
  EXPECT_STREQ("Caf\xE9", spider_.PageTitle());
  spider_.setUtf8(true);
  EXPECT_STREQ("Caf\xC3\xA9", spider_.PageTitle());
  SetAnsiCodePageForTests(0);
}

TEST(VnStringTest, AppendConvertAndSave) {
  VnString text;
  text.setFromUtf8("a");
  text.appendUtf8("\xC3\xA9");
  text.appendAnsi("b");
  EXPECT_STREQ("a\xC3\xA9" "b", text.getUtf8());
  std::string path = testing::ScratchDir() + "vn_string.txt";
  ASSERT_TRUE(text.saveToFile(path.c_str(), "utf-8"));
  EXPECT_EQ("\xEF\xBB\xBF" "a\xC3\xA9" "b", testing::ReadFileBytes(path));
}


// ---- What a page says for search engines

TEST(PageDirectivesTest, RobotsWordsAndCanonicalLinks) {
  struct {
    const char* value;
    bool noindex, nofollow;
  } robots[] = {
      {"noindex, nofollow", true, true}, {"NONE", true, true},       {"index,follow", false, false},
      {"googlebot: noindex", true, false}, {"nofollow noarchive", false, true},
      {"unavailable_after: 25 Jun 2010 15:00:00 PST", false, false}, {"", false, false},
  };
  for (const auto& c : robots) {
    RobotsDirectives directives;
    ReadRobotsDirectives(c.value, directives);
    EXPECT_EQ(c.noindex, directives.noindex) << c.value;
    EXPECT_EQ(c.nofollow, directives.nofollow) << c.value;
  }
  struct {
    const char* page;
    const char* href;
  } canonical[] = {
      {"<link rel=stylesheet href=a.css><LINK REL='Canonical' HREF='/b?x=1&amp;y=2'>",
       "/b?x=1&y=2"},
      {"<link rel=\"alternate canonical\" href=\" /c \">", "/c"},
      {"<link rel=\"canonicalish\" href=\"/d\"><a rel=canonical href=/e>", ""},
      {"<link rel=\"canonical", ""},
  };
  for (const auto& c : canonical) {
    StringBuffer href;
    ASSERT_TRUE(ReadCanonicalHref(c.page, href));
    EXPECT_STREQ(c.href, href.getString()) << c.page;
  }
}

TEST_F(CrawlTest, PageFactsRecordTheAnswerAndWhatThePageSays) {
  spider_.setObeyRobots(false);
  server_.AddResponse("/", Redirect("/home"));
  server_.AddResponse("/home",
                      Html("<meta name=robots content=nofollow><link rel=canonical href=/main#x>",
                           "X-Robots-Tag: noarchive\r\nX-Robots-Tag: bot: noindex\r\n"
                           "Last-Modified: Tue, 15 Nov 1994 08:12:31 GMT\r\n"));
  spider_.BeginSite(At("site.test", "/").c_str());
  ASSERT_TRUE(spider_.CrawlNext(nullptr));
  const PageFacts& facts = spider_.pageFacts();
  EXPECT_EQ(At("site.test", "/home"), facts.finalUrl.getString());
  EXPECT_FALSE(facts.offSiteRedirect);
  EXPECT_EQ(200, facts.statusCode);
  EXPECT_STREQ("text/html; charset=utf-8", facts.contentType.getString());
  EXPECT_TRUE(facts.robots.noindex);
  EXPECT_TRUE(facts.robots.nofollow);
  EXPECT_EQ(At("site.test", "/main"), facts.canonical.getString());
  EXPECT_STREQ("Tue, 15 Nov 1994 08:12:31 GMT", facts.lastModified.getString());
  // The canonical address is not followed unless asked.
  EXPECT_EQ(0, spider_.unspideredCount());
}

TEST_F(CrawlTest, NofollowAndCanonicalSettingsChangeWhatIsQueued) {
  spider_.setObeyRobots(false);
  server_.AddResponse("/", Html("<link rel=canonical href=/canon><a href=a>a</a>"
                                "<a rel='external nofollow' href=b>b</a>"));
  server_.AddResponse("/quiet", Html("<meta name=robots content=none><a href=c>c</a>"));
  struct {
    const char* start;
    bool respectNofollow, followCanonical;
    Urls queued;
  } cases[] = {
      {"/", false, false, {"/a", "/b"}},
      {"/", true, false, {"/a"}},
      {"/", true, true, {"/a", "/canon"}},
      {"/quiet", false, false, {"/c"}},
      {"/quiet", true, false, {}},
  };
  for (const auto& c : cases) {
    spider_.setRespectNofollow(c.respectNofollow);
    spider_.setFollowCanonical(c.followCanonical);
    spider_.BeginSite(At("site.test", c.start).c_str());
    ASSERT_TRUE(spider_.CrawlNext(nullptr)) << c.start;
    Urls expected;
    for (const std::string& path : c.queued) expected.push_back(At("site.test", path));
    EXPECT_EQ(expected, Pending()) << c.start << " " << c.respectNofollow << c.followCanonical;
  }
}

// Pages that never finish loading, loop in a script or send the browser elsewhere
// (tests/data/render_site/bad): each ends within twice its budget with its own links kept and
// a warning, and no browser process is left once the engine is gone. A page's alert is
// dismissed, so the link its script adds afterwards is found.
TEST(RenderTest, PagesThatNeverSettleKeepTheirRawLinksWarnAndLeaveNoBrowser) {
  RenderSettings settings;
  settings.chromium = FindProgram("chromium");
  if (settings.chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  testing::NginxOptions options;
  options.gzip = false;
  // The script of the page that never finishes loading comes a byte a second.
  options.extraServerConfig = "location /bad/hang/ { limit_rate 1; }";
  testing::NginxServer nginx(
      std::string(std::getenv("QUILLON_SOURCE_DIR")) + "/tests/data/render_site", options);
  if (!nginx.isRunning()) GTEST_SKIP() << nginx.error();
  const std::string base = nginx.baseUrl() + "/bad/";
  settings.budgetMs = 1000;
  const std::string marker = "QUILLON_RENDER_TEST=" + std::to_string(getpid());
  setenv("QUILLON_RENDER_TEST", std::to_string(getpid()).c_str(), 1);
  Urls pages;
  std::set<std::string> warnings;
  {
    ClsSpider spider;
    spider.setRenderer(std::make_unique<PageRenderer>(settings));
    spider.BeginSite(base.c_str());
    for (int guard = 0; guard < 100; ++guard) {
      if (spider.CrawlNext(nullptr)) {
        pages.emplace_back(spider.currentUrl().getString());
      } else if (spider.unspideredCount() == 0) {
        break;
      }
    }
    for (int i = 0; i < spider.warningCount(); ++i) {
      const CrawlWarning& warning = *spider.warningAt(i);
      if (warning.kind == FetchWarningKind::kNotRendered) {
        warnings.insert(std::string(warning.site.view()) + ": " + warning.text.getString());
      }
    }
    EXPECT_EQ(spider.renderedCount(), 6);
    // Where the script sent the page counts as a link of it.
    EXPECT_EQ(spider.outboundCount(), 1);
  }
  const std::string late = "still loading or running a script after 2 s";
  EXPECT_EQ(pages,
            (Urls{base, base + "slow.html", base + "loop.html", base + "away.html",
                  base + "alert.html", base + "slow-kept.html", base + "loop-kept.html",
                  base + "away-kept.html", base + "alert-kept.html"}));
  EXPECT_EQ(warnings,
            (std::set<std::string>{
                base + "slow.html: not rendered: " + late + "; its raw links were kept",
                base + "loop.html: not rendered: " + late + "; its raw links were kept",
                base + "away.html: not rendered: a script sends it to http://elsewhere.invalid/; "
                       "its raw links were kept"}));
  // The browser's processes inherit the marker from this one's environment.
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    if (entry.path().filename() == std::to_string(getpid())) continue;
    std::ifstream environment(entry.path() / "environ");
    std::string text((std::istreambuf_iterator<char>(environment)),
                     std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find(marker), std::string::npos) << entry.path();
  }
}

}  // namespace
}  // namespace quillon
