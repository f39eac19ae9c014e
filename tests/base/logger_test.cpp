#include "base/logger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "base/cls_base.h"
#include "base/memory.h"
#include "base/string_buffer.h"
#include "base/xstring.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::LogText;

std::string Xml(Logger& log) {
  StringBuffer out;
  log.renderXml(out);
  return std::string(out.view());
}

std::string Html(Logger& log) {
  StringBuffer out;
  log.renderHtml(out);
  return std::string(out.view());
}

// The log of a typical failed crawl step.
void FillCrawlExample(Logger& log) {
  log.reset();
  log.openContext("CrawlNext");
  log.addTag("DllDate", "d");
  log.addError("No unspidered URLs remaining.");
}

// ---- The three renderings

TEST(LoggerRenderTest, TextFormIndentsTwoSpacesPerLevel) {
  Logger log;
  FillCrawlExample(log);
  EXPECT_EQ(LogText(log),
            "QuillonLog:\r\n"
            "  CrawlNext:\r\n"
            "    DllDate: d\r\n"
            "    No unspidered URLs remaining.\r\n");
}

TEST(LoggerRenderTest, XmlFormHasOneElementPerLineWithoutIndentation) {
  Logger log;
  FillCrawlExample(log);
  EXPECT_EQ(Xml(log),
            "<QuillonLog>\r\n"
            "<CrawlNext>\r\n"
            "<DllDate>d</DllDate>\r\n"
            "<error>No unspidered URLs remaining.</error>\r\n"
            "</CrawlNext>\r\n"
            "</QuillonLog>\r\n");
}

TEST(LoggerRenderTest, EveryEntryKindInEachForm) {
  Logger log;
  log.openContext("op");
  log.addInfo("fine");
  log.addLine("plain");
  log.addError("1 > 0 & \"q\" &amp;");
  log.addTag("a<b", "<v>");
  EXPECT_EQ(Xml(log),
            "<QuillonLog>\r\n<op>\r\n<info>fine</info>\r\nplain\r\n"
            "<error><![CDATA[1 > 0 & \"q\" &amp;]]></error>\r\n<a<b><![CDATA[<v>]]></a<b>\r\n"
            "</op>\r\n</QuillonLog>\r\n");
  // HTML escapes values (never names) and does not indent.
  EXPECT_EQ(Html(log),
            "QuillonLog:<blockquote>\r\nop:<blockquote>\r\nfine<br>\r\nplain<br>\r\n"
            "1 &gt; 0 &amp; &quot;q&quot; &amp;amp;<br>\r\na<b: &lt;v&gt;<br>\r\n"
            "</blockquote>\r\n</blockquote>\r\n");
  EXPECT_EQ(LogText(log),
            "QuillonLog:\r\n  op:\r\n    fine\r\n    plain\r\n    1 > 0 & \"q\" &amp;\r\n"
            "    a<b: <v>\r\n");
}

TEST(LoggerRenderTest, XmlWrapsValuesNeedingCdata) {
  struct Case {
    const char* value;
    const char* rendered;
  };
  const Case cases[] = {
      {"plain text", "plain text"},
      {"quote \" and apostrophe '", "quote \" and apostrophe '"},
      {"a<b", "<![CDATA[a<b]]>"},
      {"a>b", "<![CDATA[a>b]]>"},
      {"a&b", "<![CDATA[a&b]]>"},
      {"a\tb", "<![CDATA[a\tb]]>"},
      {"line1\nline2", "<![CDATA[line1\nline2]]>"},
      // Already wrapped: written as it is.
      {"<![CDATA[x<y]]>", "<![CDATA[x<y]]>"},
      {"pre <![CDATA[x]]> post", "pre <![CDATA[x]]> post"},
      // A section end alone cannot close the wrapper early: it is split across two sections.
      {"a]]>b", "<![CDATA[a]]]]><![CDATA[>b]]>"},
      {"]]>]]>", "<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>"},
      {"<![CDATA[ only", "<![CDATA[<![CDATA[ only]]>"},
  };
  for (const Case& c : cases) {
    Logger log;
    log.addTag("v", c.value);
    log.addError(c.value);
    log.addLine(c.value);
    std::string expected = std::string("<QuillonLog>\r\n<v>") + c.rendered + "</v>\r\n<error>" +
                           c.rendered + "</error>\r\n" + c.rendered + "\r\n</QuillonLog>\r\n";
    EXPECT_EQ(Xml(log), expected) << "value: " << c.value;
  }
}

TEST(LoggerRenderTest, ErrorReportTextHasCrlfLineEndsOnly) {
  Logger log;
  log.openContext("op");
  log.addError("first\r\nsecond");
  log.addTag("t", "a\nb");
  log.addInfo("lone\rcr");
  StringBuffer out("stale");
  ErrorReportText(log, out);
  EXPECT_EQ(out.view(),
            "QuillonLog:\r\n  op:\r\n    first\r\nsecond\r\n    t: a\r\nb\r\n    lonecr\r\n");
}

// ---- Contexts

TEST(LoggerContextTest, EmptyContextVanishesWhenClosed) {
  Logger log;
  log.openContext("op");
  log.openContext("inner");
  log.closeContext();
  log.addInfo("after");
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  op:\r\n    after\r\n");
}

TEST(LoggerContextTest, EmptyTopLevelContextStays) {
  Logger log;
  log.openContext("op");
  log.closeContext();
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  op:\r\n");
}

TEST(LoggerContextTest, ContextWithEntriesStaysAndLaterEntriesGoToParent) {
  Logger log;
  log.openContext("op");
  log.openContext("inner");
  log.addError("e");
  log.closeContext();
  log.addError("f");
  log.closeContext();
  log.addLine("top");
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  op:\r\n    inner:\r\n      e\r\n    f\r\n  top\r\n");
}

TEST(LoggerContextTest, ClosingWithOnlyTheRootKeepsTheRoot) {
  Logger log;
  EXPECT_TRUE(log.closeContext());
  EXPECT_TRUE(log.closeContext());
  log.addInfo("still here");
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  still here\r\n");
}

TEST(LoggerContextTest, ResetDropsEverythingAndOpenContexts) {
  Logger log;
  log.openContext("a");
  log.openContext("b");
  log.addError("x");
  EXPECT_TRUE(log.reset());
  log.addInfo("fresh");
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  fresh\r\n");
}

TEST(LoggerContextTest, ContextThatCouldNotBeCreatedStillPairsWithItsClose) {
  Logger log;
  log.openContext("op");
  log.openContext(nullptr);
  log.closeContext();  // closes the unnamed one, not "op"
  SetAllocationFailureForTests(true);
  log.openContext("lost");
  log.addError("lost too");
  SetAllocationFailureForTests(false);
  log.openContext("nested");
  log.addInfo("kept in op");
  log.closeContext();  // closes "nested"
  log.closeContext();  // closes "lost", not "op"
  log.addInfo("in op");
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  op:\r\n    kept in op\r\n    in op\r\n");
}

// ---- Data items and lines

TEST(LoggerTagTest, NameIsTrimmedAndInnerSpacesBecomeUnderscores) {
  struct Case {
    const char* name;
    const char* stored;  // null: dropped
  };
  const Case cases[] = {
      {" max url len ", "max_url_len"},
      {"\t\r\nname\n", "name"},
      {"a  b", "a__b"},
      {"a\tb", "a\tb"},
      {"plain", "plain"},
      {"   ", nullptr},
      {"", nullptr},
      {" \t\r\n", nullptr},
  };
  for (const Case& c : cases) {
    Logger log;
    bool added = log.addTag(c.name, "v");
    if (c.stored) {
      EXPECT_TRUE(added) << "name: '" << c.name << "'";
      EXPECT_EQ(LogText(log), std::string("QuillonLog:\r\n  ") + c.stored + ": v\r\n")
          << "name: '" << c.name << "'";
    } else {
      EXPECT_FALSE(added) << "name: '" << c.name << "'";
      EXPECT_EQ(LogText(log), "QuillonLog:\r\n") << "name: '" << c.name << "'";
    }
  }
}

TEST(LoggerTagTest, NullNameOrValueIsDropped) {
  Logger log;
  EXPECT_TRUE(log.addError(nullptr));  // ignored
  EXPECT_FALSE(log.addTag(nullptr, "v"));
  EXPECT_FALSE(log.addTag("n", nullptr));
  EXPECT_TRUE(log.addTag("n", ""));
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  n: \r\n");
}

TEST(LoggerTagTest, NumericFormsAndNormalisation) {
  Logger log;
  log.addTagInt(" status code ", -404);
  log.addTagInt64("big", INT64_MIN);
  log.addTagHex("flags", 0xBEEFu);
  log.addTagHex("zero", 0);
  EXPECT_FALSE(log.addTagInt(" ", 1));
  EXPECT_FALSE(log.addTickTag(""));
  EXPECT_EQ(LogText(log),
            "QuillonLog:\r\n  status_code: -404\r\n  big: -9223372036854775808\r\n"
            "  flags: 0xbeef\r\n  zero: 0x0\r\n");
}

TEST(LoggerTagTest, WindowsErrorLogsTrimmedSystemText) {
  Logger log;
  log.addWindowsError(0);
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n");
  log.addWindowsError(ENOENT);
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  WindowsError: No such file or directory\r\n");
}

TEST(LoggerTagTest, QuotedPrintableTagEncodesTheText) {
  Logger log;
  log.addTagQuotedPrintable("ansiFilename", "a=b\xE9.txt");
  log.addTagQuotedPrintable("bytes", "x\0y", 3);
  EXPECT_FALSE(log.addTagQuotedPrintable("none", nullptr));
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  ansiFilename: a=3Db=E9.txt\r\n  bytes: x=00y\r\n");
}

TEST(LoggerTagTest, WideTagLogsUtf8Form) {
  Logger log;
  XString text;
  text.setFromUtf16(u"caf\u00e9");
  log.addTagWide("name", text);
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  name: caf\xC3\xA9\r\n");
}

TEST(LoggerTagTest, FailedAllocationDropsTheEntryOnly) {
  Logger log;
  log.addInfo("before");
  SetAllocationFailureForTests(true);
  EXPECT_FALSE(log.addError("lost"));
  EXPECT_FALSE(log.addTag("lost", "value"));
  SetAllocationFailureForTests(false);
  log.addInfo("after");
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n  before\r\n  after\r\n");
}

// ---- Saving and ownership

TEST(LoggerSaveTest, SaveXmlReplacesTheFileWithTheXmlForm) {
  Logger log;
  FillCrawlExample(log);
  std::string path = testing::FreshDir("save") + "log.xml";
  testing::WriteFileBytes(path, std::string(1000, 'z'));
  ASSERT_TRUE(log.saveXml(path.c_str()));
  EXPECT_EQ(testing::ReadFileBytes(path), Xml(log));
  EXPECT_FALSE(log.saveXml((testing::ScratchDir() + "no/such/folder/log.xml").c_str()));
  EXPECT_FALSE(log.saveXml(nullptr));
}

TEST(ClsBaseTest, OwnsALogThatRendersAsErrorReportText) {
  ClsBase object;
  object.log().reset();
  object.log().openContext("QuickGetStr");
  object.log().addError("a\nb");
  StringBuffer text;
  object.lastErrorText(text);
  EXPECT_EQ(text.view(), "QuillonLog:\r\n  QuickGetStr:\r\n    a\r\nb\r\n");
  object.lastErrorXml(text);
  EXPECT_EQ(text.view(),
            "<QuillonLog>\r\n<QuickGetStr>\r\n<error><![CDATA[a\nb]]></error>\r\n"
            "</QuickGetStr>\r\n</QuillonLog>\r\n");
}

// ---- Threads

TEST(LoggerThreadTest, SeveralThreadsLogIntoOneLogger) {
  constexpr int kThreads = 4;
  constexpr int kEntries = 500;
  Logger log;
  log.openContext("op");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEntries; ++i) {
        log.addTagInt("thread", t);
        log.addError("line");
        if (i % 50 == 0) {
          StringBuffer out;
          log.renderXml(out);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::string text = LogText(log);
  size_t lines = 0;
  for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2) ++lines;
  EXPECT_EQ(lines, 2u + 2u * kThreads * kEntries);
}

}  // namespace
}  // namespace quillon
