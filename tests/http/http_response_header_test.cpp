#include "http/http_response_header.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/charset/text_conversion.h"

namespace quillon {
namespace {

std::string Field(const HttpResponseHeader& header, const char* name) {
  StringBuffer out;
  header.getField(name, out);
  return std::string(out.view());
}

TEST(ResponseHeaderTest, StatusLineGrammar) {
  const struct {
    const char* head;
    int status;
    const char* reason;
    int fields;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", 200, "OK", 1},
      {"HTTP/1.0 404 Not Found  \r\nA: 1\r\n\r\n", 404, "Not Found", 1},
      {"HTTP/1.1 302 Moved Temporarily\r\n\r\n", 302, "Moved Temporarily", 0},
      // Without a reason phrase the code stands but no field is read.
      {"HTTP/1.1 200\r\nContent-Length: 5\r\n\r\n", 200, "", 0},
      {"HTTP/1.1 200OK\r\nA: 1\r\n\r\n", 200, "", 0},
      // Without a CR the line has no end, so no fields either.
      {"HTTP/1.1 200 OK\nA: 1\n\n", 200, "", 0},
      {"http/1.1 200 OK\r\nA: 1\r\n\r\n", 0, "", 0},
      {"HTTP/1.1 OK 200\r\nA: 1\r\n\r\n", 0, "", 0},
      {"HTTP/1.1\r\nA: 1\r\n\r\n", 0, "", 0},
      {"HTTP/1.1 -200 OK\r\n\r\n", 0, "", 0},
      {"HTTP/1.1 99999999999 Big\r\n\r\n", 0, "", 0},
      {"HTTP/1.1  100 Continue\r\n\r\n", 100, "Continue", 0},
      {"<html><body>hi</body></html>", 0, "", 0},
      {"", 0, "", 0},
  };
  for (const auto& c : cases) {
    HttpResponseHeader header;
    header.parse(c.head);
    EXPECT_EQ(header.statusCode, c.status) << c.head;
    EXPECT_EQ(header.reasonText.view(), std::string_view(c.reason)) << c.head;
    EXPECT_EQ(header.fields.count(), c.fields) << c.head;
  }
}

TEST(ResponseHeaderTest, StatusLineIsTheTextUpToTheFirstCr) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nA: 1\r\n\r\n");
  EXPECT_EQ(header.statusLine.view(), "HTTP/1.1 200 OK");
}

TEST(ResponseHeaderTest, ContentLengthGrammar) {
  const struct {
    const char* line;
    bool present;
    uint64_t length;
    bool valid;
  } cases[] = {
      {"Content-Length: 5", true, 5, true},
      {"Content-Length:5", true, 5, true},
      {"content-LENGTH: \t 1234", true, 1234, true},
      {"Content-Length: 0", true, 0, true},
      {"Content-Length: abc", true, 0, true},
      {"Content-Length: 12abc", true, 12, true},
      {"Content-Length: +7", true, 7, true},
      {"Content-Length: 18446744073709551615", true, 18446744073709551615ULL, true},
      {"Content-Length: 18446744073709551616", true, 0, false},
      {"Content-Length: 99999999999999999999999", true, 0, false},
      {"Content-Length: -1", true, 0, false},
      {"X-Content-Length: 5", false, 0, true},
      {"Content-Type: text/html", false, 0, true},
  };
  for (const auto& c : cases) {
    HttpResponseHeader header;
    std::string head = std::string("HTTP/1.1 200 OK\r\n") + c.line + "\r\n\r\n";
    EXPECT_EQ(header.parse(head), c.valid) << c.line;
    EXPECT_EQ(header.hasContentLength, c.present) << c.line;
    EXPECT_EQ(header.contentLength, c.length) << c.line;
    EXPECT_EQ(header.contentLengthInvalid, !c.valid) << c.line;
  }
}

TEST(ResponseHeaderTest, FieldsKeepArrivalOrderAndRepeats) {
  HttpResponseHeader header;
  header.parse(
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nServer: x\r\nSet-Cookie: b=2\r\nEmpty:\r\n\r\n"
      "Body: not a field");
  ASSERT_EQ(header.fields.count(), 4);
  EXPECT_EQ(header.fields.fieldAt(0)->value.view(), "a=1");
  EXPECT_EQ(header.fields.fieldAt(1)->name.view(), "Server");
  EXPECT_EQ(header.fields.fieldAt(2)->value.view(), "b=2");
  EXPECT_EQ(header.fields.fieldAt(3)->value.view(), "");
  EXPECT_EQ(Field(header, "set-cookie"), "a=1");
}

TEST(ResponseHeaderTest, OnlyTheLastContentTypeSurvivesWhereItStood) {
  HttpResponseHeader header;
  header.parse(
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nA: 1\r\ncontent-type: text/html\r\n"
      "B: 2\r\n\r\n");
  ASSERT_EQ(header.fields.count(), 3);
  EXPECT_EQ(header.fields.fieldAt(0)->name.view(), "A");
  EXPECT_EQ(header.fields.fieldAt(1)->value.view(), "text/html");
  EXPECT_EQ(header.fields.fieldAt(2)->name.view(), "B");

  HttpResponseHeader emptyLast;
  emptyLast.parse("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Type:  \r\n\r\n");
  EXPECT_FALSE(emptyLast.fields.hasField("content-type"));
}

TEST(ResponseHeaderTest, FromLinesAreSkipped) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nFrom me: x\r\n\tcontinued\r\nFrom: a@b\r\nA: 1\r\n\r\n");
  ASSERT_EQ(header.fields.count(), 2);
  EXPECT_EQ(header.fields.fieldAt(0)->name.view(), "From");
  EXPECT_EQ(header.fields.fieldAt(1)->name.view(), "A");
}

TEST(ResponseHeaderTest, ContinuationLinesJoinThePreviousField) {
  const struct {
    const char* lines;
    const char* value;
  } cases[] = {
      {"X: one\r\n two", "onetwo"},
      {"X: one\r\n  two", "one two"},
      {"X: one\r\n\t\ttwo", "one\ttwo"},
      {"X: =?utf-8?Q?a?=\r\n   =?utf-8?Q?b?=", "ab"},
      {"X: one\r\nNoColon\r\n two", "one"},
  };
  for (const auto& c : cases) {
    HttpResponseHeader header;
    header.parse(std::string("HTTP/1.1 200 OK\r\n") + c.lines + "\r\n\r\n");
    EXPECT_EQ(Field(header, "X"), c.value) << c.lines;
  }
}

TEST(ResponseHeaderTest, BlockEndsAtTheFirstBlankLineInAnyOfItsForms) {
  for (const char* end : {"\r\n\r\n", "\n\r\n", "\r\n\r"}) {
    HttpResponseHeader header;
    // The later forms count only when the head holds no CR LF CR LF.
    header.parse(std::string("HTTP/1.1 200 OK\r\nA: 1") + end + "B: 2");
    EXPECT_TRUE(header.fields.hasField("A"));
    EXPECT_FALSE(header.fields.hasField("B")) << "terminator size " << strlen(end);
  }
}

TEST(ResponseHeaderTest, AtMostOneHundredThousandLinesAreRead) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 100005; ++i) head += "X: " + std::to_string(i) + "\r\n";
  head += "\r\n";
  HttpResponseHeader header;
  header.parse(head);
  EXPECT_EQ(header.fields.count(), 100000);
}

TEST(ResponseHeaderTest, ManyContentTypesStayLinear) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 50000; ++i) head += "Content-Type: t/" + std::to_string(i) + "\r\n";
  HttpResponseHeader header;
  header.parse(head + "\r\n");
  ASSERT_EQ(header.fields.count(), 1);
  EXPECT_EQ(Field(header, "content-type"), "t/49999");
}

TEST(ResponseHeaderTest, EightBitValuesConvertFromTheCharsetNamedInTheHead) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=windows-1252\r\n"
               "X-Name: caf\xE9 \x80\r\n\r\n");
  EXPECT_EQ(header.fields.codePage(), 1252);
  EXPECT_EQ(Field(header, "X-Name"), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(ResponseHeaderTest, EncodedWordCharsetDecidesForTheWholeHead) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nX-A: =?iso-8859-1?Q?caf=E9?=\r\nX-B: caf\xE9\r\n\r\n");
  EXPECT_EQ(header.fields.codePage(), 28591);
  EXPECT_EQ(Field(header, "X-A"), "caf\xC3\xA9");
  EXPECT_EQ(Field(header, "X-B"), "caf\xC3\xA9");
}

TEST(ResponseHeaderTest, Utf8LookingBytesAreKeptAsUtf8) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nX-Name: caf\xC3\xA9\r\n\r\n");
  EXPECT_EQ(header.fields.codePage(), 65001);
  EXPECT_EQ(Field(header, "X-Name"), "caf\xC3\xA9");
}

TEST(ResponseHeaderTest, UnnamedEightBitBytesFallBackToLatin1) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nX-Name: caf\xE9\r\n\r\n");
  EXPECT_EQ(header.fields.codePage(), 28591);
  EXPECT_EQ(Field(header, "X-Name"), "caf\xC3\xA9");
}

TEST(ResponseHeaderTest, SevenBitIso2022JpHeadIsConvertedWhole) {
  const std::string value = "\x1b$B$3$s\x1b(B";
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nX-Name: " + value + "\r\n\r\n");
  DataBuffer expected;
  if (ConvertCodePage(50222, 65001, value.data(), static_cast<uint32_t>(value.size()),
                      expected)) {
    EXPECT_EQ(Field(header, "X-Name"), expected.view());
    EXPECT_EQ(header.fields.codePage(), 65001);
  } else {
    EXPECT_EQ(Field(header, "X-Name"), value);  // converter without ISO-2022-JP: kept
  }
}

TEST(ResponseHeaderTest, AttributeGrammar) {
  const struct {
    const char* value;
    const char* attr;
    bool found;
    const char* result;
  } cases[] = {
      {"text/html; charset=utf-8", "charset", true, "utf-8"},
      {"text/html;charset=ISO-8859-1", "CHARSET", true, "ISO-8859-1"},
      {"text/html; charset=\"windows-1251\"", "charset", true, "windows-1251"},
      {"text/html; charset = koi8-r ", "charset", true, "koi8-r"},
      {"a; name=\"x;charset=bad\"; charset=good", "charset", true, "good"},
      {"a; x=\"q\\\";charset=bad\"; charset=ok", "charset", true, "ok"},
      {"text/html", "charset", false, ""},
      {"text/html; charsets=x", "charset", false, ""},
      {"text/html; charset", "charset", false, ""},
      {"a\\", "charset", false, ""},
  };
  for (const auto& c : cases) {
    HttpResponseHeader header;
    header.fields.addField("Content-Type", c.value);
    StringBuffer out;
    EXPECT_EQ(header.getAttribute("content-type", c.attr, out), c.found) << c.value;
    EXPECT_EQ(out.view(), std::string_view(c.result)) << c.value;
  }
}

TEST(ResponseHeaderTest, FieldContainsIgnoresCase) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 200 OK\r\nContent-Type: Text/HTML; charset=x\r\n\r\n");
  EXPECT_TRUE(header.fieldContains("content-type", "text/html"));
  EXPECT_FALSE(header.fieldContains("content-type", "text/plain"));
  EXPECT_FALSE(header.fieldContains("missing", "x"));
}

TEST(ResponseHeaderTest, BareHtmlDetection) {
  const struct {
    std::string received;
    bool html;
  } cases[] = {
      {"<!--- comment -->", true},
      {"<!-- comment -->", false},
      {"\r\n\r\n<HTML><body>", true},
      {"<!DOCTYPE html>\n<Html lang=en>", true},
      {"garbage garbage", false},
      {std::string(500, ' ') + "<html>", false},
      {std::string(495, ' ') + "<html>", true},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HttpResponseHeader::LooksLikeBareHtml(c.received), c.html) << c.received;
  }
}

TEST(ResponseHeaderTest, MarkBareHtmlIsAPlain200) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 404 Nope\r\nContent-Length: 9\r\nA: 1\r\n\r\n");
  header.markBareHtml();
  EXPECT_EQ(header.statusCode, 200);
  EXPECT_TRUE(header.reasonText.isEmpty());
  EXPECT_EQ(header.fields.count(), 0);
  EXPECT_FALSE(header.hasContentLength);
  EXPECT_EQ(header.contentLength, 0u);
}

TEST(ResponseHeaderTest, CopyAndRender) {
  HttpResponseHeader header;
  header.parse("HTTP/1.1 201 Created\r\nContent-Length: 3\r\nA: 1\r\n\r\n");
  HttpResponseHeader copy;
  ASSERT_TRUE(copy.copyFrom(header));
  EXPECT_EQ(copy.statusCode, 201);
  EXPECT_EQ(copy.contentLength, 3u);
  StringBuffer lines;
  ASSERT_TRUE(copy.renderFields(lines));
  EXPECT_EQ(lines.view(), "Content-Length: 3\r\nA: 1\r\n");
  copy.reset();
  EXPECT_EQ(copy.statusCode, 0);
  EXPECT_EQ(copy.fields.count(), 0);
  EXPECT_FALSE(copy.hasContentLength);
}

TEST(ResponseHeaderTest, GarbageNeverCrashes) {
  std::mt19937 rng(7041);
  const std::string pieces[] = {"HTTP/1.1 ", "200", " OK", "\r\n", "\n", "\r", ":", " ", "\t",
                                "From ", "Content-Type", "Content-Length:", "=?", "?Q?", "?B?",
                                "?=", "charset=", "windows-1251", "\x1b$B", "\xC3", "\xE9",
                                "\"", ";", "\\", "99999999999999999999", "-"};
  for (int round = 0; round < 5000; ++round) {
    std::string head;
    size_t count = rng() % 60;
    for (size_t i = 0; i < count; ++i) head += pieces[rng() % std::size(pieces)];
    HttpResponseHeader header;
    header.parse(head);
    StringBuffer out;
    header.getAttribute("content-type", "charset", out);
    header.renderFields(out);
    EXPECT_LE(header.fields.count(), static_cast<int>(head.size()));
  }
}

}  // namespace
}  // namespace quillon
