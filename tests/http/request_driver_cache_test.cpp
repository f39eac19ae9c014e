// The request driver's cache steps against a scripted server: answers kept and served from
// disk, stale entries revalidated, negative entries after failures, and host-name failure marks.
#include <gtest/gtest.h>

#include <string>

#include "http/cache_rules.h"
#include "http/date_parser.h"
#include "tests/http/driver_test_util.h"
#include "tests/net/resolver_fake.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FakeResolver;
using testing::HttpFixtureServer;
using After = HttpFixtureServer::After;

std::string Answer(int status, const std::string& body, const std::string& headers = "") {
  return HttpFixtureServer::Response(status, status == 304 ? "Not Modified" : "OK", body,
                                     headers);
}

// The If- line of a request head, or "".
std::string ConditionalLine(const std::string& head) {
  const size_t at = head.find("\r\nIf-");
  return at == std::string::npos ? "" : head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
}

class DriverCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = testing::FreshDir("driver_cache");
    f_.settings.cache.AddRoot(dir.c_str());
    f_.settings.httpCache.AddRoot(dir.c_str());
  }
  // Fetches path and tells how many requests the server got for it.
  size_t FetchCounting(const std::string& path, bool expectOk = true) {
    const size_t before = server_.RequestCount();
    EXPECT_EQ(f_.fetch(server_.Url(path)), expectOk) << path << "\n" << f_.logText();
    return server_.RequestCount() - before;
  }
  // Moves the expiry of path's ClsCache2 entry into the past.
  void Age(const std::string& path) {
    SystemTime past{};
    past.year = 2001, past.month = 1, past.day = 1;
    ASSERT_TRUE(f_.settings.cache.UpdateExpiry(server_.Url(path).c_str(), past));
  }
  CacheFind Stored(const std::string& url) {
    CacheEntry entry;
    return f_.settings.httpCache.Find(url.c_str(), entry, f_.log);
  }

  testing::ShortTimeouts timeouts_;
  HttpFixtureServer server_;
  testing::Fetcher f_;
};

TEST_F(DriverCacheTest, StorableAnswersAreServedFromDiskWithoutARequest) {
  const struct {
    std::string answer;
    bool kept;
  } cases[] = {
      {Answer(200, "page", "Cache-Control: max-age=3600\r\nETag: \"v1\"\r\n"), true},
      {Answer(200, "page", "Last-Modified: Fri, 01 Mar 2024 10:00:00 GMT\r\n"), true},
      {Answer(200, "page", "Set-Cookie: a=1\r\n"), false},
      {Answer(200, "page", "Cache-Control: no-store\r\n"), false},
      {Answer(200, "page", "Cache-Control: no-store, no-cache, must-revalidate\r\n"), false},
      {Answer(404, "page"), false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = "/p" + std::to_string(n++);
    server_.AddResponse(path, c.answer);
    FetchCounting(path);
    EXPECT_EQ(FetchCounting(path), c.kept ? 0u : 1u) << c.answer;
    EXPECT_EQ(f_.result.fromCache, c.kept) << c.answer;
    EXPECT_EQ(f_.bodyText(), "page");
    if (c.kept) {
      EXPECT_EQ(f_.status(), 200);
      EXPECT_EQ(f_.result.cacheState, 1);
      EXPECT_NE(f_.logText().find("Cache hit."), std::string::npos);
    }
  }
}

TEST_F(DriverCacheTest, StaleEntryIsAskedAfterAndA304BringsItBack) {
  const std::string fresh = "Cache-Control: max-age=3600\r\n";
  const struct {
    std::string stored;       // fields of the first answer
    std::string conditional;  // the If- line of the second request
    std::string second;       // the second answer
    std::string body;         // what the second fetch gives
  } cases[] = {
      {"ETag: \"v1\"\r\nLast-Modified: Fri, 01 Mar 2024 10:00:00 GMT\r\n",
       "If-None-Match: \"v1\"", Answer(304, "", fresh), "old page"},
      {"Last-Modified: Fri, 01 Mar 2024 10:00:00 GMT\r\nDate: Sat, 02 Mar 2024 10:00:00 GMT\r\n",
       "If-Modified-Since: Fri, 01 Mar 2024 10:00:00 GMT", Answer(304, "", fresh), "old page"},
      {"Date: Sat, 02 Mar 2024 10:00:00 GMT\r\n",
       "If-Modified-Since: Sat, 02 Mar 2024 10:00:00 GMT", Answer(200, "changed", fresh),
       "changed"},
      {"", "", Answer(200, "changed", fresh), "changed"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = "/s" + std::to_string(n++);
    server_.AddResponse(path, Answer(200, "old page", c.stored));
    server_.AddResponse(path, c.second);
    FetchCounting(path);
    Age(path);
    EXPECT_EQ(FetchCounting(path), 1u);
    EXPECT_EQ(ConditionalLine(server_.Requests().back().head), c.conditional) << c.stored;
    EXPECT_EQ(f_.status(), 200) << c.stored;
    EXPECT_EQ(f_.bodyText(), c.body) << c.stored;
    const bool restored = c.body == "old page";
    EXPECT_EQ(f_.result.fromCache, restored) << c.stored;
    const std::string log = f_.logText();
    EXPECT_NE(log.find("Cache entry expired."), std::string::npos);
    EXPECT_EQ(log.find("Updating cache entry with new expiration.") != std::string::npos,
              restored);
    EXPECT_EQ(log.find("NewExpiration") != std::string::npos, restored);
    // Fresh again from the 304's own fields, or from the new answer's.
    EXPECT_EQ(FetchCounting(path), 0u) << c.stored;
    EXPECT_EQ(f_.bodyText(), c.body);
  }
}

// Revalidating every entry: each fetch of a fresh page is one conditional request; a 304 keeps
// the stored page, a 200 replaces it.
TEST_F(DriverCacheTest, EveryEntryOfEitherStoreIsAskedAboutWhenRevalidating) {
  const std::string fresh = "Cache-Control: max-age=3600\r\n";
  f_.settings.revalidateInEveryTemplate = true;
  for (bool httpCache : {false, true}) {
    f_.settings.useHttpCache = httpCache;
    const std::string path = httpCache ? "/container" : "/one-file";
    server_.AddResponse(path, Answer(200, "old page", fresh + "ETag: \"v1\"\r\n"));
    server_.AddResponse(path, Answer(304, "", fresh));
    server_.AddResponse(path, Answer(200, "changed", fresh + "ETag: \"v2\"\r\n"));
    server_.AddResponse(path, Answer(304, "", fresh));
    const struct {
      const char* conditional;
      const char* body;
      bool fromCache;
    } fetches[] = {{"", "old page", false},
                   {"If-None-Match: \"v1\"", "old page", true},
                   {"If-None-Match: \"v1\"", "changed", false},
                   {"If-None-Match: \"v2\"", "changed", true}};
    for (const auto& fetch : fetches) {
      EXPECT_EQ(FetchCounting(path), 1u) << path;
      EXPECT_EQ(ConditionalLine(server_.Requests().back().head), fetch.conditional) << path;
      EXPECT_EQ(f_.bodyText(), fetch.body) << path;
      EXPECT_EQ(f_.result.fromCache, fetch.fromCache) << path;
    }
  }
}

TEST_F(DriverCacheTest, ContainerStoreKeepsAnswersAndFollowsStoredRedirects) {
  f_.settings.useHttpCache = true;
  server_.AddResponse("/old", HttpFixtureServer::Response(301, "Moved", "", "Location: /new\r\n"));
  server_.AddResponse("/new", Answer(200, "page"));
  EXPECT_EQ(FetchCounting("/old"), 2u);
  EXPECT_EQ(FetchCounting("/old"), 0u);
  EXPECT_EQ(f_.bodyText(), "page");
  EXPECT_TRUE(f_.result.redirected);
  EXPECT_EQ(std::string(f_.result.finalUrl.view()), server_.Url("/new"));
}

TEST_F(DriverCacheTest, FailuresLeaveNegativeEntriesThatDoNotStopTheNextRequest) {
  f_.settings.useHttpCache = true;
  server_.AddHandler("/silent", [](int, const HttpFixtureServer::Request&) {
    return After::kClose;
  });
  server_.AddResponse("/garbage", "garbage\r\n\r\n");
  server_.AddResponse("/to-silent", HttpFixtureServer::Response(302, "Found", "",
                                                                "Location: /silent\r\n"));
  for (const char* path : {"/silent", "/garbage", "/to-silent"}) {
    FetchCounting(path, false);
    EXPECT_EQ(Stored(server_.Url(path)), CacheFind::kNegative) << path;
    EXPECT_GE(FetchCounting(path, false), 1u) << path;
    EXPECT_NE(f_.logText().find("Found negative cache entry."), std::string::npos) << path;
  }
}

TEST_F(DriverCacheTest, HostThatDidNotResolveIsRefusedUntilItConnects) {
  FakeResolver& resolver = FakeResolver::Instance();
  resolver.Install();
  f_.settings.useHttpCache = true;
  const std::string url = "http://gone.test:" + std::to_string(server_.port()) + "/p";
  server_.AddResponse("/p", Answer(200, "back"));
  bool invalid = false;

  EXPECT_FALSE(f_.fetch(url));
  EXPECT_TRUE(f_.settings.httpCache.IsDnsMarkedInvalid("gone.test", invalid, f_.log) && invalid);
  const size_t lookups = resolver.Asked().size();
  EXPECT_FALSE(f_.fetch(url));
  EXPECT_NE(f_.logText().find("Domain name is marked as invalid in the cache."),
            std::string::npos);
  EXPECT_EQ(resolver.Asked().size(), lookups);

  // Allowed to try, the host now resolves: the mark is cleared.
  f_.settings.cacheRules.skipFailedDomains = false;
  resolver.Add("gone.test", "127.0.0.1");
  EXPECT_TRUE(f_.fetch(url)) << f_.logText();
  EXPECT_TRUE(f_.settings.httpCache.IsDnsMarkedInvalid("gone.test", invalid, f_.log));
  EXPECT_FALSE(invalid);
  resolver.Uninstall();
  EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
}

}  // namespace
}  // namespace quillon
