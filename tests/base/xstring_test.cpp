#include "base/xstring.h"

#include <gtest/gtest.h>

#include <string>

#include "base/memory.h"
#include "base/platform.h"

namespace quillon {
namespace {

// Runs a test with windows-1252 as the ANSI code page, restoring the default afterwards.
class AnsiCodePage1252 {
 public:
  AnsiCodePage1252() { SetAnsiCodePageForTests(1252); }
  ~AnsiCodePage1252() { SetAnsiCodePageForTests(0); }
};

// "café " and U+65E5, which windows-1252 lacks.
const char kUtf8OutsideAnsi[] = "caf\xC3\xA9 \xE6\x97\xA5";
// "café" in UTF-8.
const char kUtf8Cafe[] = "caf\xC3\xA9";

TEST(XStringTest, EmptyValueHasAllFormsValidAndEmpty) {
  XString text;
  EXPECT_TRUE(text.hasValidAnsi());
  EXPECT_TRUE(text.hasValidUtf8());
  EXPECT_TRUE(text.hasValidUtf16());
  EXPECT_TRUE(text.isEmpty());
  EXPECT_STREQ(text.getAnsi(), "");
  EXPECT_STREQ(text.getUtf8(), "");
  EXPECT_EQ(text.getUtf16()[0], u'\0');
  EXPECT_EQ(text.utf16Buffer().view(), std::string("\0\0", 2));
  EXPECT_EQ(text.lengthInChars(), 0u);
  EXPECT_TRUE(text.isAnsiRepresentable());
}

TEST(XStringTest, NullEmptyOrClearedTextIsTheEmptyValue) {
  XString text;
  text.setFromUtf8("abc");
  EXPECT_TRUE(text.setFromUtf8(nullptr));
  EXPECT_TRUE(text.hasValidAnsi() && text.hasValidUtf8() && text.hasValidUtf16());
  text.setFromUtf8("abc");
  EXPECT_TRUE(text.setFromUtf16(u""));
  EXPECT_TRUE(text.hasValidAnsi() && text.hasValidUtf8() && text.hasValidUtf16());
  EXPECT_TRUE(text.isEmpty());
  text.setFromUtf8("abc");
  text.clear();
  EXPECT_TRUE(text.hasValidAnsi() && text.hasValidUtf8() && text.hasValidUtf16());
  EXPECT_STREQ(text.getUtf8(), "");
}

TEST(XStringTest, SettingAFormMakesItTheOnlyValidOne) {
  XString text;
  text.setFromUtf8(kUtf8Cafe);
  EXPECT_TRUE(text.hasValidUtf8());
  EXPECT_FALSE(text.hasValidAnsi());
  EXPECT_FALSE(text.hasValidUtf16());

  text.setFromUtf16(u"caf\xE9");
  EXPECT_TRUE(text.hasValidUtf16());
  EXPECT_FALSE(text.hasValidUtf8());
  EXPECT_FALSE(text.hasValidAnsi());

  text.setFromAnsi("plain");
  EXPECT_TRUE(text.hasValidAnsi());
  EXPECT_FALSE(text.hasValidUtf8());
  EXPECT_FALSE(text.hasValidUtf16());
}

TEST(XStringTest, GettingAFormConvertsAndMarksItValid) {
  XString text;
  text.setFromUtf8(kUtf8Cafe);
  EXPECT_EQ(std::u16string(text.getUtf16()), u"caf\xE9");
  EXPECT_TRUE(text.hasValidUtf16());
  EXPECT_EQ(text.utf16Buffer().view(), std::string("c\0a\0f\0\xE9\0\0\0", 10));

  text.setFromUtf16(u"caf\xE9");
  EXPECT_STREQ(text.getUtf8(), kUtf8Cafe);
  EXPECT_TRUE(text.hasValidUtf8());
}

TEST(XStringTest, AnsiFormUsesTheAnsiCodePage) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf8(kUtf8Cafe);
  EXPECT_STREQ(text.getAnsi(), "caf\xE9");

  text.setFromAnsi("\x80 caf\xE9");
  EXPECT_STREQ(text.getUtf8(), "\xE2\x82\xAC caf\xC3\xA9");
  EXPECT_EQ(std::u16string(text.getUtf16()), u"\x20AC caf\xE9");
}

TEST(XStringTest, RepresentableTestFirstAnswersNoAndLeavesAnsiEmptyAndInvalid) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf8(kUtf8OutsideAnsi);
  EXPECT_FALSE(text.isAnsiRepresentable());
  EXPECT_FALSE(text.hasValidAnsi());
  EXPECT_STREQ(text.getUtf8(), kUtf8OutsideAnsi);
  // Asking for the form afterwards still converts, dropping the character.
  EXPECT_STREQ(text.getAnsi(), "caf\xE9 ");
  EXPECT_TRUE(text.hasValidAnsi());
  EXPECT_FALSE(text.isAnsiRepresentable());
}

TEST(XStringTest, AnsiFormFirstDropsTheCharacterThenTestAnswersNo) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf8(kUtf8OutsideAnsi);
  EXPECT_STREQ(text.getAnsi(), "caf\xE9 ");
  EXPECT_TRUE(text.hasValidAnsi());
  EXPECT_FALSE(text.isAnsiRepresentable());
  EXPECT_STREQ(text.getUtf8(), kUtf8OutsideAnsi);
}

TEST(XStringTest, RepresentableTextKeepsItsAnsiForm) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf16(u"caf\xE9");
  EXPECT_TRUE(text.isAnsiRepresentable());
  EXPECT_TRUE(text.hasValidAnsi());
  EXPECT_STREQ(text.getAnsi(), "caf\xE9");
}

// A lossy ANSI form must not become the source of the UTF-8 form.
TEST(XStringTest, Utf8FormComesFromUtf16WhenAnsiDroppedCharacters) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf16(u"a\x65E5" "b");
  EXPECT_STREQ(text.getAnsi(), "ab");
  EXPECT_STREQ(text.getUtf8(), "a\xE6\x97\xA5" "b");
}

TEST(XStringTest, WideTextBecomesUtf16WithSurrogatePairs) {
  XString text;
  const wchar_t wide[] = {L'x', static_cast<wchar_t>(0x1F600), L'y'};
  EXPECT_TRUE(text.setFromWide(wide, 3));
  EXPECT_EQ(std::u16string(text.getUtf16()), u"x\xD83D\xDE00y");
  EXPECT_STREQ(text.getUtf8(), "x\xF0\x9F\x98\x80y");
  EXPECT_EQ(text.lengthInChars(), 4u);  // UTF-16 units while the ANSI form is not valid
}

TEST(XStringTest, WideValuesThatAreNoCharactersAreDropped) {
  XString text;
  const wchar_t wide[] = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                          L'b'};
  EXPECT_TRUE(text.setFromWide(wide, 4));
  EXPECT_EQ(std::u16string(text.getUtf16()), u"ab");
}

TEST(XStringTest, LongWideTextIsKeptWhole) {
  std::wstring wide;
  for (int i = 0; i < 5000; ++i) wide += (i % 2) ? L'a' : static_cast<wchar_t>(0x10400);
  XString text;
  ASSERT_TRUE(text.setFromWide(wide.data(), static_cast<uint32_t>(wide.size())));
  EXPECT_EQ(text.lengthInChars(), 7500u);
  EXPECT_EQ(std::string(text.getUtf8()).size(), 2500u * 4 + 2500u);
}

TEST(XStringTest, EmojiSurvivesEveryForm) {
  XString text;
  text.setFromUtf8("\xF0\x9F\x98\x80");
  EXPECT_EQ(std::u16string(text.getUtf16()), u"\xD83D\xDE00");
  XString back;
  back.setFromUtf16(text.getUtf16());
  EXPECT_STREQ(back.getUtf8(), "\xF0\x9F\x98\x80");
  EXPECT_TRUE(back.isAnsiRepresentable());  // the ANSI code page is UTF-8 here
}

TEST(XStringTest, MalformedUtf8IsDroppedFromOtherForms) {
  XString text;
  text.setFromUtf8("a\xC0\x80" "b\xED\xA0\x80" "c");
  EXPECT_EQ(std::u16string(text.getUtf16()), u"abc");
  EXPECT_EQ(text.lengthInChars(), 3u);
}

TEST(XStringTest, LengthInCharsIsTheAnsiLengthWhenThatFormIsValid) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf8(kUtf8Cafe);
  EXPECT_EQ(text.lengthInChars(), 4u);  // UTF-16 units
  text.setFromAnsi("caf\xE9!");
  EXPECT_EQ(text.lengthInChars(), 5u);
  // An ANSI form that dropped a character still counts.
  text.setFromUtf16(u"a\x65E5" "b");
  EXPECT_EQ(text.lengthInChars(), 3u);
  EXPECT_STREQ(text.getAnsi(), "ab");
  EXPECT_EQ(text.lengthInChars(), 2u);
}

TEST(XStringTest, CopyKeepsFormsAndIsIndependent) {
  AnsiCodePage1252 ansi;
  XString text;
  text.setFromUtf8(kUtf8OutsideAnsi);
  EXPECT_FALSE(text.isAnsiRepresentable());
  XString copy(text);
  EXPECT_TRUE(copy.hasValidUtf8());
  EXPECT_FALSE(copy.hasValidAnsi());
  EXPECT_FALSE(copy.isAnsiRepresentable());
  EXPECT_STREQ(copy.getUtf8(), kUtf8OutsideAnsi);
  EXPECT_NE(copy.serial(), text.serial());

  XString other;
  other = copy;
  copy.setFromAnsi("changed");
  EXPECT_STREQ(other.getUtf8(), kUtf8OutsideAnsi);
  EXPECT_STREQ(text.getUtf8(), kUtf8OutsideAnsi);
}

TEST(XStringTest, CopyThatRunsOutOfMemoryIsEmptyAndConsistent) {
  XString text;
  const std::string longText(30000, 'x');
  text.setFromUtf8(longText.c_str());
  text.getUtf16();
  SetAllocationFailureForTests(true);
  XString copy(text);
  SetAllocationFailureForTests(false);
  EXPECT_TRUE(copy.isEmpty());
  // A form that claims to be valid holds what it claims: the UTF-16 form its terminator.
  EXPECT_TRUE(!copy.hasValidUtf16() || copy.utf16Buffer().length() >= 2);
  EXPECT_STREQ(copy.getUtf8(), "");
  EXPECT_EQ(copy.getUtf16()[0], u'\0');
  EXPECT_EQ(std::string(text.getUtf8()), longText);
}

TEST(XStringTest, OutOfMemoryLeavesFormsInvalidAndLaterConversionsWork) {
  XString text;
  const std::string longText(30000, 'x');
  text.setFromUtf8(longText.c_str());
  SetAllocationFailureForTests(true);
  const char16_t* failed = text.getUtf16();
  bool validWhileFailing = text.hasValidUtf16();
  SetAllocationFailureForTests(false);
  EXPECT_EQ(failed[0], u'\0');
  EXPECT_FALSE(validWhileFailing);
  EXPECT_EQ(std::u16string(text.getUtf16()), std::u16string(30000, u'x'));
}

TEST(XStringTest, FailedSetLeavesTheEmptyValue) {
  XString text;
  text.setFromUtf8(kUtf8Cafe);
  const std::string longText(5000, 'x');
  SetAllocationFailureForTests(true);
  bool ok = text.setFromUtf8(longText.c_str());
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(text.isEmpty());
  EXPECT_STREQ(text.getUtf8(), "");
  EXPECT_TRUE(text.setFromUtf8(longText.c_str()));
  EXPECT_EQ(text.lengthInChars(), 5000u);
}

}  // namespace
}  // namespace quillon
