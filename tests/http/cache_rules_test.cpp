#include "http/cache_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "base/logger.h"
#include "http/cache_file.h"
#include "http/date_parser.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/output.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::LogText;

double Day(const SystemTime& t) {
  double d = 0;
  DateParser::CalendarToDayCount(t, d);
  return d;
}

TEST(ComputeExpiryTest, FirstApplicableRuleWins) {
  SystemTime now;  // 2024-03-10 12:00:00 local
  now.year = 2024, now.month = 3, now.day = 10, now.hour = 12;
  const struct {
    const char* fields;
    int bias;
    uint32_t defaultMinutes;
    int heuristic;
    double seconds;  // expected expiry - now
  } cases[] = {
      {"Expires: Sun, 10 Mar 2024 14:00:00 GMT", -60, 10080, 1, 3 * 3600.0},  // UTC+1
      {"Expires: 0\r\nCache-Control: max-age=3600", 0, 10080, 1, 3600},
      {"Cache-Control: max-age=3600", 0, 10080, 1, 3600},
      {"Cache-Control: private; max-age=-60", 0, 10080, 1, -60},
      {"Cache-Control: public, max-age=3600", 0, 10080, 1, 7 * 86400.0},
      {"Cache-Control: max-age=0", 0, 10080, 1, 7 * 86400.0},
      {"Last-Modified: Thu, 29 Feb 2024 12:00:00 GMT", 0, 10080, 1, 2.5 * 86400},
      {"Last-Modified: Thu, 29 Feb 2024 12:00:00 GMT", 0, 10080, 0, 7 * 86400.0},
      {"Last-Modified: Thu, 21 Mar 2024 12:00:00 GMT", 0, 10080, 1, 7 * 86400.0},
      {"X: y", 0, 5, 1, 600},
      {"X: y", 0, 60, 1, 3600},
  };
  for (const auto& c : cases) {
    HttpResponseHeader header;
    ASSERT_TRUE(header.parse(std::string("HTTP/1.1 200 OK\r\n") + c.fields + "\r\n\r\n"));
    CacheControl rules;
    rules.defaultFreshnessMinutes = c.defaultMinutes;
    rules.lastModifiedHeuristic = c.heuristic;
    const SystemTime expiry = ComputeExpiry(rules, header, now, c.bias);
    EXPECT_NEAR((Day(expiry) - Day(now)) * 86400, c.seconds, 1) << c.fields;
  }
}

// One client's settings with a cache root, and a response to store.
struct CacheSetup {
  HttpControl settings;
  Logger log;
  std::string dir = testing::FreshDir("cache_rules");
  explicit CacheSetup(bool httpCache = false) {
    setenv("TZ", "UTC", 1);
    tzset();
    settings.useHttpCache = httpCache;
    settings.cache.AddRoot(dir.c_str());
    settings.httpCache.AddRoot(dir.c_str());
  }
  void store(const char* url, const std::string& head, const std::string& body = "<p>page</p>") {
    HttpResult result;
    ASSERT_TRUE(result.header.parse(head + "\r\n"));
    log.reset();
    CacheUpdate(settings, url, result, body, log);
  }
  // The lookup's answer, outcome, result and body (appended to "old:").
  struct Looked {
    bool answered = false;
    CacheLookupOutcome outcome;
    HttpResult result;
    DataBuffer body{"old:", 4};
  };
  std::unique_ptr<Looked> lookUp(const char* url) {
    auto looked = std::make_unique<Looked>();
    OutputDataBuffer sink(looked->body);
    log.reset();
    looked->answered = CacheLookup(settings, url, sink, looked->result, looked->outcome, log);
    return looked;
  }
};

TEST(CacheUpdateTest, HeadersThatKeepAResponseOut) {
  const struct {
    const char* fields;
    bool stored;
    const char* logged;
  } cases[] = {
      {"Cache-Control: no-cache", false, "because of cache-control directive"},
      {"Cache-Control: No-Store", false, "because of cache-control directive"},
      {"Cache-Control: private, max-age=0", false, "because of cache-control directive"},
      {"Cache-Control: private,max-age = 0", false, "because of cache-control directive"},
      {"Cache-Control: s-maxage=0", false, "because of cache-control directive"},
      {"Cache-Control: no-store, no-cache, must-revalidate", false, "cache-control directive"},
      {"Cache-Control: public, private", false, "because of cache-control directive"},
      {"Cache-Control: PRIVATE=\"Set-Cookie, X\", max-age=60", false, "cache-control directive"},
      {"Cache-Control: public\r\nCache-Control: max-age=60, No-Cache", false, "directive"},
      {"Cache-Control: max-age=60, ext=\"a,no-store\"", true, "Cache updated."},
      {"Cache-Control: no-storage, privately, max-age=3600", true, "Cache updated."},
      {"Cache-Control: public, max-age=0", true, "Cache updated."},  // only a whole max-age=0
      {"Cache-Control: max-age=3600", true, "Cache updated."},
      {"Pragma: no - cache", false, "because of no-cache pragma"},
      {"Expires: 0", false, "because of Expires=0 header"},
      {"Set-Cookie: id=1", false, "sets cookies"},
      {"ETag: \"v1\"", true, "Etag: \"v1\""},
  };
  for (const auto& c : cases) {
    CacheSetup setup;  // an empty folder each time
    setup.store("http://h/", std::string("HTTP/1.1 200 OK\r\n") + c.fields + "\r\n");
    EXPECT_EQ(setup.settings.cache.Exists("http://h/"), c.stored) << c.fields;
    EXPECT_NE(LogText(setup.log).find(c.logged), std::string::npos)
        << c.fields << LogText(setup.log);
  }
  CacheSetup setup;
  setup.settings.cacheRules.ignoreNoCache = true;
  setup.store("http://h/a", "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\n");
  setup.store("http://h/b", "HTTP/1.1 404 Not Found\r\n");
  EXPECT_TRUE(setup.settings.cache.Exists("http://h/a"));
  EXPECT_FALSE(setup.settings.cache.Exists("http://h/b"));
  EXPECT_NE(LogText(setup.log).find("statusCode: 404"), std::string::npos);
}

TEST(CacheLookupTest, FreshEntryAnswersWithHeadAndBody) {
  CacheSetup setup;
  setup.store("http://h/",
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
              "X-Name: Gr\xfc\xdf\r\n",
              "caf\xe9");
  auto looked = setup.lookUp("http://h/");
  ASSERT_TRUE(looked->answered);
  EXPECT_EQ(looked->body.view(), "old:caf\xe9");
  EXPECT_EQ(looked->result.header.statusCode, 200);
  StringBuffer name;
  looked->result.header.getField("X-Name", name);
  EXPECT_STREQ(name.getString(), "Gr\xc3\xbc\xc3\x9f");
  EXPECT_EQ(looked->result.cacheState, 1);
  EXPECT_FALSE(looked->outcome.revalidate);
  EXPECT_NE(LogText(setup.log).find("Cache hit."), std::string::npos);
}

TEST(CacheLookupTest, StaleEntryIsRevalidatedAndRestoredAfter304) {
  const struct {
    const char* fields;
    const char* etag;
    int conditionalDay;  // day of March 2024 in If-Modified-Since, 0 for none
  } cases[] = {
      {"ETag: \"v1\"\r\nLast-Modified: Fri, 01 Mar 2024 10:00:00 GMT", "\"v1\"", 1},
      {"Last-Modified: Fri, 01 Mar 2024 10:00:00 GMT\r\nDate: Sat, 02 Mar 2024 10:00:00 GMT", "",
       1},
      {"Date: Sat, 02 Mar 2024 10:00:00 GMT", "", 2},
      {"X: y", "", 0},
  };
  for (const auto& c : cases) {
    CacheSetup setup;
    setup.store("http://h/",
                std::string("HTTP/1.1 200 OK\r\nExpires: Mon, 01 Jan 2001 00:00:00 GMT\r\n") +
                    c.fields + "\r\n");
    auto looked = setup.lookUp("http://h/");
    const CacheLookupOutcome& outcome = looked->outcome;
    EXPECT_FALSE(looked->answered) << c.fields;
    EXPECT_TRUE(outcome.revalidate && outcome.found) << c.fields;
    EXPECT_EQ(looked->body.view(), "old:") << c.fields;
    EXPECT_STREQ(outcome.etag.getString(), c.etag) << c.fields;
    EXPECT_EQ(outcome.conditionalDate.day, c.conditionalDay) << c.fields;
    EXPECT_EQ(outcome.conditionalDate.hour, c.conditionalDay ? 10 : 0) << c.fields;
    EXPECT_NE(LogText(setup.log).find("Cache entry expired."), std::string::npos);
    EXPECT_NE(LogText(setup.log).find("ExpiredDateTime: Mon, 01 Jan 2001 00:00:00 +0000"),
              std::string::npos);

    ASSERT_TRUE(looked->result.header.parse("HTTP/1.1 304 Not Modified\r\n\r\n"));
    OutputDataBuffer sink(looked->body);
    ASSERT_TRUE(CacheRestoreAfter304(setup.settings, "http://h/", looked->outcome, looked->result,
                                     sink, setup.log));
    EXPECT_EQ(looked->body.view(), "<p>page</p>");
    EXPECT_EQ(looked->result.header.statusCode, 200);
    EXPECT_TRUE(looked->result.fromCache);
    EXPECT_NE(LogText(setup.log).find("NewExpiration"), std::string::npos);
    EXPECT_FALSE(setup.lookUp("http://h/")->outcome.revalidate);  // fresh again
  }
}

TEST(CacheLookupTest, BadOffsetIsALoggedMiss) {
  CacheSetup setup;
  DataBuffer data("\xe8\x03\0\0HTTP/1.1 200 OK\r\n\r\nbody", 27);
  SystemTime future;
  future.year = 2100, future.month = 1, future.day = 1;
  ASSERT_TRUE(setup.settings.cache.SaveToCache2("http://h/", future, "", data));
  auto looked = setup.lookUp("http://h/");
  EXPECT_FALSE(looked->answered);
  EXPECT_EQ(looked->result.cacheState, 0);
  EXPECT_NE(LogText(setup.log).find("Bad offset in cache file"), std::string::npos);
}

TEST(HttpCacheRulesTest, StoresAnswersAndNegativeEntries) {
  CacheSetup setup(true);
  setup.store("http://h/missing", "HTTP/1.1 404 Not Found\r\n", "gone");
  setup.store("http://h/moved", "HTTP/1.1 301 Moved\r\nLocation: /new\r\n", "");
  setup.store("http://h/cookie", "HTTP/1.1 200 OK\r\nSet-Cookie: a=b\r\n");
  setup.store("http://h/error", "HTTP/1.1 500 Oops\r\n");
  setup.store("http://h/login", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n");
  setup.store("http://h/proxy", "HTTP/1.1 407 Proxy Authentication Required\r\n");
  setup.store("http://h/nostore",
              "HTTP/1.1 200 OK\r\nCache-Control: private, no-store, must-revalidate\r\n");
  HttpResponseHeader failed;
  RecordNegative(setup.settings, "http://h/down", failed, "", setup.log);

  const struct {
    const char* url;
    bool answered, redirect;
    int cacheState;
    const char* body;
  } cases[] = {
      {"http://h/missing", true, false, 1, "gone"}, {"http://h/moved", true, true, 1, ""},
      {"http://h/cookie", false, false, 0, ""},     {"http://h/error", false, false, 0, ""},
      {"http://h/login", false, false, 0, ""},      {"http://h/proxy", false, false, 0, ""},
      {"http://h/nostore", false, false, 0, ""},    {"http://h/down", false, false, 2, ""},
  };
  for (const auto& c : cases) {
    auto looked = setup.lookUp(c.url);
    EXPECT_EQ(looked->answered, c.answered) << c.url;
    EXPECT_EQ(looked->outcome.followRedirect, c.redirect) << c.url;
    EXPECT_EQ(looked->result.cacheState, c.cacheState) << c.url;
    EXPECT_EQ(looked->body.view(), std::string("old:") + c.body) << c.url;
  }
  EXPECT_NE(LogText(setup.log).find("Found negative cache entry."), std::string::npos);
  setup.settings.cacheRules.quietNegative = true;
  setup.lookUp("http://h/down");
  EXPECT_EQ(LogText(setup.log).find("Found negative"), std::string::npos);
}

// Entries stored straight into each store, as an older build could have left them.
void StoreRaw(CacheSetup& setup, const char* url, const std::string& head, const char* body) {
  if (setup.settings.useHttpCache) {
    ASSERT_TRUE(setup.settings.httpCache.Add(url, head, body, false, setup.log));
    return;
  }
  std::string entry = "    " + head + body;
  PutLe32(reinterpret_cast<uint8_t*>(entry.data()), static_cast<uint32_t>(4 + head.size()));
  SystemTime future;
  future.year = 2100, future.month = 1, future.day = 1;
  ASSERT_TRUE(setup.settings.cache.SaveToCache2(
      url, future, "", DataBuffer(entry.data(), static_cast<uint32_t>(entry.size()))));
}

TEST(CacheLoginTest, ChallengesKeptByOlderBuildsAreMissesInEitherStore) {
  for (bool httpCache : {false, true}) {
    CacheSetup setup(httpCache);
    StoreRaw(setup, "http://h/401", "HTTP/1.1 401 Unauthorized\r\n\r\n", "denied");
    StoreRaw(setup, "http://h/407", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", "");
    for (const char* url : {"http://h/401", "http://h/407"}) {
      auto looked = setup.lookUp(url);
      EXPECT_FALSE(looked->answered || looked->outcome.found || looked->outcome.revalidate)
          << url << httpCache;
      EXPECT_EQ(looked->result.cacheState, 0) << url << httpCache;
      EXPECT_EQ(looked->body.view(), "old:") << url << httpCache;
    }
  }
}

TEST(HttpCacheRulesTest, ConnectOutcomesSetAndClearDnsMarks) {
  CacheSetup setup(true);
  HttpControl& s = setup.settings;
  EXPECT_FALSE(IsDnsMarkedInvalid(s, "gone.example", setup.log));
  NoteConnectOutcome(s, "gone.example", ConnectOutcome::kNameNotResolved, DnsMark::kNone,
                     setup.log);
  EXPECT_TRUE(IsDnsMarkedInvalid(s, "gone.example", setup.log));
  NoteConnectOutcome(s, "gone.example", ConnectOutcome::kFailed, DnsMark::kMarkedInvalid,
                     setup.log);  // resolved, refused
  EXPECT_FALSE(IsDnsMarkedInvalid(s, "gone.example", setup.log));
  s.cacheRules.writeToCache = false;
  NoteConnectOutcome(s, "other.example", ConnectOutcome::kNameNotResolved, DnsMark::kNone,
                     setup.log);
  EXPECT_FALSE(IsDnsMarkedInvalid(s, "other.example", setup.log));
}

}  // namespace
}  // namespace quillon
