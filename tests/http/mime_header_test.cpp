#include "http/mime_header.h"

#include <gtest/gtest.h>

#include <string>

#include "base/logger.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

std::string RequestLines(const MimeHeader& header) {
  StringBuffer out;
  LogNull log;
  EXPECT_TRUE(header.appendRequestLines(out, log));
  return std::string(out.view());
}

TEST(MimeHeaderTest, SettingReplacesEveryFieldOfThatNameAtTheEnd) {
  MimeHeader header;
  header.addField("X-A", "1");
  header.addField("X-B", "2");
  header.addField("x-a", "3");
  ASSERT_TRUE(header.setField("X-A", "4"));
  ASSERT_EQ(header.count(), 2);
  EXPECT_EQ(header.fieldAt(0)->name.view(), "X-B");
  EXPECT_EQ(header.fieldAt(1)->value.view(), "4");
}

TEST(MimeHeaderTest, SettingABlankValueDeletesTheField) {
  MimeHeader header;
  header.setField("X-A", "1");
  header.setField("x-a", " \t ");
  EXPECT_EQ(header.count(), 0);
  EXPECT_FALSE(header.hasField("X-A"));
}

TEST(MimeHeaderTest, NamesCompareWithoutCase) {
  MimeHeader header;
  header.addField("Content-Type", "text/html");
  header.addField("content-type", "text/plain");
  StringBuffer value;
  ASSERT_TRUE(header.getFieldValue("CONTENT-TYPE", value));
  EXPECT_EQ(value.view(), "text/html");
}

TEST(MimeHeaderTest, SettingAValueDecodesEncodedWords) {
  const struct {
    const char* set;
    const char* stored;
  } cases[] = {
      {"=?utf-8?B?R3LDvMOfZQ==?=", "Gr\xC3\xBC\xC3\x9F" "e"},
      {"=?utf-8?Q?Gr=C3=BC=C3=9Fe?=", "Gr\xC3\xBC\xC3\x9F" "e"},
      {"=?iso-8859-1?Q?caf=E9?= bar", "caf\xC3\xA9 bar"},
      {"=?utf-8?Q?a?=\r\n\t=?utf-8?Q?b?=", "ab"},
      {"plain = text?", "plain = text?"},
  };
  for (const auto& c : cases) {
    MimeHeader header;
    ASSERT_TRUE(header.setField("X-Name", c.set));
    EXPECT_EQ(header.fieldAt(0)->value.view(), std::string_view(c.stored)) << c.set;
  }
}

TEST(MimeHeaderTest, SettingAValueRemovesFolds) {
  const struct {
    const char* set;
    const char* stored;
  } cases[] = {
      {"a=1;\r\n\tb=2", "a=1;b=2"},
      {"a=1;\r\n b=2", "a=1;b=2"},
      {"one\r\n\ttwo\r\n three", "onetwothree"},
      {"no\rfold", "no\rfold"},
  };
  for (const auto& c : cases) {
    MimeHeader header;
    ASSERT_TRUE(header.setField("X-Name", c.set));
    EXPECT_EQ(header.fieldAt(0)->value.view(), std::string_view(c.stored));
  }
}

TEST(MimeHeaderTest, UserAgentAcceptAndAcceptCharsetAreNoFold) {
  for (const char* name : {"User-Agent", "accept", "ACCEPT-CHARSET"}) {
    MimeHeader header;
    header.setField(name, "x");
    EXPECT_TRUE(header.fieldAt(0)->noFold) << name;
  }
  MimeHeader header;
  header.setField("Accept-Language", "x");
  EXPECT_FALSE(header.fieldAt(0)->noFold);
}

TEST(MimeHeaderTest, LongSemicolonListsFoldOnceTheLinePassesTwentyCharacters) {
  MimeHeader header;
  header.setField("X-List", "alpha=1; beta=2; gamma=3; delta=4");
  EXPECT_EQ(RequestLines(header), "X-List: alpha=1; beta=2;\r\n\t gamma=3; delta=4\r\n");
}

TEST(MimeHeaderTest, SemicolonsInsideQuotesDoNotFold) {
  MimeHeader header;
  header.setField("X-Q", "a=\"1;2;3;4;5;6;7;8;9\"; b=2");
  EXPECT_EQ(RequestLines(header), "X-Q: a=\"1;2;3;4;5;6;7;8;9\";\r\n\t b=2\r\n");
}

TEST(MimeHeaderTest, ShortValuesStayOnOneLine) {
  MimeHeader header;
  header.setField("X", "a=1; b=2; c=3");
  EXPECT_EQ(RequestLines(header), "X: a=1; b=2; c=3\r\n");
}

TEST(MimeHeaderTest, LongAddressListsAlsoFoldAfterCommas) {
  MimeHeader header;
  header.setField("To-List", "Ann <ann@example.com>, Bob <bob@example.com>, Cyd <cyd@example.com>");
  EXPECT_EQ(RequestLines(header),
            "To-List: Ann <ann@example.com>,\r\n\t Bob <bob@example.com>,\r\n\t Cyd "
            "<cyd@example.com>\r\n");
}

TEST(MimeHeaderTest, CommasFoldOnlyInLongValuesHoldingAnAtSign) {
  MimeHeader header;
  // Longer than 60 characters, but no "@".
  header.setField("X-Words",
                  "alpha beta, gamma delta, epsilon zeta, eta theta, iota kappa, lambda");
  // Holds "@", but 60 characters or fewer.
  header.setField("X-Short", "Ann <ann@example.com>, Bob <bob@example.com>, Cy <c@x.io>");
  EXPECT_EQ(RequestLines(header),
            "X-Words: alpha beta, gamma delta, epsilon zeta, eta theta, iota kappa, lambda\r\n"
            "X-Short: Ann <ann@example.com>, Bob <bob@example.com>, Cy <c@x.io>\r\n");
}

TEST(MimeHeaderTest, NoFoldFieldsAreWrittenAsTheyStand) {
  MimeHeader header;
  header.setField("User-Agent", "Agent/1.0 (one; two; three; four; five)");
  EXPECT_EQ(RequestLines(header), "User-Agent: Agent/1.0 (one; two; three; four; five)\r\n");
}

TEST(MimeHeaderTest, NonAsciiValuesBecomeUtf8EncodedWords) {
  MimeHeader header;
  header.setField("X-Name", "Gr\xC3\xBC\xC3\x9F" "e");
  std::string line = RequestLines(header);
  EXPECT_EQ(line, "X-Name: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=\r\n");

  // What is written decodes back to the value that was set.
  MimeHeader back;
  back.setField("X-Name", line.substr(8, line.size() - 10));
  EXPECT_EQ(back.fieldAt(0)->value.view(), "Gr\xC3\xBC\xC3\x9F" "e");
}

TEST(MimeHeaderTest, LongNonAsciiValuesBecomeSeveralFoldedWords) {
  MimeHeader header;
  std::string value;
  for (int i = 0; i < 20; ++i) value += "\xC3\xA9t\xC3\xA9 ";
  header.setField("X-Long", value);
  std::string line = RequestLines(header);
  EXPECT_NE(line.find("?=\r\n\t=?utf-8?Q?"), std::string::npos) << line;
  MimeHeader back;
  back.setField("X-Long", line.substr(8, line.size() - 10));
  EXPECT_EQ(back.fieldAt(0)->value.view(), value);
}

TEST(MimeHeaderTest, ValueWithBareLineBreakIsRefusedForARequest) {
  for (const char* value : {"a\r\nHost: evil", "a\nb", "a\rb"}) {
    MimeHeader header;
    header.setField("X-Evil", value);
    StringBuffer out;
    Logger log;
    EXPECT_FALSE(header.appendRequestLines(out, log)) << value;
    const std::string text = testing::LogText(log);
    EXPECT_NE(text.find("Header field holds a CR or LF character."), std::string::npos) << text;
  }
}

TEST(MimeHeaderTest, EncodedLineBreaksTravelInsideEncodedWords) {
  MimeHeader header;
  header.setField("X-Name", "caf\xC3\xA9\r\nHost: evil");
  std::string line = RequestLines(header);
  EXPECT_EQ(line.find("\r\nHost"), std::string::npos) << line;
}

TEST(MimeHeaderTest, RenderLinesWritesValuesAsStored) {
  MimeHeader header;
  header.addField("A", "1; very long value; that is not folded here");
  header.addField("B", "");
  StringBuffer out;
  ASSERT_TRUE(header.renderLines(out));
  EXPECT_EQ(out.view(), "A: 1; very long value; that is not folded here\r\nB: \r\n");
}

TEST(MimeHeaderTest, CopyFromDuplicatesFieldsAndCodePage) {
  MimeHeader source;
  source.addField("User-Agent", "x");
  source.addField("B", "2");
  source.setCodePage(1251);
  MimeHeader copy;
  copy.addField("Old", "gone");
  ASSERT_TRUE(copy.copyFrom(source));
  ASSERT_EQ(copy.count(), 2);
  EXPECT_TRUE(copy.fieldAt(0)->noFold);
  EXPECT_EQ(copy.fieldAt(1)->value.view(), "2");
  EXPECT_EQ(copy.codePage(), 1251);
}

}  // namespace
}  // namespace quillon
