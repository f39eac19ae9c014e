#include "http/http_result.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

std::string Decode(const char* head, const std::string& body) {
  HttpResult result;
  result.header.parse(head);
  DataBuffer bytes(body.data(), static_cast<uint32_t>(body.size()));
  StringBuffer text("prefix:");
  EXPECT_TRUE(DecodeTextBody(result, bytes, text));
  return std::string(text.view());
}

TEST(TextBodyTest, CharsetRules) {
  const struct {
    const char* head;
    std::string body;
    std::string text;
  } cases[] = {
      // The Content-Type charset decides.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n", "caf\xE9",
       "caf\xC3\xA9"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=\"ISO-8859-1\"\r\n\r\n", "caf\xE9",
       "caf\xC3\xA9"},
      // UTF-8 and US-ASCII bodies are taken unchanged, even when ill-formed.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n", "a\xFF\xC3\xA9",
       "a\xFF\xC3\xA9"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n", "a\xE9", "a\xE9"},
      // An 8-bit text/html body without a charset reads its meta element.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">caf\xC3\xA9",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">caf\xC3\xA9"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "<meta charset=\"utf-8\">\xE2\x82\xAC",
       "<meta charset=\"utf-8\">\xE2\x82\xAC"},
      // Otherwise windows-1252.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "\x80 caf\xE9",
       "\xE2\x82\xAC caf\xC3\xA9"},
      {"HTTP/1.1 200 OK\r\n\r\n", "\x80", "\xE2\x82\xAC"},
      // The meta element counts only for text/html.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", "<meta charset=\"utf-8\">\xC3\xA9",
       "<meta charset=\"utf-8\">\xC3\x83\xC2\xA9"},
      // Plain ASCII is taken as it stands only where the charset reads it as ASCII.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-16le\r\n\r\n",
       std::string("a\0b\0", 4), "ab"},
      // A charset nobody knows keeps the raw bytes.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=x-unknown\r\n\r\n", "caf\xE9",
       "caf\xE9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decode(c.head, c.body), "prefix:" + c.text) << c.head << c.body;
  }
}

TEST(TextBodyTest, CharsetOfResponseIsTheContentTypeAttribute) {
  HttpResult result;
  result.header.parse("HTTP/1.1 200 OK\r\nContent-Type: text/html; Charset=KOI8-R\r\n\r\n");
  StringBuffer charset;
  ASSERT_TRUE(CharsetOfResponse(result, charset));
  EXPECT_EQ(charset.view(), "KOI8-R");
  HttpResult none;
  StringBuffer empty;
  ASSERT_TRUE(CharsetOfResponse(none, empty));
  EXPECT_TRUE(empty.isEmpty());
}

TEST(HttpResultTest, ResetClearsTheAttemptButKeepsWhatWasSent) {
  HttpResult result;
  result.redirected = true;
  result.fromCache = true;
  result.needsReconnect = true;
  result.cacheState = 1;
  result.finalUrl.assign("http://h/next");
  result.socketFlags.timedOut = true;
  result.header.parse("HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\n");
  result.verb.assign("GET");
  result.lastRequest.assign("GET / HTTP/1.1\r\n");
  result.reset();
  EXPECT_FALSE(result.redirected || result.fromCache || result.needsReconnect);
  EXPECT_FALSE(result.socketFlags.timedOut);
  EXPECT_EQ(result.cacheState, 0);
  EXPECT_TRUE(result.finalUrl.isEmpty());
  EXPECT_EQ(result.header.statusCode, 0);
  EXPECT_EQ(result.header.fields.count(), 0);
  EXPECT_EQ(result.verb.view(), "GET");
}

}  // namespace
}  // namespace quillon
