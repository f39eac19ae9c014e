// Fetches every page of tests/data/site-http from a real nginx with gzip on, so text answers
// arrive chunked and gzip-encoded. expected/ holds the UTF-8 text of the pages that are not
// UTF-8 themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "http/cls_http.h"
#include "tests/http/driver_test_util.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::NginxOptions;
using testing::NginxServer;
using testing::ReadFileBytes;

std::string SiteRoot() {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/site-http";
}

// Paths of the served pages relative to the root, expected/ left out.
std::vector<std::string> Pages(const std::string& root) {
  std::vector<std::string> pages;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), root).generic_string();
    if (relative.rfind("expected/", 0) == 0) continue;
    pages.push_back(relative);
  }
  return pages;
}

class NginxEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    NginxOptions options;
    options.extraServerConfig = "    location /cp1252/ { charset windows-1252; }\n";
    server_ = new NginxServer(SiteRoot(), options);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->isRunning()) GTEST_SKIP() << server_->error();
  }

  std::string url(const std::string& page) const { return server_->baseUrl() + "/" + page; }

  static NginxServer* server_;
  testing::ShortTimeouts timeouts_{2000, 5000};
  ClsHttp http_;
};

NginxServer* NginxEndToEndTest::server_ = nullptr;

TEST_F(NginxEndToEndTest, QuickGetStrReturnsEveryPagesText) {
  const std::string root = SiteRoot();
  std::vector<std::string> pages = Pages(root);
  ASSERT_GE(pages.size(), 7u);
  for (const std::string& page : pages) {
    std::string expected = ReadFileBytes(root + "/expected/" + page);
    if (expected.empty()) expected = ReadFileBytes(root + "/" + page);
    StringBuffer text;
    ASSERT_TRUE(http_.QuickGetStr(url(page).c_str(), text)) << page;
    EXPECT_EQ(std::string(text.view()), expected) << page;
  }
}

TEST_F(NginxEndToEndTest, TextAnswersArriveChunkedAndGzipEncoded) {
  for (const char* page : {"notes.txt", "large.html", "about.html"}) {
    StringBuffer text;
    ASSERT_TRUE(http_.QuickGetStr(url(page).c_str(), text)) << page;
    StringBuffer coding;
    StringBuffer transfer;
    http_.result().header.getField("Content-Encoding", coding);
    http_.result().header.getField("Transfer-Encoding", transfer);
    EXPECT_TRUE(coding.equalsIgnoreCase("gzip")) << page;
    EXPECT_TRUE(transfer.equalsIgnoreCase("chunked")) << page;
  }
}

TEST_F(NginxEndToEndTest, ServerDeclaredWindows1252IsConverted) {
  StringBuffer text;
  ASSERT_TRUE(http_.QuickGetStr(url("cp1252/declared.html").c_str(), text));
  StringBuffer charset;
  CharsetOfResponse(http_.result(), charset);
  EXPECT_TRUE(charset.equalsIgnoreCase("windows-1252"));
  EXPECT_NE(std::string(text.view()).find("\xE2\x80\x9C" "curly" "\xE2\x80\x9D"),
            std::string::npos);
}

TEST_F(NginxEndToEndTest, MissingPageFailsWith404) {
  StringBuffer text;
  EXPECT_FALSE(http_.QuickGetStr(url("no-such-page.html").c_str(), text));
  EXPECT_EQ(http_.result().header.statusCode, 404);
}

TEST_F(NginxEndToEndTest, FolderWithoutSlashIsRedirectedToIt) {
  StringBuffer text;
  // nginx answers /cp1252 with a 301 to /cp1252/, which has no index: 403 there.
  EXPECT_FALSE(http_.QuickGetStr(url("cp1252").c_str(), text));
  EXPECT_TRUE(http_.result().redirected);
  EXPECT_TRUE(http_.result().finalUrl.endsWith("/cp1252/"));
  EXPECT_EQ(http_.result().header.statusCode, 403);
}

TEST_F(NginxEndToEndTest, ManyFetchesThroughOneClientKeepWorking) {
  const std::string expected = ReadFileBytes(SiteRoot() + "/about.html");
  for (int i = 0; i < 50; ++i) {
    StringBuffer text;
    ASSERT_TRUE(http_.QuickGetStr(url("about.html").c_str(), text)) << i;
    ASSERT_EQ(std::string(text.view()), expected) << i;
  }
  EXPECT_EQ(http_.pool().count(), 1);
}

}  // namespace
}  // namespace quillon
