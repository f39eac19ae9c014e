// Requests through a proxy: a real tinyproxy started by the test (chosen by proxyDomain or by
// http_proxy with useSystemProxy), and the scripted server standing in as a proxy where the
// request line itself is checked.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "base/platform.h"
#include "tests/http/driver_test_util.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::Fetcher;
using testing::HttpFixtureServer;
using testing::ReadFileBytes;
using testing::ShortTimeouts;

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";

// tinyproxy in the foreground on a free loopback port, logging every request line.
class Tinyproxy {
 public:
  Tinyproxy() {
    if (access(kTinyproxy, X_OK) != 0) {
      error_ = "tinyproxy is not installed";
      return;
    }
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      port_ = testing::FreeLoopbackPort();
      std::string dir = testing::FreshDir("tinyproxy-" + std::to_string(port_));
      logPath_ = dir + "tinyproxy.log";
      std::ofstream(dir + "tinyproxy.conf")
          << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nLogLevel Connect\n"
          << "LogFile \"" << logPath_ << "\"\nMaxClients 20\nAllow 127.0.0.1\n";
      pid_t pid = fork();
      if (pid == 0) {
        execl(kTinyproxy, kTinyproxy, "-d", "-c", (dir + "tinyproxy.conf").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
      }
      if (pid > 0 && testing::WaitForPort(port_, 5000)) {
        pid_ = pid;
      } else if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        error_ = "tinyproxy did not start; see " + logPath_;
      }
    }
  }
  ~Tinyproxy() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  bool isRunning() const { return pid_ > 0; }
  int port() const { return port_; }
  const std::string& error() const { return error_; }

  // Waits a little for the request line to reach the log; true when it is there.
  bool logged(const std::string& text) const {
    for (int i = 0; i < 200; ++i) {
      if (ReadFileBytes(logPath_).find(text) != std::string::npos) return true;
      SleepMs(10);
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string logPath_;
  std::string error_;
};

class TinyproxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!proxy_.isRunning()) GTEST_SKIP() << proxy_.error();
    server_.AddResponse("/page?x=1", HttpFixtureServer::Response(200, "OK", "through the proxy"));
  }

  ShortTimeouts timeouts_{2000, 5000};
  Tinyproxy proxy_;
  HttpFixtureServer server_;
  Fetcher f_;
};

TEST_F(TinyproxyTest, ProxyDomainGetsTheFullUrlAndThePageArrives) {
  f_.settings.proxyDomain.assign("127.0.0.1");
  f_.settings.proxyPort = proxy_.port();
  const std::string url = server_.Url("/page?x=1");
  ASSERT_TRUE(f_.fetch(url)) << f_.logText();
  EXPECT_EQ(f_.bodyText(), "through the proxy");
  EXPECT_TRUE(proxy_.logged("GET " + url + " HTTP/1.1"));
  EXPECT_NE(f_.logText().find("proxyDomain"), std::string::npos);
  ASSERT_EQ(server_.RequestCount(), 1u);
  EXPECT_EQ(server_.Requests()[0].path, "/page?x=1");
}

TEST_F(TinyproxyTest, SystemProxyFromTheEnvironmentGetsTheFullUrl) {
  const std::string proxy = "http://127.0.0.1:" + std::to_string(proxy_.port());
  setenv("http_proxy", proxy.c_str(), 1);
  f_.settings.useSystemProxy = true;
  const std::string url = server_.Url("/page?x=1");
  bool ok = f_.fetch(url);
  unsetenv("http_proxy");
  ASSERT_TRUE(ok) << f_.logText();
  EXPECT_EQ(f_.bodyText(), "through the proxy");
  EXPECT_TRUE(proxy_.logged("GET " + url + " HTTP/1.1"));
  EXPECT_NE(f_.logText().find("IE_Proxy"), std::string::npos);
}

TEST_F(TinyproxyTest, ProxyChosenForAllHostsSharesOnePoolClient) {
  f_.settings.proxyDomain.assign("127.0.0.1");
  f_.settings.proxyPort = proxy_.port();
  ASSERT_TRUE(f_.fetch(server_.Url("/page?x=1")));
  HttpFixtureServer second;
  second.AddResponse("/p", HttpFixtureServer::Response(200, "OK", "second"));
  ASSERT_TRUE(f_.fetch(second.Url("/p"))) << f_.logText();
  EXPECT_EQ(f_.bodyText(), "second");
  EXPECT_EQ(f_.pool.count(), 1);
}

// The scripted server as the proxy: the request line is checked as it arrives.
TEST(ProxyRequestLineTest, HttpsUrlGoesToTheProxyInPlainTextWithTheFullUrl) {
  ShortTimeouts timeouts;
  HttpFixtureServer proxy;
  proxy.AddResponse("*", HttpFixtureServer::Response(200, "OK", "proxied"));
  Fetcher f;
  f.settings.proxyDomain.assign("127.0.0.1");
  f.settings.proxyPort = proxy.port();
  ASSERT_TRUE(f.fetch("https://secure.test/p?q=1#frag")) << f.logText();
  EXPECT_EQ(f.bodyText(), "proxied");
  ASSERT_EQ(proxy.RequestCount(), 1u);
  const auto request = proxy.Requests()[0];
  EXPECT_EQ(request.target, "https://secure.test/p?q=1#frag");
  EXPECT_EQ(request.head.rfind("GET https://secure.test/p?q=1#frag HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(request.head.find("\r\nHost: secure.test\r\n"), std::string::npos);
  EXPECT_EQ(f.logText().find("Using HTTPS."), std::string::npos);
}

TEST(ProxyRequestLineTest, UnreachableProxyFailsWithTheProxyLine) {
  ShortTimeouts timeouts;
  Fetcher f;
  f.settings.proxyDomain.assign("127.0.0.1");
  f.settings.proxyPort = testing::FreeLoopbackPort();
  EXPECT_FALSE(f.fetch("http://site.test/"));
  EXPECT_NE(f.logText().find("Failed to connect to proxy server"), std::string::npos);
}

}  // namespace
}  // namespace quillon
