#include "http/parse_url.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <string>

#include "base/logger.h"
#include "http/http_control.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::LogText;

struct UrlCase {
  const char* url;
  const char* host;
  int port;
  const char* user;
  const char* password;
  const char* path;
  const char* query;
  const char* fragment;
};

TEST(ParseUrlTest, SplitsUrlsIntoTheirPieces) {
  const UrlCase cases[] = {
      {"http://MyHost/a/b.html?x=1#top", "myhost", 80, "", "", "/a/b.html", "x=1", "top"},
      {"https://h/", "h", 443, "", "", "/", "", ""},
      {"https://h:8443/x", "h", 8443, "", "", "/x", "", ""},
      {"http://h:abc/", "h", 80, "", "", "/", "", ""},
      {"http://h:8080", "h", 8080, "", "", "", "", ""},
      {"http://h?x=1", "h", 80, "", "", "", "x=1", ""},
      {"http://h:8080?x=1", "h", 8080, "", "", "", "x=1", ""},
      {"file:///c:/dir/f.htm", "", 80, "", "", "/dir/f.htm", "", ""},
      {"HTTP://MYHOST/Path", "myhost", 80, "", "", "/Path", "", ""},
      {"http:\\\\h\\a\\b", "h", 80, "", "", "/a/b", "", ""},
      {"http://joe:secret@h/p", "h", 80, "joe", "secret", "/p", "", ""},
      {"http://joe@h/p", "h", 80, "", "", "/p", "", ""},
      {"http://h/p?q=a@b/c", "h", 80, "", "", "/p", "q=a@b/c", ""},
      {"ftp://files.example/pub", "files.example", 80, "", "", "/pub", "", ""},
      {"www.example.com/x", "www.example.com", 80, "", "", "/x", "", ""},
      {"http://h/p#a#b", "h", 80, "", "", "/p#a", "", "b"},
      {"http://h/p?x#f", "h", 80, "", "", "/p", "x", "f"},
      {"http://h/p#f?x", "h", 80, "", "", "/p", "x", "f"},
      {"http://h#top", "h", 80, "", "", "", "", "top"},
      {"http://h:0/", "h", 0, "", "", "/", "", ""},
      {"http://h:65535/", "h", 65535, "", "", "/", "", ""},
      {"http://h:8080x/", "h", 8080, "", "", "/", "", ""},
      {"http://h/a:b", "h", 80, "", "", "/a:b", "", ""},
      {"http:// H\t/x", "h", 80, "", "", "/x", "", ""},
      {"http://h%41&z=1/x", "h", 80, "", "", "/x", "", ""},
      {"http://\xC4X\xE4/", "\xE4x\xE4", 80, "", "", "/", "", ""},
      {"http://h/ p ", "h", 80, "", "", "/ p", "", ""},
      {"", "", 80, "", "", "", "", ""},
  };
  for (const UrlCase& c : cases) {
    ParsedUrl url;
    ASSERT_TRUE(ParseUrl(c.url, url)) << c.url;
    EXPECT_EQ(url.host.view(), std::string_view(c.host)) << c.url;
    EXPECT_EQ(url.port, c.port) << c.url;
    EXPECT_EQ(url.user.view(), std::string_view(c.user)) << c.url;
    EXPECT_EQ(url.password.view(), std::string_view(c.password)) << c.url;
    EXPECT_EQ(url.path.view(), std::string_view(c.path)) << c.url;
    EXPECT_EQ(url.query.view(), std::string_view(c.query)) << c.url;
    EXPECT_EQ(url.fragment.view(), std::string_view(c.fragment)) << c.url;
  }
}

TEST(ParseUrlTest, MissingUrlFails) {
  ParsedUrl url;
  EXPECT_FALSE(ParseUrl(nullptr, url));
}

// The "@" must stand before the first "/", "?" or "#" to count as user information.
TEST(ParseUrlTest, AtSignOutsideTheAuthorityNeverMovesTheHost) {
  const struct {
    const char* url;
    const char* host;
    const char* user;
  } cases[] = {
      {"http://good.example#@evil.example/", "good.example", ""},
      {"http://good.example?@evil.example/", "good.example", ""},
      {"http://good.example/@evil.example/", "good.example", ""},
      {"http://u:p@good.example", "good.example", "u"},
      {"http://u:p@good.example?x=1", "good.example", "u"},
      {"http://u:p@h:8080/x", "h", "u"},
  };
  for (const auto& c : cases) {
    ParsedUrl url;
    ASSERT_TRUE(ParseUrl(c.url, url)) << c.url;
    EXPECT_EQ(url.host.view(), std::string_view(c.host)) << c.url;
    EXPECT_EQ(url.user.view(), std::string_view(c.user)) << c.url;
  }
}

TEST(ParseUrlTest, PortAbove65535Fails) {
  for (const char* text :
       {"http://h:65536/", "http://h:99999999999999999999/", "https://h:70000"}) {
    ParsedUrl url;
    EXPECT_FALSE(ParseUrl(text, url)) << text;
  }
}

TEST(ParseUrlTest, GarbageNeverCrashes) {
  std::mt19937 rng(20240607);
  const std::string alphabet = "htps:/\\@?#:%&= .\r\n\t0123456789abcH\x80\xC3\xFF";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    size_t length = rng() % 40;
    for (size_t i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
    if (rng() % 3 == 0) text = "http://" + text;
    ParsedUrl url;
    if (ParseUrl(text.c_str(), url)) {
      EXPECT_GE(url.port, 0);
      EXPECT_LE(url.port, kMaxPort);
      EXPECT_LE(url.host.length(), text.size());
    }
  }
}

// Sets an environment variable for the lifetime of the guard.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    if (old) {
      had_ = true;
      old_ = old;
    }
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// The proxy variables of one case; the upper-case spellings are unset.
class ProxyEnvironment {
 public:
  ProxyEnvironment(const char* httpProxy, const char* httpsProxy)
      : http_("http_proxy", httpProxy),
        https_("https_proxy", httpsProxy),
        upperHttp_("HTTP_PROXY", nullptr),
        upperHttps_("HTTPS_PROXY", nullptr) {}

 private:
  EnvGuard http_, https_, upperHttp_, upperHttps_;
};

TEST(ChooseProxyTest, PicksTheSettingsTheSystemProxyOrNone) {
  const struct {
    const char* name;
    const char* httpProxy;   // null: unset
    const char* httpsProxy;  // null: unset
    const char* proxyDomain;
    int proxyPort;
    bool useSystemProxy;
    const char* url;
    const char* host;  // "" for a direct connection
    int port;
  } cases[] = {
      {"an explicit proxy domain wins", "http://sys.proxy:8888/", nullptr, "proxy.local", 3128,
       true, "http://h/", "proxy.local", 3128},
      {"no proxy means direct with the proxy port", "http://sys.proxy:8888/", nullptr, "", 81,
       false, "http://h/", "", 81},
      {"an unreadable system proxy port gives 80", "sys.proxy:abc", nullptr, "", 80, true,
       "http://h/", "sys.proxy", 80},
      {"https URLs use the https variable", "plain.proxy:1", "secure.proxy:2", "", 80, true,
       "HTTPS://h/", "secure.proxy", 2},
      {"an unset system proxy means direct", nullptr, nullptr, "", 80, true, "http://h/", "", 80},
  };
  for (const auto& c : cases) {
    ProxyEnvironment environment(c.httpProxy, c.httpsProxy);
    HttpControl settings;
    settings.proxyDomain.assign(c.proxyDomain);
    settings.proxyPort = c.proxyPort;
    settings.useSystemProxy = c.useSystemProxy;
    StringBuffer host("stale");
    int port = 0;
    LogNull log;
    ChooseProxy(settings, c.url, ProxyPurpose::Request, host, port, log);
    EXPECT_EQ(host.view(), std::string_view(c.host)) << c.name;
    EXPECT_EQ(port, c.port) << c.name;
  }
}

// The system proxy is logged for a request, not when the pool looks its proxy up (for
// "http://" whatever the URL).
TEST(ChooseProxyTest, SystemProxyIsLoggedForRequestsOnly) {
  ProxyEnvironment environment("http://sys.proxy:8888/", nullptr);
  HttpControl settings;
  settings.useSystemProxy = true;
  for (ProxyPurpose purpose : {ProxyPurpose::Request, ProxyPurpose::PoolLookup}) {
    const bool request = purpose == ProxyPurpose::Request;
    StringBuffer host;
    int port = 0;
    Logger log;
    ChooseProxy(settings, request ? "http://h/" : "http://", purpose, host, port, log);
    EXPECT_EQ(host.view(), "sys.proxy");
    EXPECT_EQ(port, 8888);
    std::string text = LogText(log);
    if (request) {
      EXPECT_NE(text.find("IE_Proxy: sys.proxy:8888"), std::string::npos) << text;
      EXPECT_NE(text.find("IE_ProxyEnabled: 1"), std::string::npos) << text;
    } else {
      EXPECT_EQ(text.find("IE_Proxy"), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace quillon
