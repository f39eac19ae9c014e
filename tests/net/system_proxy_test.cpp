#include "net/system_proxy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/logger.h"
#include "base/string_buffer.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::LogText;

class SystemProxyTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearAll(); }
  void TearDown() override { ClearAll(); }
  static void ClearAll() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"}) {
      unsetenv(name);
    }
  }
  std::string Read(const char* scheme, bool& enabled, bool& ok) {
    StringBuffer proxy;
    ok = ReadSystemProxy(scheme, proxy, enabled, log_);
    return std::string(proxy.view());
  }
  Logger log_;
};

TEST_F(SystemProxyTest, NoVariableFailsWithTheProxyServerLine) {
  bool enabled = true;
  bool ok = true;
  EXPECT_EQ(Read("http", enabled, ok), "");
  EXPECT_FALSE(ok);
  EXPECT_FALSE(enabled);
  EXPECT_NE(LogText(log_).find("Failed to read registry: CURRENT_USER/Software/Microsoft/Windows/"
                               "CurrentVersion/Internet Settings/ProxyServer"),
            std::string::npos);
}

TEST_F(SystemProxyTest, UrlValueYieldsHostAndPort) {
  setenv("http_proxy", "http://proxy.example:3128/", 1);
  bool enabled = false;
  bool ok = false;
  EXPECT_EQ(Read("http", enabled, ok), "proxy.example:3128");
  EXPECT_TRUE(ok);
  EXPECT_TRUE(enabled);
}

TEST_F(SystemProxyTest, UpperCaseVariableIsRead) {
  setenv("HTTPS_PROXY", "user:secret@10.0.0.1:8080", 1);
  bool enabled = false;
  bool ok = false;
  EXPECT_EQ(Read("https", enabled, ok), "10.0.0.1:8080");
  EXPECT_TRUE(ok);
}

TEST_F(SystemProxyTest, LowerCaseVariableWins) {
  setenv("http_proxy", "lower:1", 1);
  setenv("HTTP_PROXY", "upper:2", 1);
  bool enabled = false;
  bool ok = false;
  EXPECT_EQ(Read("http", enabled, ok), "lower:1");
}

TEST_F(SystemProxyTest, EachSchemeReadsItsOwnVariable) {
  setenv("http_proxy", "plain:80", 1);
  bool enabled = true;
  bool ok = true;
  EXPECT_EQ(Read("https", enabled, ok), "");
  EXPECT_FALSE(ok);
}

TEST_F(SystemProxyTest, EmptyVariableIsPresentButNotEnabled) {
  setenv("http_proxy", "", 1);
  bool enabled = true;
  bool ok = false;
  EXPECT_EQ(Read("http", enabled, ok), "");
  EXPECT_TRUE(ok);
  EXPECT_FALSE(enabled);
}

TEST_F(SystemProxyTest, PerSchemeListYieldsTheSchemesEntryOnly) {
  struct Case {
    const char* value;
    const char* scheme;
    const char* expected;
  } cases[] = {
      {"http=a.example:80;https=b.example:443;ftp=c:21", "https", "b.example:443"},
      {"http=a.example:80;https=b.example:443", "http", "a.example:80"},
      {"https=b.example:443", "http", ""},
      {"ftp=c:21;http=a:8", "http", "a:8"},
  };
  for (const Case& c : cases) {
    std::string variable = std::string(c.scheme) + "_proxy";
    setenv(variable.c_str(), c.value, 1);
    bool enabled = false;
    bool ok = false;
    EXPECT_EQ(Read(c.scheme, enabled, ok), c.expected) << c.value << " for " << c.scheme;
    EXPECT_TRUE(ok);
    unsetenv(variable.c_str());
  }
}

TEST_F(SystemProxyTest, ValueWithoutEqualsIsWholeForEitherScheme) {
  setenv("http_proxy", "p.example:3128", 1);
  setenv("https_proxy", "p.example:3128", 1);
  bool enabled = false;
  bool ok = false;
  EXPECT_EQ(Read("http", enabled, ok), "p.example:3128");
  EXPECT_EQ(Read("https", enabled, ok), "p.example:3128");
}

}  // namespace
}  // namespace quillon
