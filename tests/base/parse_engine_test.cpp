#include "base/parse_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/memory.h"

namespace quillon {
namespace {

using namespace std::string_literals;

// Offset of FindNoCase's answer, -1 for none.
long FindAt(std::string_view text, std::string_view pattern) {
  const char* at = FindNoCase(text, pattern);
  return at ? static_cast<long>(at - text.data()) : -1;
}

// The definition, written the slow way.
long ReferenceFind(const std::string& text, const std::string& pattern) {
  auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  if (pattern.empty()) return -1;
  for (size_t i = 0; i + pattern.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < pattern.size() && fold(text[i + j]) == fold(pattern[j])) ++j;
    if (j == pattern.size()) return static_cast<long>(i);
  }
  return -1;
}

// --- FindNoCase ---

TEST(FindNoCaseTest, FoldsAsciiLettersOnly) {
  struct Case {
    std::string text;
    std::string pattern;
    long expected;
  } cases[] = {
      {"<HTML><TITLE>x", "<title>", 6},
      {"abc", "ABC", 0},
      {"xxMeTaxx", "meta", 2},
      {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", -1},  // UTF-8 É and é differ
      {"\xC9t\xC9", "\xE9T\xE9", -1},                  // Latin-1 É and é differ
      {"[x]", "{X}", -1},                              // 0x5B/0x7B differ only in bit 5
      {"@`", "`@", -1},
      {"^_", "~\x7F", -1},
      {"a\0B"s, "A\0b"s, 0},                           // NUL bytes are data
      {"abc", "", -1},                                 // an empty pattern is never found
      {"", "a", -1},
      {"ab", "abc", -1},
      {"xxxx<meta", "<META", 4},                       // at the very end
      {"</title></TITLE>", "</Title>", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindAt(c.text, c.pattern), c.expected) << c.text << " / " << c.pattern;
  }
}

TEST(FindNoCaseTest, MissingTextOrPatternGivesNone) {
  EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
  EXPECT_EQ(FindNoCase("a", nullptr), nullptr);
  const char* text = "say HELLO";
  EXPECT_EQ(FindNoCase(text, "hello"), text + 4);
}

// Matches at every offset and near the ends of the 16-byte blocks, against the definition.
TEST(FindNoCaseTest, AgreesWithTheDefinitionOnGeneratedTexts) {
  std::mt19937 random(20240607);
  const std::string alphabet = "aAbB<>[{@` \x80\xE9\xC9";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 70, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    std::string pattern(1 + random() % 5, ' ');
    for (char& c : pattern) c = alphabet[random() % alphabet.size()];
    if (round % 3 == 0 && text.size() > pattern.size()) {  // plant it, in another case
      size_t at = random() % (text.size() - pattern.size() + 1);
      for (size_t j = 0; j < pattern.size(); ++j) {
        char c = pattern[j];
        text[at + j] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
      }
    }
    ASSERT_EQ(FindAt(text, pattern), ReferenceFind(text, pattern))
        << "text [" << text << "] pattern [" << pattern << "]";
  }
}

TEST(FindNoCaseTest, FindsTheFirstOfManyCandidatesInALongText) {
  std::string text(100000, '<');
  text += "<metA";
  EXPECT_EQ(FindAt(text, "<META"), 100000);
  EXPECT_EQ(FindAt(text, "<meta>"), -1);
}

// --- seeking ---

TEST(ParseEngineSeekTest, NotFoundLeavesThePositionWhereItWas) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("one two three"));
  engine.setPosition(4);
  EXPECT_FALSE(engine.seek("one"));
  EXPECT_EQ(engine.position(), 4u);
  EXPECT_FALSE(engine.seekPast("four"));
  EXPECT_EQ(engine.position(), 4u);
  EXPECT_FALSE(engine.seekPastExact("TWO"));
  EXPECT_EQ(engine.position(), 4u);
  StringBuffer out("kept");
  EXPECT_FALSE(engine.copyThrough("zzz", out));
  EXPECT_STREQ(out.getString(), "kept");
  EXPECT_EQ(engine.position(), 4u);
}

TEST(ParseEngineSeekTest, SeekStopsAtTheMatchAndSeekPastAfterIt) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("<p>One <B>two</B>"));
  EXPECT_TRUE(engine.seek("<b>"));
  EXPECT_EQ(engine.position(), 7u);
  EXPECT_TRUE(engine.seek("<B>"));  // already there: stays
  EXPECT_EQ(engine.position(), 7u);
  EXPECT_TRUE(engine.seekPast("<b>"));
  EXPECT_EQ(engine.position(), 10u);
  EXPECT_TRUE(engine.seekPastExact("</B>"));
  EXPECT_TRUE(engine.atEnd());
}

TEST(ParseEngineSeekTest, SeekPastExactComparesLetterCase) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("Title TITLE title"));
  EXPECT_TRUE(engine.seekPastExact("title"));
  EXPECT_EQ(engine.position(), 17u);
  engine.setPosition(0);
  EXPECT_TRUE(engine.seekPast("title"));
  EXPECT_EQ(engine.position(), 5u);
  EXPECT_FALSE(engine.seekPastExact(""));
}

TEST(ParseEngineSeekTest, CopyThroughAPatternAtThePositionCopiesExactlyThePattern) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("</TITLE>rest"));
  StringBuffer out;
  EXPECT_TRUE(engine.copyThrough("</title>", out));
  EXPECT_STREQ(out.getString(), "</TITLE>");
  EXPECT_EQ(engine.position(), 8u);
}

TEST(ParseEngineSeekTest, CopyThroughAppendsEverythingUpToTheMatch) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("<title>A &amp; B</Title> tail"));
  ASSERT_TRUE(engine.seekPast("<title>"));
  StringBuffer out("[");
  EXPECT_TRUE(engine.copyThrough("</title>", out));
  EXPECT_STREQ(out.getString(), "[A &amp; B</Title>");
}

// --- moving ---

TEST(ParseEngineMoveTest, SkipPassesARunOfTheGivenBytes) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load(" \t\r\n x"));
  engine.skip(' ', '\t', '\r', '\n');
  EXPECT_EQ(engine.current(), 'x');
  engine.skip('x', 'x', 'x', 'x');
  EXPECT_TRUE(engine.atEnd());
  engine.skip('x', 'x', 'x', 'x');  // at the end: nothing to do
  EXPECT_TRUE(engine.atEnd());
}

TEST(ParseEngineMoveTest, SkipToStopsOnTheByteOrAtTheEnd) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("ab<cd<"));
  engine.skipTo('<');
  EXPECT_EQ(engine.position(), 2u);
  engine.skipTo('<');  // on it already
  EXPECT_EQ(engine.position(), 2u);
  engine.skipTo('#');
  EXPECT_TRUE(engine.atEnd());
}

TEST(ParseEngineMoveTest, AdvanceToReportsAStopByteThatComesFirst) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("name<x>=v"));
  EXPECT_FALSE(engine.advanceTo('=', '<'));
  EXPECT_EQ(engine.position(), 4u);
  engine.step();
  EXPECT_TRUE(engine.advanceTo('=', '<'));
  EXPECT_EQ(engine.current(), '=');
  engine.step();
  EXPECT_TRUE(engine.advanceTo('#', '<'));  // neither: the end counts as found
  EXPECT_TRUE(engine.atEnd());
}

TEST(ParseEngineMoveTest, PositionAndStepStayInsideTheText) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("abc"));
  engine.setPosition(99);
  EXPECT_EQ(engine.position(), 3u);
  EXPECT_EQ(engine.current(), '\0');
  engine.setPosition(1);
  engine.step(0xFFFFFFFFu);
  EXPECT_EQ(engine.position(), 3u);
}

// --- copying ---

TEST(ParseEngineCopyTest, CopyUntilStopsBeforeTheByteOrAtTheEnd) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("key=value"));
  StringBuffer out;
  ASSERT_TRUE(engine.copyUntil('=', out));
  EXPECT_STREQ(out.getString(), "key");
  EXPECT_EQ(engine.current(), '=');
  ASSERT_TRUE(engine.copyUntil('=', out));  // on it: copies nothing
  EXPECT_STREQ(out.getString(), "key");
  engine.step();
  ASSERT_TRUE(engine.copyUntil('#', out));
  EXPECT_STREQ(out.getString(), "keyvalue");
  EXPECT_TRUE(engine.atEnd());
}

TEST(ParseEngineCopyTest, CopyUntilAnyStopsAtTheFirstSetByte) {
  struct Case {
    const char* text;
    const char* set;
    const char* copied;
  } cases[] = {
      {"name value", " \t\r\n", "name"},
      {"name\tvalue", " \t\r\n", "name"},
      {"a=b>c", ">=", "a"},
      {"abc", "xyz", "abc"},
      {"abc", "", ""},  // an empty set copies nothing
  };
  for (const Case& c : cases) {
    ParseEngine engine;
    ASSERT_TRUE(engine.load(c.text));
    StringBuffer out;
    ASSERT_TRUE(engine.copyUntilAny(c.set, out));
    EXPECT_STREQ(out.getString(), c.copied) << c.text << " / [" << c.set << "]";
    EXPECT_EQ(engine.position(), out.length());
  }
}

TEST(ParseEngineCopyTest, CopyUntilAnyUnescapedPassesABackslashedStop) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load(R"(say \"hi\" now" rest)"));
  StringBuffer out;
  ASSERT_TRUE(engine.copyUntilAnyUnescaped("\"", out));
  EXPECT_STREQ(out.getString(), R"(say \"hi\" now)");
  EXPECT_EQ(engine.current(), '"');
}

TEST(ParseEngineCopyTest, CopyUntilOneOfLooksAtTheFirstNBytesOnly) {
  struct Case {
    const char* chars;
    uint32_t n;
    const char* copied;
  } cases[] = {
      {" >/=\t?\r", 2, "a/b=c"},
      {" >/=\t?\r", 5, "a"},
      {"=/", 7, "a"},  // shorter than n: up to its end
  };
  for (const Case& c : cases) {
    ParseEngine engine;
    ASSERT_TRUE(engine.load("a/b=c d"));
    StringBuffer out;
    ASSERT_TRUE(engine.copyUntilOneOf(c.chars, c.n, out));
    EXPECT_STREQ(out.getString(), c.copied) << c.chars << " n=" << c.n;
  }
}

TEST(ParseEngineCopyTest, CopyBalancedFollowsNesting) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("<!DOCTYPE x [<!ENTITY a 'b'>]> <root>"));
  StringBuffer out;
  EXPECT_TRUE(engine.copyBalanced('<', '>', 0, out));
  EXPECT_STREQ(out.getString(), "<!DOCTYPE x [<!ENTITY a 'b'>]>");
  EXPECT_EQ(engine.current(), ' ');

  ASSERT_TRUE(engine.load("a <b> c> d"));
  out.clear();
  EXPECT_TRUE(engine.copyBalanced('<', '>', 1, out));
  EXPECT_STREQ(out.getString(), "a <b> c>");

  ASSERT_TRUE(engine.load("<a <b>"));
  out.clear();
  EXPECT_FALSE(engine.copyBalanced('<', '>', 0, out));
  EXPECT_STREQ(out.getString(), "<a <b>");
  EXPECT_TRUE(engine.atEnd());
}

// --- quoted sections ---

struct QuotedCase {
  const char* text;
  const char* copied;
};

TEST(ParseEngineQuotedTest, CopyUntilQuotedSkipsTheByteInsideQuotes) {
  const QuotedCase cases[] = {
      {R"(<meta content="a>b">tail)", R"(<meta content="a>b")"},
      {R"(<meta content='a>b'>tail)", R"(<meta content='a>b')"},
      {R"(<a title="it's">x)", R"(<a title="it's")"},          // the other quote is plain inside
      {R"(<a title='say "hi"'>x)", R"(<a title='say "hi"')"},
      {R"(<a x="1""2>"3>x)", R"(<a x="1""2>"3)"},             // a new section may start at once
      {R"(<a b>)", R"(<a b)"},
      {R"(no end at all)", R"(no end at all)"},
  };
  for (const QuotedCase& c : cases) {
    ParseEngine engine;
    ASSERT_TRUE(engine.load(c.text));
    StringBuffer out;
    ASSERT_TRUE(engine.copyUntilQuoted('>', out));
    EXPECT_STREQ(out.getString(), c.copied) << c.text;
    EXPECT_EQ(engine.position(), out.length());
  }
}

TEST(ParseEngineQuotedTest, AnUnclosedQuoteFallsBackToTheFirstByte) {
  const QuotedCase cases[] = {
      {R"(<meta content="a>b>c)", R"(<meta content="a)"},
      {R"(<a href='x>y">z)", R"(<a href='x)"},
      {R"(<a b='c' d="e>f)", R"(<a b='c' d="e)"},
  };
  for (const QuotedCase& c : cases) {
    ParseEngine engine;
    ASSERT_TRUE(engine.load(c.text));
    StringBuffer out;
    ASSERT_TRUE(engine.copyUntilQuoted('>', out));
    EXPECT_STREQ(out.getString(), c.copied) << c.text;
  }
}

TEST(ParseEngineQuotedTest, StrictQuotesIgnoreAQuoteStuckToAClosingOne) {
  struct Case {
    const char* text;
    const char* loose;
    const char* strict;
  } cases[] = {
      {R"(<a href="x"">y">z)", R"(<a href="x"">y")", R"(<a href="x"")"},
      {R"(<a b='1'"2>3"4>z)", R"(<a b='1'"2>3"4)", R"(<a b='1'"2)"},
      {R"(<a b="1" "2>3">z)", R"(<a b="1" "2>3")", R"(<a b="1" "2>3")"},  // a space between
  };
  for (const auto& c : cases) {
    ParseEngine engine;
    ASSERT_TRUE(engine.load(c.text));
    StringBuffer out;
    ASSERT_TRUE(engine.copyUntilQuoted('>', out));
    EXPECT_STREQ(out.getString(), c.loose) << c.text;
    engine.setPosition(0);
    out.clear();
    ASSERT_TRUE(engine.copyUntilQuotedStrict('>', out));
    EXPECT_STREQ(out.getString(), c.strict) << c.text;
  }
}

TEST(ParseEngineQuotedTest, FindQuotedStartsOutsideQuotesAtThePosition) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load(R"(a="x>" b>)"));
  EXPECT_EQ(engine.findQuoted('>', false), 8u);
  engine.setPosition(4);  // on the ">" inside the quotes: seen from here it is outside
  EXPECT_EQ(engine.findQuoted('>', false), 4u);
  engine.setPosition(5);  // from the closing quote on, that quote opens a section to the end
  EXPECT_EQ(engine.findQuoted('>', false), engine.length());
}

TEST(ParseEngineQuotedTest, RepeatedSearchesAgreeWithAFreshWalk) {
  // Searches from every position, up and then down, rescan the text, so the engine soon
  // answers them from its table; a fresh engine walks each one by itself.
  const char* pieces[] = {"'", "\"", ">", "''", "\"\"", "<a ", "x", " "};
  const std::pair<char, bool> searches[] = {{'>', false}, {'>', true}, {'"', true}};
  std::mt19937 random(2024);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = 1 + static_cast<int>(random() % 30); i > 0; --i) text += pieces[random() % 8];
    ParseEngine engine, fresh;
    ASSERT_TRUE(engine.load(text));
    for (uint32_t step = 0; step <= 2 * text.size() + 1; ++step) {
      uint32_t at = step <= text.size() ? step : static_cast<uint32_t>(2 * text.size() + 1 - step);
      for (auto [c, strict] : searches) {
        engine.setPosition(at);
        ASSERT_TRUE(fresh.load(text));
        fresh.setPosition(at);
        ASSERT_EQ(engine.findQuoted(c, strict), fresh.findQuoted(c, strict))
            << text << " from " << at << " for " << c << (strict ? " strict" : "");
      }
    }
  }
  // Appended text can end a search that found nothing before.
  ParseEngine engine;
  ASSERT_TRUE(engine.load("a'>'"));
  for (uint32_t at : {0u, 1u, 0u}) {
    engine.setPosition(at);
    EXPECT_EQ(engine.findQuoted('>', false), 4u);
  }
  ASSERT_TRUE(engine.append(" >"));
  engine.setPosition(0);
  EXPECT_EQ(engine.findQuoted('>', false), 5u);
}

// --- the text itself ---

TEST(ParseEngineTextTest, LoadReplacesTheTextAndAppendKeepsThePosition) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("first"));
  engine.setPosition(3);
  ASSERT_TRUE(engine.append(" more"));
  EXPECT_EQ(engine.position(), 3u);
  EXPECT_EQ(engine.text(), "first more");
  ASSERT_TRUE(engine.load("x\0y"s));
  EXPECT_EQ(engine.position(), 0u);
  EXPECT_EQ(engine.length(), 3u);
  ASSERT_TRUE(engine.load("bytes here", 5));
  EXPECT_EQ(engine.text(), "bytes");
}

TEST(ParseEngineTextTest, LoadingAPieceOfItsOwnTextWorks) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("outer <inner> outer"));
  ASSERT_TRUE(engine.load(engine.text().substr(6, 7)));
  EXPECT_EQ(engine.text(), "<inner>");
}

TEST(ParseEngineTextTest, EngineKeepsItsOwnCopy) {
  std::string source = "<title>x</title>";
  ParseEngine engine;
  ASSERT_TRUE(engine.load(source));
  source.assign(source.size(), '#');
  EXPECT_TRUE(engine.seekPast("<title>"));
}

TEST(ParseEngineTextTest, OperationsAtTheEndReadNothing) {
  ParseEngine engine;
  StringBuffer out;
  EXPECT_FALSE(engine.seek("a"));
  EXPECT_TRUE(engine.copyUntil('a', out));
  EXPECT_TRUE(engine.copyUntilQuoted('a', out));
  EXPECT_TRUE(engine.copyUntilQuotedStrict('a', out));
  EXPECT_TRUE(engine.copyUntilAny("a", out));
  EXPECT_TRUE(engine.copyUntilAnyUnescaped("a", out));
  EXPECT_FALSE(engine.copyBalanced('<', '>', 1, out));
  EXPECT_TRUE(engine.advanceTo('a', 'b'));
  EXPECT_TRUE(out.isEmpty());
  EXPECT_EQ(engine.position(), 0u);
}

TEST(ParseEngineMemoryTest, FailedCopyLeavesOutputAndPositionAsTheyWere) {
  std::string big(100000, 'x');
  ParseEngine engine;
  ASSERT_TRUE(engine.load(big + ">"));
  StringBuffer out("kept");
  SetAllocationFailureForTests(true);
  bool copied = engine.copyUntilQuoted('>', out);
  bool through = engine.copyThrough(">", out);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(copied);
  EXPECT_FALSE(through);
  EXPECT_TRUE(engine.outOfMemory());
  EXPECT_STREQ(out.getString(), "kept");
  EXPECT_EQ(engine.position(), 0u);
}

TEST(ParseEngineMemoryTest, FailedLoadLeavesAnEmptyEngine) {
  ParseEngine engine;
  ASSERT_TRUE(engine.load("old"));
  std::string big(100000, 'x');
  SetAllocationFailureForTests(true);
  bool loaded = engine.load(big);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(engine.outOfMemory());
  EXPECT_EQ(engine.length(), 0u);
}

}  // namespace
}  // namespace quillon
