#include "base/charset/text_conversion.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>
#include <string_view>

#include "base/memory.h"
#include "base/platform.h"

namespace quillon {
namespace {

struct Result {
  bool ok = false;
  bool lossless = false;
  std::string bytes;
};

Result Convert(int from, int to, std::string_view input) {
  Result result;
  DataBuffer out;
  result.ok = ConvertCodePage(from, to, input.data(), static_cast<uint32_t>(input.size()), out,
                              &result.lossless);
  result.bytes.assign(out.view());
  return result;
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

// Little-endian bytes of UTF-16 code units.
std::string Utf16Le(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

struct ConversionCase {
  int from;
  int to;
  std::string input;
  std::string expected;
  bool lossless;
};

TEST(TextConversionTest, ConvertsBetweenKnownCodePages) {
  const ConversionCase cases[] = {
      {65001, 1200, "A", Utf16Le(u"A"), true},
      {65001, 1200, std::string("a\0b", 3), Utf16Le(std::u16string(u"a\0b", 3)), true},
      {65001, 1200, "\xF0\x9F\x98\x80", Utf16Le(u"\xD83D\xDE00"), true},
      {1200, 65001, Utf16Le(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80", true},
      {65001, 1201, "\xF0\x9F\x98\x80", std::string("\xD8\x3D\xDE\x00", 4), true},
      {1201, 65001, std::string("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80", true},
      {1201, 1200, std::string("\x00\x41\x20\xAC", 4), Utf16Le(u"A\x20AC"), true},
      {1252, 65001, "\x80\x9F\xE9\x41", "\xE2\x82\xAC\xC5\xB8\xC3\xA9\x41", true},
      {65001, 1252, "\xE2\x82\xAC\xE2\x84\xA2\xC3\xBF", "\x80\x99\xFF", true},
      {1252, 1200, "\x8A\x9A", Utf16Le(u"\x0160\x0161"), true},
      // The five bytes windows-1252 leaves undefined are dropped both ways.
      {1252, 65001, "a\x81\x8D\x8F\x90\x9D" "b", "ab", false},
      {65001, 1252, "a\xC2\x81" "b", "ab", false},
      {65001, 1252, "x\xE6\x97\xA5y", "xy", false},
      {28591, 65001, "\x80\xFF", "\xC2\x80\xC3\xBF", true},
      {65001, 28591, "\xC3\xA9\xE2\x82\xAC", "\xE9", false},
      {20127, 65001, "A\x80" "B", "AB", false},
      {65001, 20127, "A\xC3\xA9" "B", "AB", false},
      {437, 65001, "plain 7-bit", "plain 7-bit", true},
      {437, 65001, "a\x82" "b", "a\xC3\xA9" "b", true},
      {65001, 437, "a\xC3\xA9" "b", "a\x82" "b", true},
      {1252, 28591, "\x80" "A", "A", false},
  };
  for (const ConversionCase& c : cases) {
    Result result = Convert(c.from, c.to, c.input);
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " of " << Hex(c.input));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(Hex(result.bytes), Hex(c.expected));
    EXPECT_EQ(result.lossless, c.lossless);
  }
}

TEST(TextConversionTest, ByteOrderMarksPickTheOrderAndAreRemoved) {
  const ConversionCase cases[] = {
      {1200, 65001, std::string("\xFF\xFE\x41\x00", 4), "A", true},
      {1200, 65001, std::string("\xFE\xFF\x00\x41", 4), "A", true},
      {1201, 65001, std::string("\xFF\xFE\x41\x00", 4), "A", true},
      {1200, 65001, "\xFF\xFE", "", true},
      {65001, 1200, "\xEF\xBB\xBF" "A", Utf16Le(u"A"), true},
      {65001, 1252, "\xEF\xBB\xBF", "", true},
      // Two bytes are too few to hold the UTF-8 mark: they are an ill-formed sequence.
      {65001, 1252, "\xEF\xBB", "", false},
  };
  for (const ConversionCase& c : cases) {
    Result result = Convert(c.from, c.to, c.input);
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " of " << Hex(c.input));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(Hex(result.bytes), Hex(c.expected));
    EXPECT_EQ(result.lossless, c.lossless);
  }
}

TEST(TextConversionTest, SameCodePageOrTargetZeroCopiesBytesUnchanged) {
  const std::string invalid = "\xC0\x80\xFF" "abc\xEF\xBB\xBF";
  Result same = Convert(65001, 65001, invalid);
  EXPECT_TRUE(same.ok);
  EXPECT_TRUE(same.lossless);
  EXPECT_EQ(same.bytes, invalid);

  Result unknown = Convert(932, 0, invalid);
  EXPECT_TRUE(unknown.ok);
  EXPECT_EQ(unknown.bytes, invalid);
}

TEST(TextConversionTest, UnknownCodePageFailsWithNothingWritten) {
  for (auto [from, to] : {std::pair{50000, 65001}, {65001, 50000}, {0, 65001}, {20932, 1200}}) {
    DataBuffer out("kept", 4);
    bool lossless = true;
    EXPECT_FALSE(ConvertCodePage(from, to, "abc", 3, out, &lossless)) << from << " -> " << to;
    EXPECT_FALSE(lossless);
    EXPECT_EQ(out.view(), "kept");
  }
}

TEST(TextConversionTest, AppendsToWhatTheBufferHolds) {
  DataBuffer out("ab", 2);
  EXPECT_TRUE(ConvertCodePage(1252, 65001, "\xE9", 1, out));
  EXPECT_EQ(out.view(), "ab\xC3\xA9");
}

TEST(TextConversionTest, LoneSurrogatesAndHalfUnitsAreDropped) {
  const ConversionCase cases[] = {
      {1200, 65001, Utf16Le(u"\xD83D" "A"), "A", false},
      {1200, 65001, Utf16Le(u"A\xDE00"), "A", false},
      {1200, 65001, Utf16Le(u"A\xD83D"), "A", false},
      {1200, 65001, Utf16Le(u"\xDE00\xD83D"), "", false},
      // UTF-16 to UTF-16 only swaps bytes: a lone surrogate stays.
      {1200, 1201, Utf16Le(u"\xD83D\xD83D\xDE00"), std::string("\xD8\x3D\xD8\x3D\xDE\x00", 6),
       true},
      {1200, 65001, std::string("A\x00" "B", 3), "A", false},
      {1201, 65001, std::string("\x00", 1), "", false},
  };
  for (const ConversionCase& c : cases) {
    Result result = Convert(c.from, c.to, c.input);
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " of " << Hex(c.input));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(Hex(result.bytes), Hex(c.expected));
    EXPECT_EQ(result.lossless, c.lossless);
  }
}

struct Utf8Case {
  const char* what;
  std::string input;
  std::u16string expected;
};

TEST(TextConversionTest, MalformedUtf8IsDroppedAndMarksTheConversionLossy) {
  const Utf8Case cases[] = {
      {"lone continuation", "\x80", u""},
      {"continuation between letters", "a\xBF" "b", u"ab"},
      {"overlong NUL", "\xC0\x80", u""},
      {"overlong two-byte", "\xC1\xBF", u""},
      {"overlong three-byte", "\xE0\x80\x80", u""},
      {"overlong three-byte top", "\xE0\x9F\xBF", u""},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF", u""},
      {"high surrogate encoded", "\xED\xA0\x80", u""},
      {"low surrogate encoded", "\xED\xBF\xBF", u""},
      {"surrogate pair encoded (CESU-8)", "\xED\xA0\xBD\xED\xB8\x80", u""},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u""},
      {"lead F5", "\xF5\x80\x80\x80", u""},
      {"byte FE", "x\xFE", u"x"},
      {"byte FF", "\xFFy", u"y"},
      {"cut-off two-byte", "\xC3", u""},
      {"cut-off three-byte", "\xE2\x82", u""},
      {"cut-off four-byte", "a\xF0\x9F\x98", u"a"},
      {"broken sequence resumes at the breaking byte", "\xE2\x82" "A", u"A"},
      {"broken four-byte before a valid one", "\xF0\x9F\x98\xC3\xA9", u"\xE9"},
      {"five-byte form", "\xF8\x88\x80\x80\x80", u""},
  };
  for (const Utf8Case& c : cases) {
    Result result = Convert(65001, 1200, c.input);
    SCOPED_TRACE(testing::Message() << c.what << ": " << Hex(c.input));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(Hex(result.bytes), Hex(Utf16Le(c.expected)));
    EXPECT_FALSE(result.lossless);
  }
}

TEST(TextConversionTest, Utf8BoundaryCharactersDecode) {
  const Utf8Case cases[] = {
      {"U+0080", "\xC2\x80", u"\x0080"},
      {"U+07FF", "\xDF\xBF", u"\x07FF"},
      {"U+0800", "\xE0\xA0\x80", u"\x0800"},
      {"U+D7FF", "\xED\x9F\xBF", u"\xD7FF"},
      {"U+E000", "\xEE\x80\x80", u"\xE000"},
      {"U+FFFF", "\xEF\xBF\xBF", u"\xFFFF"},
      {"U+10000", "\xF0\x90\x80\x80", u"\xD800\xDC00"},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
  };
  for (const Utf8Case& c : cases) {
    Result result = Convert(65001, 1200, c.input);
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.lossless);
    EXPECT_EQ(Hex(result.bytes), Hex(Utf16Le(c.expected)));
    Result back = Convert(1200, 65001, result.bytes);
    EXPECT_EQ(back.bytes, c.input);
  }
}

// Every code point, compared with the C library's iconv as an independent encoder.
TEST(TextConversionTest, EveryCodePointRoundTripsAndMatchesIconv) {
  std::u16string units;
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      units += static_cast<char16_t>(cp);
    } else {
      units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  // A leading U+FEFF would be taken as a byte-order mark; the text starts at U+0001.
  const std::string wide = Utf16Le(units);
  Result utf8 = Convert(1200, 65001, wide);
  ASSERT_TRUE(utf8.ok);
  EXPECT_TRUE(utf8.lossless);

  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string reference(wide.size() * 2, '\0');
  char* in = const_cast<char*>(wide.data());
  size_t inLeft = wide.size();
  char* out = reference.data();
  size_t outLeft = reference.size();
  ASSERT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  reference.resize(reference.size() - outLeft);
  EXPECT_TRUE(utf8.bytes == reference);

  Result back = Convert(65001, 1200, utf8.bytes);
  EXPECT_TRUE(back.lossless);
  EXPECT_TRUE(back.bytes == wide);
  Result bigEndian = Convert(65001, 1201, utf8.bytes);
  Result fromBigEndian = Convert(1201, 1200, bigEndian.bytes);
  EXPECT_TRUE(fromBigEndian.lossless);
  EXPECT_TRUE(fromBigEndian.bytes == wide);
}

TEST(TextConversionTest, SingleByteCodePagesRoundTripThroughUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  for (int codePage : {28591, 1252}) {
    std::string input = all;
    if (codePage == 1252) {
      for (char undefined : {'\x81', '\x8D', '\x8F', '\x90', '\x9D'}) {
        input.erase(input.find(undefined), 1);
      }
    }
    Result utf8 = Convert(codePage, 65001, input);
    Result back = Convert(65001, codePage, utf8.bytes);
    EXPECT_TRUE(utf8.lossless) << codePage;
    EXPECT_TRUE(back.lossless) << codePage;
    EXPECT_EQ(Hex(back.bytes), Hex(input)) << codePage;
  }
}

TEST(TextConversionTest, LongTextConvertsWhole) {
  const std::string input(1000000, '\xE9');
  Result utf8 = Convert(1252, 65001, input);
  ASSERT_TRUE(utf8.ok);
  ASSERT_EQ(utf8.bytes.size(), 2000000u);
  EXPECT_EQ(utf8.bytes.find_first_not_of("\xC3\xA9"), std::string::npos);
  Result back = Convert(65001, 1252, utf8.bytes);
  EXPECT_TRUE(back.bytes == input);
}

TEST(TextConversionTest, OutOfMemoryIsAFalseResult) {
  DataBuffer out;
  bool lossless = true;
  SetAllocationFailureForTests(true);
  bool ok = ConvertCodePage(1252, 65001, "abc", 3, out, &lossless);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(lossless);
  EXPECT_TRUE(ConvertCodePage(1252, 65001, "abc", 3, out, &lossless));
  EXPECT_EQ(out.view(), "abc");
}

// The UTF-8 decoder over random bytes weighted towards lead and continuation bytes: it never
// crashes, writes only well-formed UTF-16, keeps the well-formed sequences of the input in
// order and reports loss exactly when something was dropped.
TEST(TextConversionTest, GarbageUtf8NeverCrashesAndKeepsOnlyWellFormedSequences) {
  std::mt19937 random(20240611);
  const uint8_t kInteresting[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                  0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4,
                                  0xF5, 0xFF, 0xEF, 0xBB, 0xBF};
  for (int round = 0; round < 20000; ++round) {
    std::string input(random() % 24, '\0');
    for (char& c : input) {
      c = static_cast<char>(random() % 2 ? kInteresting[random() % sizeof(kInteresting)]
                                         : random() % 256);
    }
    SCOPED_TRACE(Hex(input));
    Result wide = Convert(65001, 1200, input);
    ASSERT_TRUE(wide.ok);
    ASSERT_EQ(wide.bytes.size() % 2, 0u);
    Result again = Convert(1200, 65001, wide.bytes);
    ASSERT_TRUE(again.lossless);  // no lone surrogates came out

    std::string expectedSource = input;
    if (expectedSource.substr(0, 3) == "\xEF\xBB\xBF") expectedSource.erase(0, 3);
    // The UTF-8 encoder writes nothing for U+0000.
    std::erase(expectedSource, '\0');
    // The re-encoded text is the input with some bytes left out.
    size_t pos = 0;
    for (char c : again.bytes) {
      pos = expectedSource.find(c, pos);
      ASSERT_NE(pos, std::string::npos);
      ++pos;
    }
    ASSERT_EQ(wide.lossless, again.bytes == expectedSource);

    for (int to : {1252, 28591, 20127, 1201}) {
      ASSERT_TRUE(Convert(65001, to, input).ok);
    }
    for (int from : {1200, 1201, 1252, 437}) {
      ASSERT_TRUE(Convert(from, 65001, input).ok);
    }
  }
}

struct NameCase {
  const char* name;
  int codePage;
};

TEST(TextConversionTest, CharsetNamesResolve) {
  const NameCase cases[] = {
      {"utf-8", 65001},         {"UTF-8", 65001},         {" UTF_8\t", 65001},
      {"utf8", 65001},          {"utf-16", 1200},         {"Unicode", 1200},
      {"utf-16le", 1200},       {"utf-16be", 1201},       {"iso-8859-1", 28591},
      {"ISO_8859-1", 28591},    {"latin1", 28591},        {"windows-1252", 1252},
      {"Windows-1252", 1252},   {"us-ascii", 20127},      {"ASCII", 20127},
      {"ibm437", 437},          {"ut", 0},                {"", 0},
      {"   ", 0},               {"nonsense", 0},          {"shift_jis", 932},
      {"utf-8x", 0},            {"windows-1252 ", 1252},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(CodePageForCharsetName(c.name), c.codePage) << '"' << c.name << '"';
  }
  EXPECT_EQ(CodePageForCharsetName(nullptr), 0);
  EXPECT_EQ(CodePageForCharsetName(std::string(200, 'a').c_str()), 0);
}

TEST(TextConversionTest, AnsiNameGivesTheAnsiCodePage) {
  EXPECT_EQ(CodePageForCharsetName("ANSI"), 65001);
  SetAnsiCodePageForTests(1252);
  EXPECT_EQ(CodePageForCharsetName("ansi"), 1252);
  SetAnsiCodePageForTests(0);
}

}  // namespace
}  // namespace quillon
