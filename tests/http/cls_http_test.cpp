#include "http/cls_http.h"

#include <gtest/gtest.h>

#include <string>

#include "base/progress.h"
#include "tests/http/driver_test_util.h"
#include "tests/support/http_fixture_server.h"

namespace quillon {
namespace {

using testing::HttpFixtureServer;
using testing::ShortTimeouts;

class ClsHttpTest : public ::testing::Test {
 protected:
  std::string quick(const std::string& path, bool* ok = nullptr, ProgressEvent* event = nullptr) {
    StringBuffer text;
    bool done = http_.QuickGetStr(server_.Url(path).c_str(), text, event);
    if (ok != nullptr) *ok = done;
    return std::string(text.view());
  }
  std::string logText() {
    StringBuffer text;
    http_.lastErrorText(text);
    return std::string(text.view());
  }

  ShortTimeouts timeouts_;
  HttpFixtureServer server_;
  ClsHttp http_;
};

TEST_F(ClsHttpTest, ConstructionSwitchesCacheWritingOff) {
  EXPECT_FALSE(http_.settings().cacheRules.writeToCache);
  EXPECT_TRUE(http_.settings().cacheRules.readFromCache);
  EXPECT_TRUE(http_.settings().followRedirects);
}

TEST_F(ClsHttpTest, QuickGetStrSucceedsBelow400Only) {
  struct Case {
    int status;
    bool ok;
  } cases[] = {{200, true}, {203, true}, {299, true}, {400, false}, {404, false}, {500, false}};
  for (const Case& c : cases) {
    server_.ClearResponses();
    server_.AddResponse("/p", HttpFixtureServer::Response(c.status, "Any", "body"));
    bool ok = false;
    std::string text = quick("/p", &ok);
    EXPECT_EQ(ok, c.ok) << c.status;
    EXPECT_EQ(text, "body") << c.status;
  }
}

TEST_F(ClsHttpTest, TextIsDecodedByTheContentTypeCharset) {
  server_.AddResponse("/p", HttpFixtureServer::Response(
                                200, "OK", "caf\xE9 \x80",
                                "Content-Type: text/plain; charset=windows-1252\r\n"));
  EXPECT_EQ(quick("/p"), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST_F(ClsHttpTest, HtmlWithoutCharsetInTheHeadUsesItsMetaElement) {
  const std::string page =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-7\">"
      "</head><body>\xE1</body></html>";
  server_.AddResponse("/p", HttpFixtureServer::Response(200, "OK", page,
                                                        "Content-Type: text/html\r\n"));
  std::string text = quick("/p");
  EXPECT_NE(text.find("<body>\xCE\xB1</body>"), std::string::npos) << text;
}

TEST_F(ClsHttpTest, EightBitTextWithoutAnyCharsetIsWindows1252) {
  server_.AddResponse("/p", HttpFixtureServer::Response(200, "OK", "\x93q\x94"));
  EXPECT_EQ(quick("/p"), "\xE2\x80\x9Cq\xE2\x80\x9D");
}

TEST_F(ClsHttpTest, EachOperationResetsTheLogAndOpensItsContext) {
  server_.AddResponse("/one", HttpFixtureServer::Response(200, "OK", "1"));
  server_.AddResponse("/two", HttpFixtureServer::Response(200, "OK", "2"));
  quick("/one");
  quick("/two");
  std::string log = logText();
  EXPECT_NE(log.find("QuickGetStr"), std::string::npos);
  EXPECT_EQ(log.find("/one"), std::string::npos);
  EXPECT_NE(log.find("/two"), std::string::npos);
  EXPECT_NE(log.find("Not auto-adding cookies."), std::string::npos);
}

TEST_F(ClsHttpTest, ModifiedDateTextReadsTheLastResponse) {
  server_.AddResponse("/dated", HttpFixtureServer::Response(
                                    200, "OK", "x",
                                    "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"));
  server_.AddResponse("/plain", HttpFixtureServer::Response(200, "OK", "x"));
  StringBuffer date;
  quick("/dated");
  EXPECT_TRUE(http_.ModifiedDateText(date));
  EXPECT_EQ(std::string(date.view()), "1994-11-06");
  quick("/plain");
  EXPECT_FALSE(http_.ModifiedDateText(date));
  EXPECT_TRUE(date.isEmpty());
}

// Records the percentages it hears.
class PercentRecorder : public ProgressEvent {
 public:
  void PercentUpdate(int percent, bool&) override { last = percent; }
  int last = -1;
};

TEST_F(ClsHttpTest, ProgressCallbackHearsTheBodyToTheEnd) {
  server_.AddResponse("/p", HttpFixtureServer::Response(200, "OK", std::string(50000, 'x')));
  PercentRecorder recorder;
  bool ok = false;
  EXPECT_EQ(quick("/p", &ok, &recorder).size(), 50000u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(recorder.last, 100);
}

TEST_F(ClsHttpTest, UnparsableUrlFailsWithItsLogLines) {
  StringBuffer text;
  EXPECT_FALSE(http_.QuickGetStr(nullptr, text));
  EXPECT_NE(logText().find("Failed to parse URL"), std::string::npos);
}

}  // namespace
}  // namespace quillon
