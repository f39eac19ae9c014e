#include "http/http_conn_pool.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "base/logger.h"
#include "http/http_client.h"
#include "http/http_control.h"
#include "tests/http/driver_test_util.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"

namespace quillon {
namespace {

using testing::Fetcher;
using testing::HttpFixtureServer;
using testing::ShortTimeouts;

TEST(HttpConnPoolTest, SameHostAndPortFindTheSameClient) {
  HttpConnPool pool;
  HttpControl settings;
  LogNull log;
  HttpClient* a = pool.GetClient("h", 8080, settings, log);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pool.GetClient("H", 8080, settings, log), a);
  EXPECT_NE(pool.GetClient("h", 8081, settings, log), a);
  EXPECT_NE(pool.GetClient("g", 8080, settings, log), a);
  EXPECT_EQ(pool.count(), 3);
  EXPECT_EQ(std::string(a->host().view()), "h");
  EXPECT_EQ(a->port(), 8080);
}

TEST(HttpConnPoolTest, FoundClientBecomesTheMostRecentlyUsed) {
  HttpConnPool pool;
  HttpControl settings;
  LogNull log;
  HttpClient* a = pool.GetClient("a", 80, settings, log);
  HttpClient* b = pool.GetClient("b", 80, settings, log);
  EXPECT_EQ(pool.clientAt(0), a);
  EXPECT_EQ(pool.GetClient("a", 80, settings, log), a);
  EXPECT_EQ(pool.clientAt(0), b);
  EXPECT_EQ(pool.clientAt(1), a);
}

TEST(HttpConnPoolTest, EleventhHostEvictsTheLeastRecentlyUsedClient) {
  HttpConnPool pool;
  HttpControl settings;
  LogNull log;
  for (int i = 0; i < HttpConnPool::kCapacity; ++i) {
    ASSERT_NE(pool.GetClient(("host" + std::to_string(i)).c_str(), 80, settings, log), nullptr);
  }
  // host0 used again: host1 is now the least recently used.
  HttpClient* host0 = pool.GetClient("host0", 80, settings, log);
  HttpClient* eleventh = pool.GetClient("host10", 80, settings, log);
  EXPECT_EQ(pool.count(), HttpConnPool::kCapacity);
  EXPECT_EQ(pool.clientAt(HttpConnPool::kCapacity - 1), eleventh);
  bool host1Left = true;
  bool host0Left = false;
  for (int i = 0; i < pool.count(); ++i) {
    if (pool.clientAt(i)->host().equals("host1")) host1Left = false;
    if (pool.clientAt(i) == host0) host0Left = true;
  }
  EXPECT_TRUE(host1Left);
  EXPECT_TRUE(host0Left);
}

TEST(HttpConnPoolTest, EvictionClosesTheEvictedClientsConnection) {
  ShortTimeouts timeouts;
  HttpFixtureServer server;
  server.AddResponse("*", HttpFixtureServer::Response(200, "OK", "x"),
                     HttpFixtureServer::After::kKeepAlive);
  Fetcher f;
  ASSERT_TRUE(f.fetch(server.Url("/first")));
  ASSERT_TRUE(f.pool.clientAt(0)->isOpen(false));
  LogNull log;
  for (int i = 0; i < HttpConnPool::kCapacity; ++i) {
    f.pool.GetClient(("other" + std::to_string(i)).c_str(), 80, f.settings, log);
  }
  // The server sees the evicted client's connection close: one more request opens a new one.
  ASSERT_TRUE(f.fetch(server.Url("/again")));
  EXPECT_NE(f.logText().find("Not yet connected to web server."), std::string::npos);
  EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST(HttpConnPoolTest, ProxyIsTheKeyWhenOneIsChosen) {
  HttpConnPool pool;
  HttpControl settings;
  settings.proxyDomain.assign("Proxy.Example");
  settings.proxyPort = 3128;
  LogNull log;
  HttpClient* a = pool.GetClient("a", 80, settings, log);
  EXPECT_EQ(pool.GetClient("b", 8080, settings, log), a);
  EXPECT_EQ(std::string(a->host().view()), "proxy.example");
  EXPECT_EQ(a->port(), 3128);
}

TEST(HttpConnPoolTest, SystemProxyIsLookedUpWithoutLogging) {
  HttpConnPool pool;
  HttpControl settings;
  settings.useSystemProxy = true;
  setenv("http_proxy", "http://sysproxy:8888", 1);
  Logger log;
  HttpClient* a = pool.GetClient("a", 80, settings, log);
  unsetenv("http_proxy");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->port(), 8888);
  EXPECT_EQ(testing::LogText(log).find("IE_Proxy"), std::string::npos);
}

TEST(HttpClientTest, HostIsRecordedInNormalisedForm) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Example.COM", "example.com"},
      {"http://Example.com/", "example.com"},
      {"https://a/b/", "ab"},
      {"  spaced  ", "spaced"},
      {"", ""},
  };
  for (const Case& c : cases) {
    StringBuffer out;
    ASSERT_TRUE(HttpClient::NormaliseHost(c.in, out));
    EXPECT_EQ(std::string(out.view()), c.out) << c.in;
  }
}

}  // namespace
}  // namespace quillon
