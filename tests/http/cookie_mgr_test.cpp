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
  // Puts a document in the store as an earlier run (or another program) left it.
  void Plant(const char* name, const std::string& xml) {
    if (GetParam()) {
      settings.memoryCookies.put(name, new StringBuffer(xml.c_str()));
    } else {
      quillon::testing::WriteFileBytes(folder_ + "/" + name, xml);
    }
  }

  HttpControl settings;
  Logger log;
  std::string folder_;
};

TEST_P(CookieStoreTest, CookiesComeBackOnLaterRequestsAsStoredAndUpdatedInPlace) {
  Receive("shop.acme.test", "Set-Cookie: a=1; b=2; path=/x\r\nSet-Cookie: sid=s 1\r\n");
  Receive("shop.acme.test", "Set-Cookie: sid=two; secure\r\nSet-Cookie: plain=p\r\n");
  EXPECT_EQ(Sent("news.acme.test", "/x/page"), "Cookie: a=1; b=2; plain=p\r\n");
  EXPECT_EQ(Sent("news.acme.test", "/"), "Cookie: plain=p\r\n");
  EXPECT_EQ(Sent("acme.test", "/", true), "Cookie: sid=two; plain=p\r\n");
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
  EXPECT_NE(xml.find("<cookie key=\".acme.test,\" v=\"0\">\r\n"
                     "        <sid secure=\"yes\">two</sid>\r\n        <plain>p</plain>\r\n"
                     "    </cookie>"),
            std::string::npos)
      << xml;
}

TEST_P(CookieStoreTest, CookiesReachOnlyTheHostsTheirSiteHolds) {
  Receive("127.0.0.1", "Set-Cookie: a=1\r\nSet-Cookie: planted=1; Domain=127.5.0.1\r\n");
  Receive("127.5.0.1", "Set-Cookie: b=2\r\nSet-Cookie: planted=2; Domain=127.0.0.1\r\n");
  Receive("10.1.0.1", "Set-Cookie: c=3\r\n");
  Receive("alice.herokuapp.com",
          "Set-Cookie: alice=1\r\nSet-Cookie: all=1; Domain=herokuapp.com\r\n");
  Receive("bob.herokuapp.com", "Set-Cookie: bob=1\r\n");
  Receive("www.example.com",
          "Set-Cookie: shared=1\r\nSet-Cookie: foreign=1; Domain=other.test\r\n");
  const struct {
    const char* host;
    const char* sent;
  } cases[] = {
      {"127.0.0.1", "Cookie: a=1\r\n"},
      {"127.5.0.1", "Cookie: b=2\r\n"},
      {"192.168.0.1", ""},
      {"alice.herokuapp.com", "Cookie: alice=1\r\n"},
      {"bob.herokuapp.com", "Cookie: bob=1\r\n"},
      {"shop.example.com", "Cookie: shared=1\r\n"},
      {"other.test", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Sent(c.host, "/"), c.sent) << c.host;
  const std::string text = testing::LogText(log);
  size_t refused = 0;
  for (size_t at = 0; (at = text.find("Cookie refused:", at)) != std::string::npos; ++at) ++refused;
  EXPECT_EQ(refused, 4u) << text;
}

TEST_P(CookieStoreTest, AnOlderDocumentWithSecureOnTheElementKeepsItsCookiesSecure) {
  Plant("h_test.xml",
        "<cookies><cookie key=\"h.test,/\" v=\"0\" secure=\"yes\"><s>1</s></cookie></cookies>");
  EXPECT_EQ(Sent("h.test", "/"), "");
  EXPECT_EQ(Sent("h.test", "/", true), "Cookie: s=1\r\n");
  // A plain cookie saved beside them stays plain; the old ones stay secure.
  Receive("h.test", "Set-Cookie: p=2; path=/; Domain=h.test\r\n");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: p=2\r\n");
  EXPECT_EQ(Sent("h.test", "/", true), "Cookie: s=1; p=2\r\n");
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
