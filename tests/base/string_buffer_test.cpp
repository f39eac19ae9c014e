#include "base/string_buffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/data_buffer.h"
#include "base/ext_ptr_array.h"
#include "base/memory.h"
#include "base/string_pair.h"
#include "base/xstring.h"

namespace quillon {
namespace {

std::vector<std::string> Tokens(const ExtPtrArray& array) {
  std::vector<std::string> tokens;
  for (int i = 0; i < array.count(); ++i) tokens.emplace_back(array.at<StringBuffer>(i)->view());
  return tokens;
}

TEST(StringBufferGrowthTest, DefaultConstructorAllocatesItsIncrementAtOnce) {
  StringBuffer text;
  EXPECT_EQ(text.capacity(), 202u);
  EXPECT_EQ(text.increment(), 202u);
  EXPECT_STREQ(text.getString(), "");
  EXPECT_EQ(StringBuffer(StringBuffer::Increment{0}).increment(), 200u);
  EXPECT_EQ(StringBuffer(StringBuffer::Increment{7}).increment(), 7u);
}

TEST(StringBufferGrowthTest, StepDoublesUpToItsCapWhileGrowingByteByByte) {
  StringBuffer text(StringBuffer::Increment{0});
  uint32_t reallocations = 0;
  uint32_t lastCapacity = text.capacity();
  for (int i = 0; i < 1000000; ++i) {
    ASSERT_TRUE(text.appendChar(static_cast<char>('a' + i % 26)));
    if (text.capacity() != lastCapacity) {
      ++reallocations;
      lastCapacity = text.capacity();
    }
  }
  EXPECT_EQ(text.length(), 1000000u);
  EXPECT_EQ(text.increment(), StringBuffer::kMaxIncrement);
  EXPECT_LT(reallocations, 30u);  // amortised: each step is half the capacity
  EXPECT_EQ(text.charAt(999999), static_cast<char>('a' + 999999 % 26));
  EXPECT_EQ(text.getString()[1000000], '\0');

  // Past the largest step a plain buffer grows by 500,000 bytes at a time; one that grows
  // geometrically needs a handful of steps for 20 MB.
  for (bool geometric : {false, true}) {
    StringBuffer big;
    if (geometric) big.growGeometrically();
    const std::string block(1000, 'x');
    uint32_t steps = 0;
    for (uint32_t capacity = big.capacity(); big.length() < 20000000; ) {
      ASSERT_TRUE(big.append(block));
      if (big.capacity() != capacity) ++steps;
      capacity = big.capacity();
    }
    EXPECT_EQ(steps < 30u, geometric) << steps << " steps";
  }
}

TEST(StringBufferGrowthTest, AppendNeedsRoomForTheTerminator) {
  StringBuffer text(StringBuffer::Increment{10});
  ASSERT_TRUE(text.append("abc"));
  // Empty start: capacity 1; appending 3 bytes allocates 0 + 10 + 3 + 1.
  EXPECT_EQ(text.capacity(), 14u);
  EXPECT_EQ(text.increment(), 7u);  // half the new capacity
  ASSERT_TRUE(text.append("0123456789"));  // 13 < 14 fits exactly
  EXPECT_EQ(text.capacity(), 14u);
  ASSERT_TRUE(text.appendChar('x'));  // 14 < 14 fails: grows
  EXPECT_EQ(text.capacity(), 13u + 7u + 1u + 1u);
}

TEST(StringBufferGrowthTest, SizesPast32BitsAreOutOfMemory) {
  uint32_t capacity = 0;
  EXPECT_TRUE(StringBuffer::grownCapacity(0xFFFFFFFFu - 300, 200, 98, capacity));
  EXPECT_EQ(capacity, 0xFFFFFFFFu - 1);
  EXPECT_TRUE(StringBuffer::grownCapacity(0xFFFFFFFFu - 300, 200, 99, capacity));
  EXPECT_EQ(capacity, 0xFFFFFFFFu);
  EXPECT_FALSE(StringBuffer::grownCapacity(0xFFFFFFFFu - 300, 200, 100, capacity));
  EXPECT_FALSE(StringBuffer::grownCapacity(0xFFFFFFFFu, 500000, 1, capacity));
  EXPECT_FALSE(StringBuffer::grownCapacity(10, 200, uint64_t{1} << 32, capacity));
}

TEST(StringBufferMemoryTest, FailedAppendLeavesTheTextUnchanged) {
  StringBuffer text("abc");
  std::string big(5000, 'x');
  SetAllocationFailureForTests(true);
  EXPECT_FALSE(text.append(big.c_str()));
  SetAllocationFailureForTests(false);
  EXPECT_STREQ(text.getString(), "abc");
}

TEST(StringBufferMemoryTest, BufferBuiltWithoutMemoryWorksOnceMemoryReturns) {
  SetAllocationFailureForTests(true);
  StringBuffer text;
  StringBuffer other;
  SetAllocationFailureForTests(false);
  EXPECT_STREQ(text.getString(), "");
  EXPECT_EQ(text.capacity(), 1u);
  text.clear();
  text.trim();
  ASSERT_TRUE(text.append("hello"));
  EXPECT_STREQ(text.getString(), "hello");
  EXPECT_STREQ(other.getString(), "");  // the shared empty text was never written or freed
}

TEST(StringBufferMemoryTest, AppendingItsOwnTextSurvivesReallocation) {
  StringBuffer text("0123456789");
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(text.append(text.getString(), text.length()));
  EXPECT_EQ(text.length(), 640u);
  EXPECT_TRUE(text.beginsWith("01234567890123456789"));
}

TEST(StringBufferMemoryTest, SettersGivenTheirOwnTextKeepIt) {
  auto buffer = [](std::string_view initial, auto set) {
    StringBuffer s(initial);
    set(s);
    return std::string(s.view());
  };
  auto xstring = [](const std::string& utf8, auto set) {
    XString x;
    x.setFromUtf8(utf8.c_str());
    set(x);
    return std::string(x.getUtf8());
  };
  auto pair = [](auto set) {
    std::unique_ptr<StringPair> p(StringPair::Create("ab", "cd"));
    set(*p);
    return std::string(p->firstText()) + "|" + p->secondText();
  };
  const std::string longText(300, 'x');
  const struct {
    const char* what;
    std::string got;
    std::string expected;
  } cases[] = {
      {"assign own text", buffer("abcdef", [](StringBuffer& s) { s.assign(s.getString()); }),
       "abcdef"},
      {"assign own bytes",
       buffer("abcdef", [](StringBuffer& s) { s.assign(s.getString(), s.length()); }), "abcdef"},
      {"assign own tail", buffer("abcdef", [](StringBuffer& s) { s.assign(s.getString() + 2); }),
       "cdef"},
      {"assign own middle",
       buffer("abcdef", [](StringBuffer& s) { s.assign(s.view().substr(1, 3)); }), "bcd"},
      {"assign itself", buffer("abcdef", [](StringBuffer& s) { s.assign(s); }), "abcdef"},
      {"append itself, growing", buffer(longText, [](StringBuffer& s) { s.append(s); }),
       longText + longText},
      {"prepend own tail", buffer("abcdef", [](StringBuffer& s) { s.prepend(s.getString() + 4); }),
       "efabcdef"},
      {"XString own UTF-8", xstring("abc", [](XString& x) { x.setFromUtf8(x.getUtf8()); }), "abc"},
      {"XString own UTF-8 piece",
       xstring("abcdef", [](XString& x) { x.setFromUtf8(x.getUtf8() + 1, 3); }), "bcd"},
      {"XString own ANSI", xstring("abc", [](XString& x) { x.setFromAnsi(x.getAnsi()); }), "abc"},
      {"XString own UTF-16 tail",
       xstring(longText, [](XString& x) { x.setFromUtf16(x.getUtf16() + 1); }),
       longText.substr(1)},
      {"StringPair own first", pair([](StringPair& p) { p.setFirst(p.firstText()); }), "ab|cd"},
      {"StringPair own second tail",
       pair([](StringPair& p) { p.setSecond(p.secondText() + 1); }), "ab|d"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(StringBufferMemoryTest, ShrinkFreesOnlyWhenWorthIt) {
  StringBuffer text("abc");
  text.shrink();
  EXPECT_EQ(text.capacity(), 4u);
  text.shrink();
  EXPECT_EQ(text.capacity(), 4u);
  EXPECT_STREQ(text.getString(), "abc");
}

TEST(StringBufferMemoryTest, TakesTheMemoryOfADataBuffer) {
  DataBuffer data("hello", 6);  // with its zero byte
  StringBuffer text("old");
  ASSERT_TRUE(text.takeDataBuffer(data));
  EXPECT_STREQ(text.getString(), "hello");
  EXPECT_EQ(text.length(), 5u);
  EXPECT_EQ(text.increment(), StringBuffer::kAdoptedIncrement);
  EXPECT_EQ(data.length(), 0u);
  EXPECT_EQ(data.data(), nullptr);
  ASSERT_TRUE(text.append(" world"));
  EXPECT_STREQ(text.getString(), "hello world");

  DataBuffer tooShort("x", 1);
  EXPECT_FALSE(text.takeDataBuffer(tooShort));
  EXPECT_EQ(tooShort.length(), 1u);
}

TEST(StringBufferMarkerDeathTest, UseAfterDestructionEndsTheProcess) {
  alignas(StringBuffer) unsigned char storage[sizeof(StringBuffer)];
  auto* text = new (storage) StringBuffer("abc");
  text->~StringBuffer();
  EXPECT_DEATH(text->append("x"), "");  // any sanitizer may report it first
}

TEST(StringBufferEditTest, TrimRemovesWhitespaceAtBothEnds) {
  StringBuffer text(" \t\r\nword in\tside \r\n");
  text.trim();
  EXPECT_STREQ(text.getString(), "word in\tside");
  StringBuffer blanks(" \t\r\nx\n\t ");
  blanks.trimBlanks();
  EXPECT_STREQ(blanks.getString(), "\r\nx\n");
  StringBuffer only("  \r\n ");
  only.trim();
  EXPECT_STREQ(only.getString(), "");
}

TEST(StringBufferEditTest, CaseChangesFoldAsciiAndTheLatinRanges) {
  StringBuffer lower("ABCxyz\xC0\xDF\xE0\xFF" "1");
  lower.toLowerCase();
  EXPECT_STREQ(lower.getString(), "abcxyz\xE0\xFF\xE0\xFF" "1");
  StringBuffer upper("abcXYZ\xE0\xFF\xC0" "1");
  upper.toUpperCase();
  EXPECT_STREQ(upper.getString(), "ABCXYZ\xC0\xDF\xC0" "1");
}

TEST(StringBufferEditTest, EntityEscapeReplacesTheAmpersandFirst) {
  StringBuffer text("a &lt; <b> \"c\"");
  ASSERT_TRUE(text.entityEscape());
  EXPECT_STREQ(text.getString(), "a &amp;lt; &lt;b&gt; &quot;c&quot;");
}

TEST(StringBufferEditTest, LineEndConversions) {
  StringBuffer crlf("a\r\nb\nc\rd\n");
  ASSERT_TRUE(crlf.toCrlf());
  EXPECT_STREQ(crlf.getString(), "a\r\nb\r\ncd\r\n");
  StringBuffer lf("a\r\nb\r\r\nc\r");
  lf.toLf();
  EXPECT_STREQ(lf.getString(), "a\nb\r\nc\r");
}

TEST(StringBufferEditTest, ReplaceAllIsLeftToRightAndNonOverlapping) {
  struct Case {
    const char* text;
    const char* pattern;
    const char* replacement;
    const char* expected;
    int count;
  } cases[] = {
      {"aaa", "aa", "b", "ba", 1},
      {"aaaa", "aa", "b", "bb", 2},
      {"abcabc", "bc", "", "aa", 2},
      {"abc", "x", "y", "abc", 0},
      {"abc", "", "y", "abc", 0},
      {"a.b.c", ".", "..", "a..b..c", 2},
      {"", "a", "b", "", 0},
  };
  for (const Case& c : cases) {
    StringBuffer text(c.text);
    EXPECT_EQ(text.replaceAll(c.pattern, c.replacement), c.count) << c.text;
    EXPECT_STREQ(text.getString(), c.expected) << c.text;
  }
  StringBuffer first("a-b-c");
  EXPECT_TRUE(first.replaceFirst("-", "+-"));
  EXPECT_STREQ(first.getString(), "a+-b-c");
  EXPECT_FALSE(first.replaceFirst("x", "y"));
}

TEST(StringBufferEditTest, CharacterFilters) {
  StringBuffer replaced("a\\b\\c");
  replaced.replaceChar('\\', '/');
  EXPECT_STREQ(replaced.getString(), "a/b/c");
  StringBuffer removed("a,b,,c");
  removed.removeChar(',');
  EXPECT_STREQ(removed.getString(), "abc");
  StringBuffer token("Key-1.a:b_c! (x)=/\xC3\xA9");
  token.keepTokenChars();
  EXPECT_STREQ(token.getString(), "Key-1.a:b_c!x\xC3\xA9");
  StringBuffer spaces("a \t\r\n b\tc  ");
  spaces.collapseWhitespace();
  EXPECT_STREQ(spaces.getString(), "a b c ");
}

TEST(StringBufferEditTest, ShortenAndRemoveRangeStayInside) {
  StringBuffer text("abcdef");
  text.shorten(2);
  EXPECT_STREQ(text.getString(), "abcd");
  text.removeRange(1, 2);
  EXPECT_STREQ(text.getString(), "ad");
  text.removeRange(1, 2);  // runs past the end: nothing
  EXPECT_STREQ(text.getString(), "ad");
  text.removeRange(5, 1);
  EXPECT_STREQ(text.getString(), "ad");
  text.shorten(10);
  EXPECT_STREQ(text.getString(), "");
  StringBuffer front("world");
  ASSERT_TRUE(front.prepend("hello "));
  EXPECT_STREQ(front.getString(), "hello world");
}

TEST(StringBufferCompareTest, CaseInsensitiveComparisonsFoldAsciiOnly) {
  StringBuffer text("Content-Type: TEXT/html\xC3\x89");
  EXPECT_TRUE(text.containsIgnoreCase("text/HTML"));
  EXPECT_FALSE(text.containsIgnoreCase("html\xC3\xA9"));
  EXPECT_TRUE(text.contains("TEXT"));
  EXPECT_FALSE(text.contains("text"));
  EXPECT_TRUE(StringBuffer("AbC").equalsIgnoreCase("aBc"));
  EXPECT_FALSE(StringBuffer("AbC").equalsIgnoreCase("aBcd"));
  EXPECT_FALSE(StringBuffer("abc").equals(nullptr));
}

TEST(StringBufferSplitTest, CharacterSplitKeepsEmptyTokens) {
  struct Case {
    const char* text;
    bool quotes;
    bool backslash;
    std::vector<std::string> tokens;
  } cases[] = {
      {"a,\"b,c\",,d", true, false, {"a", "\"b,c\"", "", "d"}},
      {"a,\"b,c\",,d", false, false, {"a", "\"b", "c\"", "", "d"}},
      {"a\\,b,c", false, true, {"a\\,b", "c"}},
      {"a\\\"b,\"c,d\"", true, true, {"a\\\"b", "\"c,d\""}},
      {"a,", false, false, {"a", ""}},
      {"", false, false, {""}},
  };
  for (const Case& c : cases) {
    OwningPtrArray out;
    ASSERT_TRUE(StringBuffer(c.text).split(',', c.quotes, c.backslash, out));
    EXPECT_EQ(Tokens(out), c.tokens) << c.text;
  }
}

TEST(StringBufferSplitTest, StringSplitSkipsEmptyPiecesAndHonoursTheLimit) {
  OwningPtrArray out;
  ASSERT_TRUE(StringBuffer("\r\na\r\n\r\nb\r\nc").splitOnString("\r\n", 0, out));
  EXPECT_EQ(Tokens(out), (std::vector<std::string>{"a", "b", "c"}));
  OwningPtrArray limited;
  ASSERT_TRUE(StringBuffer("k: v: w").splitOnString(": ", 2, limited));
  EXPECT_EQ(Tokens(limited), (std::vector<std::string>{"k", "v: w"}));
}

TEST(StringBufferTextTest, NumbersAndSystemErrorText) {
  StringBuffer text;
  text.appendInt(-12);
  text.appendChar(' ');
  text.appendInt64(int64_t{1} << 40);
  text.appendChar(' ');
  text.appendUint32(4000000000u);
  EXPECT_STREQ(text.getString(), "-12 1099511627776 4000000000");
  StringBuffer error;
  error.appendSystemErrorText(2);
  EXPECT_EQ(error.view(), "No such file or directory");
}

TEST(StringBufferTextTest, CopyCarriesTheFlag) {
  StringBuffer text("abc");
  text.setFlag(3);
  StringBuffer copy(text);
  EXPECT_EQ(copy.flag(), 3);
  EXPECT_STREQ(copy.getString(), "abc");
  EXPECT_NE(copy.serial(), text.serial());
}

}  // namespace
}  // namespace quillon
