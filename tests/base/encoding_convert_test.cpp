#include "base/charset/encoding_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/charset/codec_table.h"
#include "base/memory.h"

namespace quillon {
namespace {

struct Outcome {
  bool result = false;
  std::string bytes;
  bool unsupported = false;
  bool dropped = false;
};

Outcome Convert(int from, int to, std::string_view input) {
  EncodingConvert converter;
  DataBuffer out;
  Outcome o;
  o.result = converter.convert(from, to, input.data(), static_cast<uint32_t>(input.size()), out);
  o.bytes.assign(out.view());
  o.unsupported = converter.unsupported();
  o.dropped = converter.droppedAny();
  return o;
}

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

std::string Utf16Le(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

struct Case {
  const char* what;
  int from;
  int to;
  std::string input;
  std::string expected;
  bool result;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.what << ": " << c.from << " -> " << c.to << " of " << Hex(c.input));
    Outcome o = Convert(c.from, c.to, c.input);
    EXPECT_EQ(Hex(o.bytes), Hex(c.expected));
    EXPECT_EQ(o.result, c.result);
  }
}

TEST(EncodingConvertTest, EdgeCasesOfTheConverter) {
  RunCases({
      {"LE mark removed", 1200, 65001, Bytes({0xFF, 0xFE, 0x41, 0x00}), "A", true},
      {"BE mark overrides 1200", 1200, 65001, Bytes({0xFE, 0xFF, 0x00, 0x41}), "A", true},
      {"UTF-8 mark alone", 65001, 1252, "\xEF\xBB\xBF", "", true},
      // Outside the BMP: a surrogate pair, all four bytes kept.
      {"4-byte UTF-8 to UTF-16", 65001, 1200, "\xF0\x9F\x98\x80", Utf16Le(u"\xD83D\xDE00"), true},
      {"surrogate pair to UTF-8", 1200, 65001, Utf16Le(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80", true},
      {"euro not in latin-1", 1200, 28591, Utf16Le(u"\x20AC"), "", false},
      {"Arabic-Indic digits", 1200, 28596, Utf16Le(u"\x0661\x0662"), "12", true},
      {"extended Arabic-Indic digits", 1200, 28596, Utf16Le(u"\x06F0\x06F9"), "09", true},
      {"65001 to 65001 copies invalid bytes", 65001, 65001, "a\xC0\xFF", "a\xC0\xFF", true},
      {"target 0 copies", 1252, 0, "\x81\x80", "\x81\x80", true},
      {"UTF-32LE through the UTF-8 cleaner", 65005, 65001,
       Bytes({0x41, 0, 0, 0, 0x00, 0xD8, 0, 0, 0x00, 0xF6, 0x01, 0}), "A\xF0\x9F\x98\x80", true},
      {"UTF-32BE to UTF-16", 65006, 1200, Bytes({0, 0, 0, 0x41, 0, 1, 0xF6, 0}),
       Utf16Le(u"A\xD83D\xDE00"), true},
      {"UTF-32 past 0x1FFFFF is U+FFFD", 65005, 65001, Bytes({0, 0, 0, 1}), "\xEF\xBF\xBD", true},
      {"UTF-8 to UTF-32BE", 65001, 65006, "A\xC3\xA9", Bytes({0, 0, 0, 0x41, 0, 0, 0, 0xE9}), true},
      {"UTF-16BE target", 65001, 1201, "A\xE2\x82\xAC", Bytes({0, 0x41, 0x20, 0xAC}), true},
      {"UTF-16BE target keeps a drop visible", 1252, 1201, "A\x81", Bytes({0, 0x41}), false},
  });
}

TEST(EncodingConvertTest, TwoStepResultIsTheSecondStepsAlone) {
  RunCases({
      // The decoder drops 0x81 but the UTF-8 encoder maps everything it was given.
      {"table to UTF-8", 1252, 65001,
       "a\x81"
       "b",
       "ab", true},
      {"table to UTF-16", 1252, 1200, "a\x81", Utf16Le(u"a"), false},
      {"invalid UTF-8 to UTF-16 stays true", 65001, 1200,
       "a\xFF"
       "b",
       Utf16Le(u"ab"), true},
      {"invalid UTF-8 to a table stays true", 65001, 1252, "a\xFF\xC3\xA9", "a\xE9", true},
      {"UTF-8 to a table that lacks a character", 65001, 1252, "a\xE2\x82\xAD", "a", false},
      {"table to table", 1251, 1252,
       "\xC0"
       "A\xAB",
       "A\xAB", false},
      {"UTF-16 odd length to UTF-8", 1200, 65001, std::string("A\0B", 3), "A", false},
      {"UTF-16 single byte to a table", 1200, 1252, "A", "", false},
      {"UTF-8 encoder writes nothing for U+0000", 1200, 65001, Utf16Le(std::u16string(u"a\0", 2)),
       "a", true},
      {"table encoder writes byte 0", 1200, 1252, Utf16Le(std::u16string(u"a\0", 2)),
       std::string("a\0", 2), true},
  });
}

TEST(EncodingConvertTest, BigEndianSourcesAndShortInputs) {
  RunCases({
      {"UTF-16BE source", 1201, 65001, Bytes({0, 0x41, 0x20, 0xAC}), "A\xE2\x82\xAC", true},
      {"UTF-16BE with LE mark", 1201, 65001, Bytes({0xFF, 0xFE, 0x41, 0}), "A", true},
      {"UTF-16BE odd byte dropped", 1201, 65001, Bytes({0, 0x41, 0}), "A", true},
      {"one byte of UTF-16BE", 1201, 65001, Bytes({0}), "", true},
      {"mark only", 1200, 1252, Bytes({0xFF, 0xFE}), "", true},
      {"three bytes of UTF-32", 65006, 65001, Bytes({0, 0, 0}), "", true},
      {"UTF-16LE to UTF-16LE after a BE mark swaps", 1200, 1200, Bytes({0xFE, 0xFF, 0, 0x41}),
       Bytes({0xFE, 0xFF, 0, 0x41}), true},
  });
}

TEST(EncodingConvertTest, UnsupportedCodePagesFailWithNothingWritten) {
  for (auto [from, to] : {std::pair{50000, 65001},
                          {65001, 20932},
                          {1252, 709},
                          {54936, 1200},
                          {1200, 99999},
                          {65000, 10002},
                          {50220, 51950}}) {
    EncodingConvert converter;
    DataBuffer out("kept", 4);
    EXPECT_FALSE(converter.convert(from, to, "abc", 3, out)) << from << " -> " << to;
    EXPECT_TRUE(converter.unsupported());
    EXPECT_EQ(out.view(), "kept");
  }
}

TEST(EncodingConvertTest, NamedConversionsResolveFirst) {
  EncodingConvert converter;
  DataBuffer out;
  EXPECT_TRUE(converter.convertNamed("Windows-1252", "UTF_8", "\xE9", 1, out));
  EXPECT_EQ(out.view(), "\xC3\xA9");
  out.clear();
  EXPECT_TRUE(converter.convertFromName("koi8-r", 65001, "\xC1", 1, out));
  EXPECT_EQ(out.view(), "\xD0\xB0");
  out.clear();
  EXPECT_TRUE(converter.convertToName(65001, "latin1", "\xC3\xA9", 2, out));
  EXPECT_EQ(out.view(), "\xE9");
  for (const char* bad : {"nonsense", "", "x"}) {
    DataBuffer kept("k", 1);
    EXPECT_FALSE(converter.convertNamed(bad, "utf-8", "abc", 3, kept));
    EXPECT_FALSE(converter.convertFromName(bad, 65001, "abc", 3, kept));
    EXPECT_FALSE(converter.convertToName(65001, bad, "abc", 3, kept));
    EXPECT_EQ(kept.view(), "k");
  }
}

TEST(EncodingConvertTest, PreambleIsTheTargetsMark) {
  struct {
    int from, to;
    std::string expected;
  } cases[] = {
      {1252, 65001,
       "\xEF\xBB\xBF"
       "A"},
      {1252, 1200, Bytes({0xFF, 0xFE, 0x41, 0})},
      {1252, 1201, Bytes({0xFE, 0xFF, 0, 0x41})},
      {65001, 0,
       "\xEF\xBB\xBF"
       "A"},
      {65001, 1252, "A"},
      {65001, 65005, Bytes({0x41, 0, 0, 0})},
  };
  for (const auto& c : cases) {
    EncodingConvert converter;
    DataBuffer out;
    EXPECT_TRUE(converter.convertWithPreamble(c.from, c.to, "A", 1, out));
    EXPECT_EQ(Hex(out.view()), Hex(c.expected)) << c.from << " -> " << c.to;
  }
}

TEST(EncodingConvertTest, Utf7FollowsRfc2152) {
  RunCases({
      {"direct and +-", 1200, 65000, Utf16Le(u"Hi Mom -+-!"), "Hi Mom -+--+ACE-", true},
      {"RFC example", 1200, 65000, Utf16Le(u"A\x2262\x0391."), "A+ImIDkQ-.", true},
      {"leading BOM dropped", 1200, 65000,
       Utf16Le(u"\xFEFF"
               "a~"),
       "a+AH4-", true},
      {"decode RFC example", 65000, 1200, "A+ImIDkQ.", Utf16Le(u"A\x2262\x0391."), true},
      {"decode plus", 65000, 65001, "1 +- 1 = 2", "1 + 1 = 2", true},
      {"decode pair", 65000, 65001, "+2D3eAA-", "\xF0\x9F\x98\x80", true},
      {"leftover bits dropped", 65000, 65001, "+AGEA-x", "ax", true},
      {"UTF-7 target fails whole when the core dropped", 1252, 65000, "a\x81", "", false},
  });
}

TEST(EncodingConvertTest, Iso2022JpBothWays) {
  RunCases({
      {"kanji and ASCII", 932, 50220,
       "a\x93\xFA\x96\x7B"
       "b",
       "a\x1B$BF|K\\\x1B(Bb", true},
      {"return to ASCII before a line end", 932, 50221, "\x82\xA0\r\n", "\x1B$B$\"\x1B(B\r\n",
       true},
      {"half-width katakana become full-width, sound marks combined", 932, 50222,
       "\xB6\xDE\xCA\xDF\xB3\xDE\xB1", "\x1B$B%,%Q%t%\"\x1B(B", true},
      {"IBM extension rows have no JIS code", 932, 50220,
       "\xFA\x40"
       "a",
       "a", false},
      {"decode to UTF-8", 50220, 65001, "\x1B$BF|K\\\x1B(B!", "\xE6\x97\xA5\xE6\x9C\xAC!", true},
      {"decode ESC $ @ and ESC ( J", 50221, 932, "\x1B$@$\"\x1B(Jx", "\x82\xA0x", true},
      {"decode half-width katakana", 50222, 65001, "\x1B(I1\x1B(B", "\xEF\xBD\xB1", true},
      {"empty result is true", 50220, 65001, "\x1B$B", "", true},
      {"truncated pair dropped", 50220, 65001, "\x1B$BF", "", true},
  });
}

TEST(EncodingConvertTest, Iso2022KrBothWays) {
  RunCases({
      {"designator, SO and SI", 949, 50225,
       "a\xB0\xA1\xB0\xA2"
       "b",
       "\x1B$)Ca\x0E\x30\x21\x30\x22\x0F"
       "b",
       true},
      {"ends in SI", 65001, 50225, "\xEA\xB0\x80", "\x1B$)C\x0E\x30\x21\x0F", true},
      {"UHC extension has no ISO-2022-KR form", 949, 50225, "\x81\x41", "\x1B$)C", false},
      {"decode", 50225, 65001,
       "\x1B$)Ca\x0E\x30\x21\x0F"
       "b",
       "a\xEA\xB0\x80"
       "b",
       true},
  });
}

TEST(EncodingConvertTest, MacArabicVisualRunsAreReversedAndRecoded) {
  // A0..A4 are right-to-left space, '!', '"', '#', '$'; B1 B2 are right-to-left digits 1, 2.
  RunCases({
      {"run reversed and recoded", 10004, 65001,
       "\xB1\xB2"
       "a",
       "21a", true},
      {"single byte not reversed", 10004, 65001,
       "\xB1"
       "a\xB2",
       "1a2", true},
      {"open run at the end reversed", 10004, 65001, "a\xB1\xB2\xB3", "a321", true},
      {"control byte closes a run", 10004, 65001, "\xB1\xB2\n\xB3\xB4", "21\n43", true},
      {"letters pass", 10004, 65001, "\xC7", "\xD8\xA7", true},
  });
}

// Bytes where the Windows variants differ from the plain standards, written by hand from the
// published Windows mappings.
TEST(EncodingConvertTest, WindowsVariantGoldenBytes) {
  struct Golden {
    int codePage;
    std::string bytes;
    char16_t unit;       // 0: no mapping
    std::string back{};  // what the unit encodes to when it is not the same bytes
  } cases[] = {
      {1252, "\x80", 0x20AC},
      {1252, "\x81", 0},
      {1252, "\x9F", 0x0178},
      {1252, "\x8D", 0},
      {20924, "\x9F", 0x20AC},  // IBM 1047's currency sign
      {932, "\x5C", 0x005C},
      {932, "\x7E", 0x007E},
      {932, "\x81\x60", 0xFF5E},
      {932, "\x87\x40", 0x2460},
      {932, "\x81\x5F", 0xFF3C},
      {932, "\xB1", 0xFF71},
      {932, "\xED\x40", 0x7E8A, "\xFA\x5C"},
      {932, "\xFA\x40", 0x2170},
      {936, "\x80", 0x20AC},
      {936, "\x81\x40", 0x4E02},
      {936, "\xA1\xA1", 0x3000},
      {936, "\xA1\xA4", 0x00B7},
      {936, "\xA1\xAA", 0x2014},
      {949, "\x81\x41", 0xAC02},
      {949, "\xC6\x52", 0xD7A3},
      {949, "\xB0\xA1", 0xAC00},
      {950, "\xA1\x40", 0x3000},
      {950, "\xA4\x40", 0x4E00},
      {950, "\xF9\xF9", 0x2550, "\xA2\xA4"},
      {950, "\xA1\x45", 0x2027},
      {950, "\xA1\xC3", 0xFFE3},
  };
  for (const Golden& g : cases) {
    SCOPED_TRACE(testing::Message() << g.codePage << " " << Hex(g.bytes));
    Outcome decoded = Convert(g.codePage, 1200, g.bytes);
    if (g.unit == 0) {
      EXPECT_FALSE(decoded.result);
      EXPECT_EQ(decoded.bytes, "");
      continue;
    }
    EXPECT_TRUE(decoded.result);
    EXPECT_EQ(Hex(decoded.bytes), Hex(Utf16Le(std::u16string(1, g.unit))));
    EXPECT_EQ(Hex(Convert(1200, g.codePage, decoded.bytes).bytes),
              Hex(g.back.empty() ? g.bytes : g.back));
  }
}

TEST(EncodingConvertTest, BadInputNeverCrashes) {
  std::mt19937 random(5);
  const int codePages[] = {65001, 1200,  1201, 65000, 65005, 65006, 50220, 50225,
                           10004, 932,   936,  949,   950,   1361,  10001, 51932,
                           51936, 51949, 1252, 37,    28596, 0,     50000};
  const std::string_view kInteresting = "\x1B\x0E\x0F+-$(B\x80\xFF\xEF\xA1";
  for (int round = 0; round < 3000; ++round) {
    std::string input(random() % 40, '\0');
    for (char& c : input) {
      c = static_cast<char>(random() % 3 == 0 ? kInteresting[random() % kInteresting.size()]
                                              : random() % 256);
    }
    int from = codePages[random() % std::size(codePages)];
    int to = codePages[random() % std::size(codePages)];
    SCOPED_TRACE(testing::Message() << from << " -> " << to << " of " << Hex(input));
    Outcome o = Convert(from, to, input);
    if (to == 65001 && from != 65001 && from != 0 && !o.unsupported) {
      // Whatever went in, what comes out as UTF-8 is well-formed.
      Outcome check = Convert(65001, 1200, o.bytes);
      EXPECT_FALSE(check.dropped);
    }
  }
}

TEST(EncodingConvertTest, TablesAreBuiltOnceAcrossThreads) {
  // IBM880 (EBCDIC Cyrillic) 42 C1 is "\u0452A"; EUC-KR B0 A1 is U+AC00.
  const std::string expected = "\xD1\x92" "A" "\xEA\xB0\x80";
  constexpr int kThreads = 8;
  std::vector<std::string> results(kThreads);
  std::vector<const CodeTable*> tables(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &results, &tables] {
      tables[t] = CodeTableFor(20880);
      results[t] =
          Convert(20880, 65001, "\x42\xC1").bytes + Convert(51949, 65001, "\xB0\xA1").bytes;
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_NE(CodeTableFor(20880), nullptr);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(Hex(results[t]), Hex(expected)) << "thread " << t;
    EXPECT_EQ(tables[t], CodeTableFor(20880)) << "thread " << t << " got a table of its own";
  }
}

TEST(EncodingConvertTest, OutOfMemoryIsAFalseResult) {
  for (auto [from, to] : {std::pair{932, 65001}, {65001, 1252}, {65000, 1200}, {1200, 50220}}) {
    EncodingConvert converter;
    DataBuffer out;
    SetAllocationFailureForTests(true);
    bool result = converter.convert(from, to, "+AGE-abc", 8, out);
    SetAllocationFailureForTests(false);
    EXPECT_FALSE(result) << from << " -> " << to;
    EXPECT_TRUE(converter.outOfMemory());
  }
}

}  // namespace
}  // namespace quillon
