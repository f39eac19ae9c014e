#include "base/charset/charset.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/content_coding.h"
#include "base/charset/encoding_convert.h"
#include "base/platform.h"
#include "base/charset/text_file_charset.h"
#include "base/xstring.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FreshDir;
using testing::ReadFileBytes;

struct NameCase {
  const char* name;
  int codePage;
};

TEST(CharsetTest, NamesResolveAfterNormalising) {
  const NameCase cases[] = {
      {" UTF_8 \r\n", 65001},
      {"UTF-8", 65001},
      {"ut", 0},
      {"latin1", 28591},
      {"Shift_JIS", 932},
      {"SJIS", 932},
      {"ks_c_5601-1987", 949},
      {"KS_C_5601-1989", 949},
      {"big5-hkscs", 950},
      {"x-user-defined", 50000},
      {"utf-7", 65000},
      {"unicodeFFFE", 1201},
      {"ISO_8859-8-I", 38598},
      {"ebcdic-latin9--euro", 20924},
      {"macintosh", 10000},
      {"asmo-449+", 709},
      {"x-mac-japanese", 10001},
      {"\tKOI8-R", 20866},
      {"windows-1252x", 0},
      {"iso-8859-1 ", 28591},
      {"", 0},
      {"x-cp20949", 20949},
      {"cp930", 50930},
      {"utf-32be", 65006},
      // The resolver and the reverse table disagree here.
      {"csiso2022jp", 50220},
      {"iso-2022-jp", 50220},
      {"euc-jp", 51932},
      {"gb18030", 936},
      // Bytes 0xC0-0xDF fold like letters; nothing in the table uses them.
      {"\xC0\xC1\xC2", 0},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(codePageForName(c.name), c.codePage) << '"' << c.name << '"';
  }
  EXPECT_EQ(codePageForName(nullptr), 0);
  EXPECT_EQ(codePageForName(std::string(500, 'a').c_str()), 0);
}

TEST(CharsetTest, AnsiNameGivesTheCurrentAnsiCodePage) {
  EXPECT_EQ(codePageForName("ANSI"), AnsiCodePage());
  SetAnsiCodePageForTests(1252);
  EXPECT_EQ(codePageForName(" ansi "), 1252);
  SetAnsiCodePageForTests(0);
}

TEST(CharsetTest, WrittenNamesComeFromTheReverseTable) {
  const struct {
    int codePage;
    const char* written;  // null: none
  } cases[] = {
      {932, "shift_jis"}, {50221, "csiso2022jp"}, {50222, "iso-2022-jp"}, {20932, "euc-jp"},
      {54936, "gb18030"}, {1200, "unicode"},      {65000, nullptr},       {50000, nullptr},
      {709, nullptr},     {12345, nullptr},       {858, "ibm00858"},      {10082, "x-mac-croatian"},
  };
  for (const auto& c : cases) {
    StringBuffer out("junk");
    EXPECT_EQ(nameForCodePage(c.codePage, out), c.written != nullptr) << c.codePage;
    EXPECT_EQ(out.view(), c.written != nullptr ? c.written : "") << c.codePage;
  }
}

// Walks every code page number, so that each row of the table with a written name is checked.
TEST(CharsetTest, EveryWrittenNameResolvesToItsOwnCodePage) {
  // Names the table writes for two code pages, or also accepts for another, resolve there.
  const std::map<int, int> resolvedElsewhere = {
      {20932, 51932}, {50221, 50220}, {50222, 50220}, {54936, 936}};
  int written = 0;
  for (int codePage = 1; codePage <= 0xFFFF; ++codePage) {
    const char* name = WrittenNameForCodePage(codePage);
    if (name == nullptr) continue;
    ++written;
    auto other = resolvedElsewhere.find(codePage);
    int expected = other == resolvedElsewhere.end() ? codePage : other->second;
    EXPECT_EQ(codePageForName(name), expected) << '"' << name << "\" written for " << codePage;
  }
  EXPECT_GT(written, 100);  // the walk met the table
}

TEST(CharsetTest, CharsetKeepsTheResolvedCodePageAndItsWrittenName) {
  const struct {
    const char* name;
    int codePage;
    const char* written;
  } cases[] = {
      {"latin1", 28591, "iso-8859-1"},
      {"csiso2022jp", 50220, "iso-2022-jp"},
      {"gb18030", 936, "gb2312"},
      {"utf-7", 65000, ""},
      {"SJIS", 932, "shift_jis"},
      {"oem", 437, "ibm437"},
      {"x-user-defined", 0, ""},
      {"default", 0, ""},
      {"nonsense", 0, ""},
      {"Default", 0, ""},  // only the exact word clears on purpose
  };
  for (const auto& c : cases) {
    Charset charset;
    charset.setByCodePage(1252);
    charset.setByName(c.name);
    EXPECT_EQ(charset.codePage(), c.codePage) << c.name;
    EXPECT_STREQ(charset.name(), c.written) << c.name;
  }
  Charset kept;
  kept.setByCodePage(1252);
  kept.setByName(nullptr);
  Charset copy = kept;
  EXPECT_EQ(copy.codePage(), 1252);
  EXPECT_STREQ(copy.name(), "windows-1252");
  copy.setByCodePage(65000);  // no written name
  EXPECT_EQ(copy.codePage(), 0);
  SetAnsiCodePageForTests(1252);
  copy.setByName("AnSi");
  EXPECT_EQ(copy.codePage(), 1252);
  SetAnsiCodePageForTests(0);
}

TEST(CharsetTest, EncodedWordsUseEveryCharsetOfTheTable) {
  StringBuffer text("=?koi8-r?B?8NLJ18XU?= =?shift_jis?Q?=93=FA=96=7B?= =?ks_c_5601-1987?B?sKE=?=");
  ASSERT_TRUE(ContentCoding::decodeWords(text));
  EXPECT_EQ(text.view(),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"
            "\xE6\x97\xA5\xE6\x9C\xAC\xEA\xB0\x80");
}

TEST(CharsetTest, SavingTextInANamedCharset) {
  const struct {
    const char* charset;
    std::string expected;
    bool saved;
  } cases[] = {
      {"utf-8",
       "\xEF\xBB\xBF"
       "A\xC3\xA9\xE2\x82\xAC",
       true},
      {"Unicode",
       std::string("\xFF\xFE"
                   "A\0\xE9\0\xAC\x20",
                   8),
       true},
      {"utf-16be", std::string("\xFE\xFF\0A\0\xE9\x20\xAC", 8), true},
      {"windows-1252", "A\xE9\x80", true},
      {"iso-8859-1", "A\xE9", true},  // the euro sign is dropped silently
      {"no-such-charset",
       std::string("\xFF\xFE"
                   "A\0\xE9\0\xAC\x20",
                   8),
       true},
      {"x-user-defined", "", false},  // no converter: nothing is written
      {"ansi", "A\xC3\xA9\xE2\x82\xAC", true},
      {nullptr, "A\xC3\xA9\xE2\x82\xAC", true},
  };
  std::string dir = FreshDir("save");
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset != nullptr ? c.charset : "(null)");
    XString text;
    ASSERT_TRUE(text.setFromUtf16(u"A\xE9\x20AC"));
    std::string path = dir + "/out" + std::to_string(n++);
    EXPECT_EQ(SaveTextInCharset(text, c.charset, path.c_str()), c.saved);
    if (c.saved) {
      EXPECT_EQ(ReadFileBytes(path), c.expected);
    }
  }
  // Without a current UTF-16 form the UTF-8 form is converted.
  XString utf8;
  ASSERT_TRUE(utf8.setFromUtf8("\xC3\xA9"));
  std::string path = dir + "/utf8";
  ASSERT_TRUE(SaveTextInCharset(utf8, "koi8-r", path.c_str()));
  EXPECT_EQ(ReadFileBytes(path), "");  // koi8-r has no e-acute
  ASSERT_TRUE(SaveTextInCharset(utf8, "bogus", path.c_str()));
  EXPECT_EQ(ReadFileBytes(path), "\xEF\xBB\xBF\xC3\xA9");
}

}  // namespace
}  // namespace quillon
