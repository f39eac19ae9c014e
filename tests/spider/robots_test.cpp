#include "spider/robots.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "spider/cls_spider.h"
#include "tests/support/http_fixture_server.h"

namespace quillon {
namespace {

using testing::HttpFixtureServer;

constexpr const char* kAgent = "Quillon/1.0.0";

struct RobotsCase {
  const char* robots;
  const char* path;  // already lower-cased, as RobotsPathOf gives it
  bool disallowed;
};

TEST(RobotsRulesTest, PrefixCaseAndAgentRules) {
  const RobotsCase cases[] = {
      // Prefix matching: the rule forbids everything that begins with it.
      {"User-agent: *\nDisallow: /private\n", "/private", true},
      {"User-agent: *\nDisallow: /private\n", "/private/x", true},
      {"User-agent: *\nDisallow: /private\n", "/privateer", true},
      {"User-agent: *\nDisallow: /private\n", "/privatex", true},
      {"User-agent: *\nDisallow: /private\n", "/public", false},
      // Only the start of the path counts: the rule met further along forbids nothing.
      {"User-agent: *\nDisallow: /private\n", "/docs/private", false},
      {"User-agent: *\nDisallow: /private\n", "/docs/private/x", false},
      {"User-agent: *\nDisallow: /private\n", "/", false},
      // Both sides lower-cased: a rule with capitals forbids the lower-case path.
      {"User-agent: *\nDisallow: /Private\n", "/private/x", true},
      {"USER-AGENT: *\nDISALLOW: /a\n", "/a", true},
      // The last agent line before the disallow line decides.
      {"User-agent: *\nUser-agent: OtherBot\nDisallow: /\n", "/x", false},
      {"User-agent: OtherBot\nUser-agent: *\nDisallow: /\n", "/x", true},
      {"User-agent: OtherBot\nDisallow: /\n", "/x", false},
      {"User-agent: quillon/1.0.0\nDisallow: /mine\n", "/mine", true},
      // Rules before any agent line apply to every agent.
      {"Disallow: /early\n", "/early", true},
      // An empty value forbids nothing.
      {"User-agent: *\nDisallow:\n", "/x", false},
      {"User-agent: *\nDisallow:   \n", "/", false},
      // Comments are cut and the rest trimmed.
      {"User-agent: *\nDisallow: /a # the a folder\n", "/a", true},
      {"User-agent: * # everyone\nDisallow: /a\n", "/a", true},
      {"# Disallow: /a\n", "/a", false},
      // Carriage returns go with the trimming.
      {"User-agent: *\r\nDisallow: /cr\r\n", "/cr", true},
      // Allow lines, wildcards and anchors have no effect; "?" rules never match a path.
      {"User-agent: *\nAllow: /a/b\nDisallow: /a\n", "/a/b", true},
      {"User-agent: *\nDisallow: /*.php\n", "/index.php", false},
      {"User-agent: *\nDisallow: /*.php\n", "/*.php", true},
      {"User-agent: *\nDisallow: /page$\n", "/page", false},
      {"User-agent: *\nDisallow: /search?q=\n", "/search", false},
      {"User-agent: *\nCrawl-delay: 10\n", "/", false},
      // Blank lines do not end a group.
      {"User-agent: *\n\n\nDisallow: /gap\n", "/gap", true},
      // A line that mentions user-agent: anywhere is an agent line.
      {"User-agent: *\nDisallow: /user-agent:x\nDisallow: /b\n", "/b", false},
      {"", "/", false},
      {"   \n\t\n", "/", false},
  };
  for (const RobotsCase& c : cases) {
    RobotsRules rules;
    ASSERT_TRUE(rules.parse(c.robots, kAgent));
    EXPECT_EQ(c.disallowed, rules.disallows(c.path))
        << "robots: " << c.robots << "path: " << c.path;
  }
}

TEST(RobotsRulesTest, RobotsAgentGroupAppliesBesideStarAndTheUserAgent) {
  const char* robots = "User-agent: tollwick\nDisallow: /mine\nUser-agent: Other\nDisallow: /o\n";
  RobotsRules rules;
  ASSERT_TRUE(rules.parse(robots, kAgent, "Tollwick"));
  EXPECT_TRUE(rules.disallows("/mine"));
  EXPECT_FALSE(rules.disallows("/o"));
  ASSERT_TRUE(rules.parse(robots, kAgent, ""));
  EXPECT_FALSE(rules.disallows("/mine"));
}

TEST(RobotsRulesTest, CrawlDelayOfTheGroupsThatApplyTheLargestAndAtMostAMinute) {
  const struct {
    const char* text;
    uint32_t delayMs;
  } cases[] = {
      {"User-agent: *\nCrawl-delay: 2\n", 2000},
      {"User-agent: *\nCrawl-Delay: 0.5\nUser-agent: tollwick\ncrawl-delay: 3", 3000},
      {"User-agent: other\nCrawl-delay: 9\nUser-agent: *\nDisallow: /x", 0},
      {"User-agent: *\nCrawl-delay: 86400", RobotsRules::kMaxCrawlDelayMs},
      {"User-agent: *\nCrawl-delay: soon\nCrawl-delay: -1\nCrawl-delay: 1.5s", 0},
  };
  for (const auto& c : cases) {
    RobotsRules rules;
    ASSERT_TRUE(rules.parse(c.text, "", "Tollwick"));
    EXPECT_EQ(rules.crawlDelayMs(), c.delayMs) << c.text;
  }
}

TEST(RobotsRulesTest, EmptyUserAgentMatchesOnlyStar) {
  RobotsRules rules;
  ASSERT_TRUE(rules.parse("User-agent:\nDisallow: /x\n", ""));
  EXPECT_FALSE(rules.disallows("/x"));
}

TEST(RobotsPathTest, PathIsLowerCasedWithoutQueryOrFragment) {
  const struct {
    const char* url;
    const char* path;
  } cases[] = {
      {"http://h/Private/X.html", "/private/x.html"},
      {"http://h/a?B=1", "/a"},
      {"http://h/a#Frag", "/a"},
      {"http://h", "/"},
      {"http://h:8080/Dir/", "/dir/"},
  };
  for (const auto& c : cases) {
    StringBuffer path;
    ASSERT_TRUE(RobotsPathOf(c.url, path));
    EXPECT_EQ(c.path, std::string(path.getString())) << c.url;
  }
}

TEST(RobotsRulesTest, LargeFileIsSplitOnceAndAnswersFast) {
  // About 300 KB of rules: parsing is linear and each question walks the rule list once.
  std::string robots = "User-agent: *\n";
  int n = 0;
  while (robots.size() < 299000) robots += "Disallow: /folder" + std::to_string(n++) + "/\n";
  RobotsRules rules;
  ASSERT_TRUE(rules.parse(robots, kAgent));
  EXPECT_EQ(n, rules.count());
  EXPECT_TRUE(rules.disallows("/folder17/page"));
  EXPECT_FALSE(rules.disallows("/other"));
}

TEST(RobotsRulesTest, GarbageNeverCrashes) {
  uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int i = 0; i < 400; ++i) {
      seed = seed * 1103515245 + 12345;
      const char pieces[] = {'\n', ':', '#', ' ', '/', 'a', '*', '\r', '\0', '\xff'};
      text += (seed >> 16) % 3 == 0 ? "Disallow:" : std::string(1, pieces[(seed >> 8) % 10]);
    }
    RobotsRules rules;
    rules.parse(text, kAgent);
    rules.disallows("/a");
  }
}

// ---- Fetching robots.txt through the engine

class RobotsFetchTest : public ::testing::Test {
 protected:
  static std::string Page(const std::string& body) {
    return HttpFixtureServer::Response(200, "OK", body, "Content-Type: text/plain\r\n");
  }
  size_t RobotsRequests() const {
    size_t count = 0;
    for (const auto& request : server_.Requests()) count += request.path == "/robots.txt";
    return count;
  }

  HttpFixtureServer server_;
  ClsSpider spider_;
};

TEST_F(RobotsFetchTest, ReadFromStartAddressPortAndOnlyOnce) {
  server_.AddResponse("/robots.txt", Page("User-agent: *\nDisallow: /secret\n"));
  spider_.BeginSite(server_.Url("/").c_str());
  StringBuffer url;
  spider_.RobotsUrl(url);
  EXPECT_EQ(server_.Url("/robots.txt"), url.getString());

  StringBuffer text;
  EXPECT_TRUE(spider_.FetchRobots(text, nullptr));
  EXPECT_NE(nullptr, strstr(text.getString(), "Disallow: /secret"));
  EXPECT_TRUE(spider_.IsDisallowed(server_.Url("/Secret/x").c_str(), nullptr));
  EXPECT_FALSE(spider_.IsDisallowed(server_.Url("/open").c_str(), nullptr));
  EXPECT_FALSE(spider_.IsDisallowed(server_.Url("/docs/secret").c_str(), nullptr));
  EXPECT_TRUE(spider_.FetchRobots(text, nullptr));
  EXPECT_EQ(1u, RobotsRequests());
  // The cache switches are put back after the fetch.
  EXPECT_TRUE(spider_.http().settings().cacheRules.readFromCache);
  EXPECT_TRUE(spider_.http().settings().cacheRules.writeToCache);
}

TEST_F(RobotsFetchTest, MissingFileAllowsEverythingAndIsNotAskedAgain) {
  spider_.BeginSite(server_.Url("/").c_str());
  StringBuffer text;
  EXPECT_FALSE(spider_.FetchRobots(text, nullptr));
  EXPECT_TRUE(text.isEmpty());
  EXPECT_FALSE(spider_.IsDisallowed(server_.Url("/anything").c_str(), nullptr));
  EXPECT_FALSE(spider_.FetchRobots(text, nullptr));
  EXPECT_EQ(1u, RobotsRequests());
  StringBuffer log;
  spider_.lastErrorText(log);
  EXPECT_NE(nullptr, strstr(log.getString(), "Returning cached-in-memory robots.txt"));
}

TEST_F(RobotsFetchTest, FileAboveContentLimitCountsAsMissing) {
  std::string robots =
      "User-agent: *\nDisallow: /\n" + std::string(ClsSpider::kMaxContentLength, '#');
  server_.AddResponse("/robots.txt", Page(robots));
  spider_.BeginSite(server_.Url("/").c_str());
  EXPECT_FALSE(spider_.IsDisallowed(server_.Url("/x").c_str(), nullptr));
  EXPECT_TRUE(spider_.robotsText().isEmpty());
}

TEST_F(RobotsFetchTest, LargeFileWithinLimitIsRead) {
  std::string robots = "User-agent: *\n";
  for (int n = 0; robots.size() < 299000; ++n) robots += "Disallow: /f" + std::to_string(n) + "/\n";
  server_.AddResponse("/robots.txt", Page(robots));
  spider_.BeginSite(server_.Url("/").c_str());
  EXPECT_TRUE(spider_.IsDisallowed(server_.Url("/f123/x").c_str(), nullptr));
  for (int i = 0; i < 200; ++i) spider_.IsDisallowed(server_.Url("/page").c_str(), nullptr);
  EXPECT_EQ(1u, RobotsRequests());
}

TEST_F(RobotsFetchTest, BeginSiteFetchesAgainForTheNewSite) {
  server_.AddResponse("/robots.txt", Page("User-agent: *\nDisallow: /a\n"));
  spider_.BeginSite(server_.Url("/").c_str());
  EXPECT_TRUE(spider_.IsDisallowed(server_.Url("/a").c_str(), nullptr));
  spider_.BeginSite(server_.Url("/").c_str());
  EXPECT_FALSE(spider_.robotsFetched());
  EXPECT_TRUE(spider_.IsDisallowed(server_.Url("/a").c_str(), nullptr));
  EXPECT_EQ(2u, RobotsRequests());
}

TEST(RobotsUrlTest, WithoutStartAddressTheDomainIsUsed) {
  ClsSpider spider;
  spider.BeginSite("example.com/folder");
  StringBuffer url;
  spider.RobotsUrl(url);
  EXPECT_STREQ("http://example.com/folder/robots.txt", url.getString());
}

TEST(RobotsUrlTest, StartAddressGivesSchemeHostAndPort) {
  const struct {
    const char* start;
    const char* robots;
  } cases[] = {
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/robots.txt"},
      {"https://example.com/docs/index.html", "https://example.com/robots.txt"},
      {"http://example.com", "http://example.com/robots.txt"},
      {"http://example.com?x=1", "http://example.com/robots.txt"},
      {"http://user:pw@example.com:81/a", "http://example.com:81/robots.txt"},
  };
  for (const auto& c : cases) {
    ClsSpider spider;
    spider.BeginSite(c.start);
    StringBuffer url;
    spider.RobotsUrl(url);
    EXPECT_STREQ(c.robots, url.getString()) << c.start;
  }
}

}  // namespace
}  // namespace quillon
