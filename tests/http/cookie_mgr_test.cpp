#include "http/cookie_mgr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/logger.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

// A client's cookie settings in memory or in a fresh folder, and what it sends and stores.
class CookieStoreTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    folder_ = quillon::testing::FreshDir(GetParam() ? "cookies_memory" : "cookies_files");
    settings.cookieDir.assign(GetParam() ? "memory" : folder_.c_str());
  }
  // The response of host with the given Set-Cookie lines is stored.
  void Receive(const char* host, const std::string& fields) {
    HttpResult result;
    ASSERT_TRUE(result.header.parse("HTTP/1.1 200 OK\r\n" + fields + "\r\n"));
    EXPECT_TRUE(SaveResponseCookies(settings, result, host, log));
  }
  std::string Sent(const char* host, const char* path, bool https = false) {
    StringBuffer head;
    EXPECT_TRUE(AddCookieHeader(settings, host, path, https, head, log));
    return std::string(head.view());
  }
  std::string Document(const char* name) {
    return quillon::testing::ReadFileBytes(folder_ + "/" + name);
  }

  HttpControl settings;
  Logger log;
  std::string folder_;
};

TEST_P(CookieStoreTest, CookiesComeBackOnLaterRequestsAsStoredAndUpdatedInPlace) {
  Receive("shop.acme.test", "Set-Cookie: a=1; b=2; path=/x\r\nSet-Cookie: sid=s 1\r\n");
  Receive("shop.acme.test", "Set-Cookie: sid=two; secure\r\n");
  EXPECT_EQ(Sent("news.acme.test", "/x/page"), "Cookie: a=1; b=2\r\n");
  EXPECT_EQ(Sent("news.acme.test", "/"), "");
  EXPECT_EQ(Sent("acme.test", "/", true), "Cookie: sid=two\r\n");
  EXPECT_EQ(Sent("other.test", "/x"), "");
  if (GetParam()) {
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
    return;
  }
  // One document per base domain, one element per domain and path, updated in place.
  std::string xml = Document("acme_test.xml");
  EXPECT_NE(xml.find("<cookie key=\".acme.test,/x\" v=\"0\">\r\n        <a>1</a>\r\n"
                     "        <b>2</b>\r\n    </cookie>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<cookie key=\".acme.test,\" v=\"0\" secure=\"yes\">\r\n"
                     "        <sid>two</sid>\r\n    </cookie>"),
            std::string::npos)
      << xml;
}

TEST_P(CookieStoreTest, SwitchedOffOrWithoutAJarNothingIsSent) {
  settings.autoAddCookies = false;
  EXPECT_EQ(Sent("h.test", "/"), "");
  settings.autoAddCookies = true;
  EXPECT_EQ(Sent("h.test", "/"), "");
  const std::string text = testing::LogText(log);
  EXPECT_NE(text.find("Not auto-adding cookies."), std::string::npos) << text;
  EXPECT_NE(text.find("No cookie jar found."), std::string::npos) << text;
}

TEST_P(CookieStoreTest, ADomainFullOfPathsStopsGrowing) {
  for (int i = 0; i <= kMaxCookiesPerDocument; ++i) {
    Receive("h.test", "Set-Cookie: n=v; path=/p" + std::to_string(i) + "/\r\n");
  }
  EXPECT_EQ(Sent("h.test", "/p0/"), "Cookie: n=v\r\n");
  EXPECT_EQ(Sent("h.test", ("/p" + std::to_string(kMaxCookiesPerDocument) + "/").c_str()), "");
}

TEST_P(CookieStoreTest, NamesThatAreNoXmlTagsAndLineBreaksInAFileStayHarmless) {
  Receive("h.test", "Set-Cookie: 1P_JAR=j; a b=c\r\n");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: 1P_JAR=j; a_b=c\r\n");
  if (GetParam()) return;
  quillon::testing::WriteFileBytes(
      folder_ + "/h_test.xml",
      "<cookies><cookie key=\"h.test,/\" v=\"0\"><x>1\r\nX-Injected: 1</x><y>2</y>"
      "</cookie></cookies>");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: y=2\r\n");
}

INSTANTIATE_TEST_SUITE_P(MemoryAndFiles, CookieStoreTest, ::testing::Bool());

}  // namespace
}  // namespace quillon
