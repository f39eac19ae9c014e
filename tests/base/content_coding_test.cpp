#include "base/content_coding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/memory.h"

namespace quillon {
namespace {

std::string EncodeBase64(const std::string& bytes) {
  StringBuffer out;
  EXPECT_TRUE(ContentCoding::encodeBase64(bytes.data(), static_cast<uint32_t>(bytes.size()), out));
  return std::string(out.view());
}

std::string DecodeBase64(const std::string& text) {
  DataBuffer out;
  EXPECT_TRUE(ContentCoding::decodeBase64(text.data(), static_cast<uint32_t>(text.size()), out));
  return std::string(out.view());
}

std::string EncodeQp(const std::string& bytes) {
  StringBuffer out;
  EXPECT_TRUE(
      ContentCoding::encodeQuotedPrintable(bytes.data(), static_cast<uint32_t>(bytes.size()), out));
  return std::string(out.view());
}

std::string DecodeQp(const std::string& text) {
  DataBuffer out;
  EXPECT_TRUE(
      ContentCoding::decodeQuotedPrintable(text.data(), static_cast<uint32_t>(text.size()), out));
  return std::string(out.view());
}

std::string EncodeQ(const std::string& bytes) {
  StringBuffer out;
  EXPECT_TRUE(ContentCoding::encodeQ(bytes.data(), static_cast<uint32_t>(bytes.size()), out));
  return std::string(out.view());
}

std::string DecodeQ(const std::string& text) {
  DataBuffer out;
  EXPECT_TRUE(ContentCoding::decodeQ(text.data(), static_cast<uint32_t>(text.size()), out));
  return std::string(out.view());
}

using WordEncoder = bool (*)(const char*, uint32_t, const char*, StringBuffer&);

std::string EncodeWith(WordEncoder encoder, const std::string& text, const char* charset) {
  StringBuffer out;
  EXPECT_TRUE(encoder(text.data(), static_cast<uint32_t>(text.size()), charset, out));
  return std::string(out.view());
}

std::string DecodeWords(const std::string& header, bool raw = false) {
  StringBuffer text(header);
  EXPECT_TRUE(raw ? ContentCoding::decodeWordsRaw(text) : ContentCoding::decodeWords(text));
  return std::string(text.view());
}

std::vector<std::string> SplitWords(const std::string& words) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = words.find("\r\n\t", start);
    parts.push_back(words.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 3;
  }
}

struct Pair {
  std::string input;
  std::string expected;
};

// ---- Base64 ----

TEST(Base64Test, Rfc4648VectorsBothWays) {
  const Pair vectors[] = {{"", ""},
                          {"f", "Zg=="},
                          {"fo", "Zm8="},
                          {"foo", "Zm9v"},
                          {"foob", "Zm9vYg=="},
                          {"fooba", "Zm9vYmE="},
                          {"foobar", "Zm9vYmFy"}};
  for (const Pair& v : vectors) {
    EXPECT_EQ(EncodeBase64(v.input), v.expected) << v.input;
    EXPECT_EQ(DecodeBase64(v.expected), v.input) << v.expected;
  }
  EXPECT_EQ(EncodeBase64("\xfb\xff"), "+/8=");
  EXPECT_EQ(DecodeBase64("+/8="), "\xfb\xff");
}

TEST(Base64Test, LargeInputRoundTrips) {
  std::mt19937 rng(11);
  std::string data(100001, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  std::string encoded = EncodeBase64(data);
  EXPECT_EQ(encoded.size(), (data.size() + 2) / 3 * 4);
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(DecodeBase64(encoded), data);
}

TEST(Base64Test, EncodingAppends) {
  StringBuffer out("Basic ");
  ASSERT_TRUE(ContentCoding::encodeBase64("user:pw", 7, out));
  EXPECT_EQ(out.view(), "Basic dXNlcjpwdw==");
}

TEST(Base64Test, DecodingSkipsBreaksBlanksAndStrayCharacters) {
  const Pair cases[] = {
      {"Zm9v\r\nYmFy", "foobar"},     {"Zm9v YmFy\t", "foobar"},
      {" Z m 9 v ", "foo"},           {"Zm9v~YmFy", "foobar"},  // above "z"
      {"Zm9v-Ym_Fy:", "foobar"},       // inside "+".."z" but not in the alphabet
      {"Zm9v\x80\xffYmFy", "foobar"},  // bytes of 0x80 and above
  };
  for (const Pair& c : cases) EXPECT_EQ(DecodeBase64(c.input), c.expected) << c.input;
}

TEST(Base64Test, NulOrPaddingEndsDecoding) {
  EXPECT_EQ(DecodeBase64(std::string("Zm9v\0YmFy", 9)), "foo");
  EXPECT_EQ(DecodeBase64("Zm8=YmFy"), "fo");
  EXPECT_EQ(DecodeBase64("=Zm9v"), "");
}

TEST(Base64Test, IncompleteFinalGroupGivesOnlyWholeBytes) {
  EXPECT_EQ(DecodeBase64("Zm9vY"), "foo");
  EXPECT_EQ(DecodeBase64("Zm9vYg"), "foob");
  EXPECT_EQ(DecodeBase64("Zm9vYmE"), "fooba");
}

TEST(Base64Test, DecodingNeverReadsPastTheGivenLength) {
  // Exactly sized heap copy without a terminator: reading past it would be caught by ASan.
  const char source[] = {'Z', 'm', '9', 'v', 'Y', 'm', 'F', 'y'};
  std::vector<char> exact(source, source + sizeof(source));
  DataBuffer out;
  ASSERT_TRUE(ContentCoding::decodeBase64(exact.data(), 4, out));
  EXPECT_EQ(out.view(), "foo");
  out.clear();
  ASSERT_TRUE(ContentCoding::decodeBase64(exact.data(), static_cast<uint32_t>(exact.size()), out));
  EXPECT_EQ(out.view(), "foobar");
}

TEST(Base64Test, DecodedBytesAreAppendedAndFollowedByAZero) {
  DataBuffer out;
  out.append("x:");
  ASSERT_TRUE(ContentCoding::decodeBase64("Zm9vYg==", 8, out));
  EXPECT_EQ(out.view(), "x:foob");
  ASSERT_GT(out.capacity(), out.length());
  EXPECT_EQ(out.data()[out.length()], 0);
}

TEST(Base64Test, OutOfMemoryLeavesTheTextUnchanged) {
  std::string data(10000, 'x');
  StringBuffer out("kept");
  SetAllocationFailureForTests(true);
  bool ok = ContentCoding::encodeBase64(data.data(), static_cast<uint32_t>(data.size()), out);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out.view(), "kept");
}

// ---- Quoted-printable ----

TEST(QuotedPrintableTest, EncodingRules) {
  const Pair cases[] = {
      {"plain text", "plain text"},
      {"From here", "=46rom here"},
      {"From", "From"},
      {"Fromage", "Fromage"},
      {"a From b", "a From b"},
      {"line\r\nFrom x", "line\r\n=46rom x"},
      {".hidden", "=2Ehidden"},
      {"a.b\r\n.c", "a.b\r\n=2Ec"},
      {"trail ", "trail=20"},
      {"tab\t", "tab=09"},
      {"a \r\nb", "a=20\r\nb"},
      {"a\t\r\nb", "a=09\r\nb"},
      {"a b\tc", "a b\tc"},
      {"a=b", "a=3Db"},
      {"lone\nlf", "lone=0Alf"},
      {"lone\rcr", "lone=0Dcr"},
      {std::string("nul\0", 4), "nul=00"},
      {"\x7f\x80\xff", "=7F=80=FF"},
      {"!<>~", "!<>~"},
      {"caf\xc3\xa9", "caf=C3=A9"},
  };
  for (const Pair& c : cases) EXPECT_EQ(EncodeQp(c.input), c.expected) << c.input;
}

TEST(QuotedPrintableTest, LongLineGetsASoftBreakAfter72Characters) {
  std::string line(100, 'a');
  EXPECT_EQ(EncodeQp(line), std::string(72, 'a') + "=\r\n" + std::string(28, 'a'));
}

TEST(QuotedPrintableTest, NoSoftBreakAtTheEndOrBeforeAHardBreak) {
  EXPECT_EQ(EncodeQp(std::string(72, 'a')), std::string(72, 'a'));
  std::string text = std::string(72, 'a') + "\r\nb";
  EXPECT_EQ(EncodeQp(text), text);
}

TEST(QuotedPrintableTest, EscapesMayPushALineTo74BeforeTheBreak) {
  std::string text = std::string(71, 'a') + "=b";
  EXPECT_EQ(EncodeQp(text), std::string(71, 'a') + "=3D=\r\nb");
}

TEST(QuotedPrintableTest, LineStartRulesApplyAfterASoftBreak) {
  EXPECT_EQ(EncodeQp(std::string(72, 'a') + "From x"), std::string(72, 'a') + "=\r\n=46rom x");
  EXPECT_EQ(EncodeQp(std::string(72, 'a') + ".x"), std::string(72, 'a') + "=\r\n=2Ex");
}

TEST(QuotedPrintableTest, RandomInputsKeepLinesShortAndRoundTrip) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::string data;
    size_t n = rng() % 600;
    for (size_t i = 0; i < n; ++i) {
      // Mostly text, with line breaks, blanks and binary bytes mixed in.
      uint32_t pick = rng() % 20;
      data += pick == 0   ? '\r'
              : pick == 1 ? '\n'
              : pick == 2 ? ' '
              : pick == 3 ? '\t'
              : pick == 4 ? static_cast<char>(rng())
                          : static_cast<char>('a' + rng() % 26);
    }
    std::string encoded = EncodeQp(data);
    size_t start = 0;
    for (;;) {
      size_t end = encoded.find("\r\n", start);
      size_t lineLength = (end == std::string::npos ? encoded.size() : end) - start;
      EXPECT_LE(lineLength, 76u) << round;
      if (end == std::string::npos) break;
      start = end + 2;
    }
    EXPECT_EQ(DecodeQp(encoded), data) << round;
  }
}

TEST(QuotedPrintableTest, DecodingUndoesEscapesAndSoftBreaks) {
  const Pair cases[] = {
      {"a=3Db", "a=b"},
      {"a=3db", "a=b"},
      {"soft=\r\nbreak", "softbreak"},
      {"soft=\nbreak", "softbreak"},
      {"hard\r\nbreak", "hard\r\nbreak"},
      {"bad=G1", "bad=G1"},
      {"end=", "end="},
      {"end=4", "end=4"},
  };
  for (const Pair& c : cases) EXPECT_EQ(DecodeQp(c.input), c.expected) << c.input;
}

TEST(QuotedPrintableTest, OutOfMemoryLeavesTheTextUnchanged) {
  std::string data(20000, '=');
  StringBuffer out("kept");
  SetAllocationFailureForTests(true);
  bool ok =
      ContentCoding::encodeQuotedPrintable(data.data(), static_cast<uint32_t>(data.size()), out);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out.view(), "kept");
}

// ---- Q encoding ----

TEST(QEncodingTest, EncodingRules) {
  const Pair cases[] = {
      {"a b", "a_b"}, {"=?_", "=3D=3F=5F"},          {"@^`~", "@^`~"},
      {"!<>", "!<>"}, {"\x01\x1f\x7f", "=01=1F=7F"}, {"caf\xe9", "caf=E9"},
      {"\t", "=09"},
  };
  for (const Pair& c : cases) EXPECT_EQ(EncodeQ(c.input), c.expected) << c.input;
}

TEST(QEncodingTest, DecodingRules) {
  const Pair cases[] = {
      {"a_b", "a b"},
      {"=3D=3d", "=="},
      {"=3F", "?"},
      {"caf=E9", "caf\xe9"},
      {"=G1", "=G1"},
      {"x=4", "x=4"},
      {"x=", "x="},
      {"a?b", "ab"},
      {"a\x01\x1f\x7f"
       "b",
       "ab"},
      {"a\x80\x9f"
       "b",
       "ab"},
      {"a\xa0\xff", "a\xa0\xff"},
      {"a b", "a b"},
  };
  for (const Pair& c : cases) EXPECT_EQ(DecodeQ(c.input), c.expected) << c.input;
}

TEST(QEncodingTest, EveryByteRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(DecodeQ(EncodeQ(all)), all);
}

// ---- Encoded words ----

TEST(EncodedWordTest, CharsetChoosesBOrQ) {
  const std::string text = "0123456789";
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, text, "windows-1254"),
            "=?windows-1254?B?MDEyMzQ1Njc4OQ==?=");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, text, "iso-8859-1"),
            "=?iso-8859-1?Q?0123456789?=");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, "a b", "SHIFT_JIS"), "=?SHIFT_JIS?B?YSBi?=");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, "a b", "Big5"), "=?Big5?B?YSBi?=");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, "a b", "koi8-r"), "=?koi8-r?Q?a_b?=");
}

TEST(EncodedWordTest, EmptyCharsetMeansUtf8) {
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, "caf\xc3\xa9", ""), "=?utf-8?Q?caf=C3=A9?=");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, "x", nullptr), "=?utf-8?Q?x?=");
}

TEST(EncodedWordTest, EmptyTextGivesNothing) {
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, "", "utf-8"), "");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWordsQ, "", "utf-8"), "");
}

TEST(EncodedWordTest, AlreadyEncodedTextIsCopied) {
  for (const char* text : {"=?utf-8?q?x?=", "=?utf-8?B?eA==?=", "plain ?Q? marker"}) {
    EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, text, "utf-8"), text);
  }
  // Only the first 100 bytes are searched.
  std::string late = std::string(100, 'a') + "?Q?";
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWord, late, "utf-8"),
            "=?utf-8?Q?" + late.substr(0, 100) + "=3FQ=3F?=");
}

TEST(EncodedWordTest, ShortTextsBecomeOneWord) {
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWordsQ, std::string(34, 'q'), "utf-8"),
            "=?utf-8?Q?" + std::string(34, 'q') + "?=");
  EXPECT_EQ(EncodeWith(ContentCoding::encodeWordsB, std::string(23, 'b'), "utf-8"),
            "=?utf-8?B?" + EncodeBase64(std::string(23, 'b')) + "?=");
}

TEST(EncodedWordTest, LongQTextIsSplitIntoWordsOf17Characters) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += static_cast<char>('a' + i % 26);
  std::string words = EncodeWith(ContentCoding::encodeWordsQ, text, "utf-8");
  std::vector<std::string> parts = SplitWords(words);
  ASSERT_EQ(parts.size(), 6u) << words;  // 100 characters, 17 per word
  EXPECT_EQ(parts[0], "=?utf-8?Q?" + text.substr(0, 17) + "?=");
  EXPECT_EQ(parts[5], "=?utf-8?Q?" + text.substr(85) + "?=");
  EXPECT_EQ(DecodeWords(words), text);
}

TEST(EncodedWordTest, LongBTextIsSplitIntoWordsOf12Characters) {
  std::string text(24, 'x');
  std::string words = EncodeWith(ContentCoding::encodeWordsB, text, "utf-8");
  std::vector<std::string> parts = SplitWords(words);
  ASSERT_EQ(parts.size(), 2u) << words;
  EXPECT_EQ(parts[0], "=?utf-8?B?" + EncodeBase64(std::string(12, 'x')) + "?=");
  EXPECT_EQ(DecodeWords(words), text);
}

TEST(EncodedWordTest, SplittingKeepsMultiByteCharactersWhole) {
  // 16 letters, then a character outside the BMP (a surrogate pair in UTF-16) that would
  // straddle the 17-unit cut, then more accented letters.
  std::string text = std::string(16, 'a') + "\xf0\x9f\x98\x80" + "\xc3\xa9\xc3\xa8 fin de ligne";
  std::string words = EncodeWith(ContentCoding::encodeWordsQ, text, "utf-8");
  for (const std::string& word : SplitWords(words)) {
    std::string single = DecodeWords(word, true);
    // Each word on its own holds whole UTF-8 sequences.
    ASSERT_FALSE(single.empty());
    EXPECT_NE(static_cast<uint8_t>(single[0]) & 0xC0, 0x80) << word;
  }
  EXPECT_EQ(DecodeWords(words), text);
}

TEST(EncodedWordTest, LongLatin1TextStaysInItsCharset) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xe9";
  std::string words = EncodeWith(ContentCoding::encodeWordsQ, text, "iso-8859-1");
  std::vector<std::string> parts = SplitWords(words);
  ASSERT_EQ(parts.size(), 3u) << words;
  std::string first;
  for (int i = 0; i < 17; ++i) first += "=E9";
  EXPECT_EQ(parts[0], "=?iso-8859-1?Q?" + first + "?=");
  EXPECT_EQ(DecodeWords(words, true), text);
  std::string utf8;
  for (int i = 0; i < 40; ++i) utf8 += "\xc3\xa9";
  EXPECT_EQ(DecodeWords(words), utf8);
}

TEST(EncodedWordTest, UnknownCharsetIsCutAsUtf8) {
  std::string text(40, 'z');
  std::string words = EncodeWith(ContentCoding::encodeWordsQ, text, "x-unknown");
  std::vector<std::string> parts = SplitWords(words);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0], "=?x-unknown?Q?" + std::string(17, 'z') + "?=");
}

// ---- Decoding encoded words ----

TEST(DecodeWordsTest, Cases) {
  const Pair cases[] = {
      {"no encoded words here", "no encoded words here"},
      {"", ""},
      {"=?utf-8?Q?caf=C3=A9?=", "caf\xc3\xa9"},
      {"=?UTF-8?q?a_b?=", "a b"},
      {"=?utf-8?B?Zm9vYmFy?=", "foobar"},
      {"=?utf-8?b?Zm9vYmFy?=", "foobar"},
      {"=?ISO-8859-1?Q?caf=E9?=", "caf\xc3\xa9"},
      {"=?windows-1252?Q?=80?=", "\xe2\x82\xac"},
      {"=?8bit?Q?caf=C3=A9?=", "caf\xc3\xa9"},
      {"=?x-unknown?Q?=E9?=", "\xe9"},
      {"=?utf-8?X?a_b?=", "a b"},  // any letter but B means Q
      {"Re: =?utf-8?Q?x?= end", "Re: x end"},
      {"=?utf-8?Q?a?= =?utf-8?Q?b?=", "ab"},
      {"=?utf-8?Q?a?=\r\n\t=?utf-8?Q?b?=", "ab"},
      {"=?utf-8?Q?a?= and =?utf-8?Q?b?=", "a and b"},
      {"a=?utf-8?Q?"
       "?=b",
       "ab"},
      {"Hello =?utf-8", "Hello "},
      {"Hello =?utf-8?", "Hello "},
      {"Hello =?utf-8?Q", "Hello "},
      {"Hello =?utf-8?Qx?abc?=", "Hello "},
      {"Hello =?utf-8?Q?abc", "Hello "},
      {"=?utf-8?Q?ok?= then =?broken", "ok then "},
      {"=?utf-8?Q?a?= =?utf-8?Q?b", "a "},
      {"ends with =?", "ends with "},
  };
  for (const Pair& c : cases) EXPECT_EQ(DecodeWords(c.input), c.expected) << c.input;
}

TEST(DecodeWordsTest, RawVariantKeepsTheWordsCharset) {
  EXPECT_EQ(DecodeWords("=?ISO-8859-1?Q?caf=E9?=", true), "caf\xe9");
  EXPECT_EQ(DecodeWords("=?ISO-8859-1?B?Y2Fm6Q==?=", true), "caf\xe9");
}

TEST(DecodeWordsTest, RoundTripsEncodeWord) {
  const char* charsets[] = {"utf-8", "windows-1254", "iso-8859-1", ""};
  for (const char* charset : charsets) {
    std::string text = "Sujet: r\xc3\xa9sum\xc3\xa9 = ? _ fin";
    std::string word = EncodeWith(ContentCoding::encodeWord, text, charset);
    EXPECT_EQ(DecodeWords(word, true), text) << charset;
  }
}

// ---- Robustness ----

TEST(ContentCodingTest, GarbageNeverCrashes) {
  std::mt19937 rng(424242);
  const char alphabet[] = "=?_BbQq \r\n\tAZaz09+/-\x80\xff";
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    size_t n = rng() % 200;
    for (size_t i = 0; i < n; ++i) {
      input += rng() % 3 ? alphabet[rng() % (sizeof(alphabet) - 1)] : static_cast<char>(rng());
    }
    // Exactly sized copy so any read past the end shows under ASan.
    std::vector<char> exact(input.begin(), input.end());
    const char* p = exact.empty() ? "" : exact.data();
    uint32_t len = static_cast<uint32_t>(exact.size());
    DataBuffer bytes;
    EXPECT_TRUE(ContentCoding::decodeBase64(p, len, bytes));
    EXPECT_LE(bytes.length(), len);
    EXPECT_TRUE(ContentCoding::decodeQ(p, len, bytes));
    EXPECT_TRUE(ContentCoding::decodeQuotedPrintable(p, len, bytes));
    StringBuffer words(p, len);
    EXPECT_TRUE(ContentCoding::decodeWords(words));
    StringBuffer encoded;
    EXPECT_TRUE(ContentCoding::encodeWordsQ(p, len, "utf-8", encoded));
    EXPECT_TRUE(ContentCoding::encodeWordsB(p, len, "iso-8859-1", encoded));
    EXPECT_TRUE(ContentCoding::encodeQuotedPrintable(p, len, encoded));
  }
}

}  // namespace
}  // namespace quillon
