#include "http/cookie_mgr.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

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
  // The response of host with the given Set-Cookie lines is stored; false when that was
  // reported as failed.
  bool Receive(const char* host, const std::string& fields) {
    HttpResult result;
    EXPECT_TRUE(result.header.parse("HTTP/1.1 200 OK\r\n" + fields + "\r\n"));
    EXPECT_TRUE(SaveResponseCookies(settings, result, host, log));
    return !result.warnings.has(FetchWarningKind::kCookieNotSaved);
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

TEST_P(CookieStoreTest, AnOlderDocumentLoadsKeepsItsSecureCookiesAndLosesItsRepeats) {
  // Older builds marked the element secure, tagged every name and added an element per update
  // of a name they had renamed.
  Plant("h_test.xml",
        "<cookies><cookie key=\"h.test,/\" v=\"0\" secure=\"yes\"><s>1</s></cookie>"
        "<cookie key=\"h.test,\" v=\"0\"><1P_JAR>j</1P_JAR><x1>a</x1><x1>b</x1></cookie>"
        "</cookies>");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: 1P_JAR=j; x1=b\r\n");
  EXPECT_EQ(Sent("h.test", "/", true), "Cookie: s=1; 1P_JAR=j; x1=b\r\n");
  // A plain cookie saved beside them stays plain; the old ones stay secure.
  Receive("h.test", "Set-Cookie: p=2; path=/; Domain=h.test\r\n");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: p=2; 1P_JAR=j; x1=b\r\n");
  EXPECT_EQ(Sent("h.test", "/", true), "Cookie: s=1; p=2; 1P_JAR=j; x1=b\r\n");
  if (GetParam()) return;
  const std::string xml = Document("h_test.xml");
  EXPECT_EQ(xml.find("<x1>"), xml.rfind("<x1>")) << xml;
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

TEST_P(CookieStoreTest, PastTheBoundTheOldestGoAndEveryStoredCookieIsSent) {
  Receive("h.test", "Set-Cookie: old=1; path=/\r\n");
  // One head past the bound: the oldest name goes, and the names the jar splits over several
  // cookies (Cookie::kMaxPairs) all come back.
  std::string fields, sent;
  for (int i = 0; i < kMaxCookiesPerDomain; ++i) {
    const std::string pair = "n" + std::to_string(i) + "=" + std::to_string(i);
    fields += "Set-Cookie: " + pair + "; path=/p" + std::to_string(i % 2) + "\r\n";
    if (i % 2 == 0) sent += (sent.empty() ? "" : "; ") + pair;
  }
  Receive("h.test", fields);
  EXPECT_EQ(Sent("h.test", "/p0/"), "Cookie: " + sent + "\r\n");
  const std::string text = testing::LogText(log);
  EXPECT_NE(text.find("Too many cookies for this domain; the oldest were dropped."),
            std::string::npos);
  EXPECT_NE(text.find("CookiesDropped: 1"), std::string::npos) << text.substr(text.size() - 300);
}

TEST_P(CookieStoreTest, ANameOutsideXmlNamesIsStoredOnceAndSentAsItCame) {
  Receive("h.test", "Set-Cookie: 1P_JAR=j; a b=c\r\n");
  // An unchanged cookie costs no write; the last response changes it.
  for (int i = 1; i <= 5000; ++i)
    Receive("h.test", i < 5000 ? "Set-Cookie: x[1]=1\r\n" : "Set-Cookie: x[1]=2\r\n");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: 1P_JAR=j; a b=c; x[1]=2\r\n");
  if (GetParam()) return;
  const std::string xml = Document("h_test.xml");
  EXPECT_NE(xml.find("<pair name=\"x[1]\">2</pair>"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("x[1]"), xml.rfind("x[1]")) << xml;
}

TEST_P(CookieStoreTest, ADocumentFromOtherHandsNeverHarmsTheRequestNorIsOverwritten) {
  Plant("h_test.xml",
        "<cookies><cookie key=\"h.test,/\" v=\"0\"><x>1\r\nX-Injected: 1</x><y>2</y>"
        "</cookie></cookies>");
  EXPECT_EQ(Sent("h.test", "/"), "Cookie: y=2\r\n");
  Plant("h_test.xml", "no markup");
  EXPECT_FALSE(Receive("h.test", "Set-Cookie: a=1\r\n"));
  EXPECT_NE(testing::LogText(log).find("cookies not saved"), std::string::npos);
  if (GetParam()) return;
  EXPECT_EQ(Document("h_test.xml"), "no markup");
}

INSTANTIATE_TEST_SUITE_P(MemoryAndFiles, CookieStoreTest, ::testing::Bool());

// Stores the cookies "<prefix><i>=i" for i below kCookiesPerRun in folder as a run of its own
// would, kCookiesPerResponse to a response; the number of responses not stored.
constexpr int kCookiesPerRun = 300;
constexpr int kCookiesPerResponse = 5;
int StoreRun(const std::string& folder, const std::string& prefix) {
  HttpControl settings;
  settings.cookieDir.assign(folder.c_str());
  LogNull log;
  int failures = 0;
  for (int i = 0; i < kCookiesPerRun;) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int end = i + kCookiesPerResponse; i < end; ++i) {
      head += "Set-Cookie: " + prefix + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    }
    HttpResult result;
    if (!result.header.parse(head + "\r\n") ||
        !SaveResponseCookies(settings, result, "h.test", log) ||
        result.warnings.has(FetchWarningKind::kCookieNotSaved)) {
      ++failures;
    }
  }
  return failures;
}

TEST(CookieFolderTest, TwoRunsOnOneFolderAtOnceKeepEveryCookie) {
  const std::string folder = quillon::testing::FreshDir("cookies_shared");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(StoreRun(folder, "child") == 0 ? 0 : 1);
  EXPECT_EQ(StoreRun(folder, "parent"), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  HttpControl settings;
  settings.cookieDir.assign(folder.c_str());
  Logger log;
  StringBuffer head;
  ASSERT_TRUE(AddCookieHeader(settings, "h.test", "/", false, head, log));
  const std::string line = std::string(head.view().substr(0, head.view().find('\r'))) + ";";
  for (const char* prefix : {"child", "parent"}) {
    for (int i = 0; i < kCookiesPerRun; ++i) {
      const std::string pair = prefix + std::to_string(i) + "=" + std::to_string(i);
      EXPECT_NE(line.find(" " + pair + ";"), std::string::npos) << pair;
    }
  }
}

}  // namespace
}  // namespace quillon
