#include "base/json_text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace quillon {
namespace {

TEST(JsonTextTest, BadTextsAreRefusedWithoutReadingPastTheirEnd) {
  const std::string deep =
      std::string(JsonText::kMaxDepth + 1, '[') + std::string(JsonText::kMaxDepth + 1, ']');
  for (std::string_view bad : std::initializer_list<std::string_view>{"",
                                                                      "{",
                                                                      "{\"a\"",
                                                                      "{\"a\":}",
                                                                      "{\"a\":1,}",
                                                                      "[1,]",
                                                                      "[1 2]",
                                                                      "{\"a\" 1}",
                                                                      "{1:2}",
                                                                      "\"open",
                                                                      "\"bad \\x escape\"",
                                                                      "\"\\u12\"",
                                                                      "\"tab\there\"",
                                                                      "01",
                                                                      "-",
                                                                      "1.",
                                                                      "1e",
                                                                      "tru",
                                                                      "nul",
                                                                      "[}",
                                                                      "{]",
                                                                      "{\"a\":1}}",
                                                                      deep}) {
    EXPECT_FALSE(JsonText::IsValid(bad)) << bad;
    std::string_view value;
    EXPECT_FALSE(JsonText::Member(bad, "a", value) && !JsonText::IsValid(value)) << bad;
  }
  std::string_view value;
  StringBuffer text("kept");
  EXPECT_FALSE(JsonText::ReadString("\"unended\\", text));
  EXPECT_FALSE(JsonText::Member("[1]", "a", value));
  EXPECT_FALSE(JsonText::Member("{\"a\":[1,}", "a", value));
  int64_t number = 0;
  for (std::string_view notInt : {"1.5", "1e3", "9223372036854775808", "", "-", "\"1\""}) {
    EXPECT_FALSE(JsonText::ReadInt(notInt, number)) << notInt;
  }
  EXPECT_TRUE(JsonText::IsValid(deep.substr(1, deep.size() - 2)));
}

TEST(JsonTextTest, MembersAreFoundByPathAndStringsDecodedToUtf8) {
  const std::string_view message =
      " {\"id\" : -9223372036854775808, \"result\": {\"skip\": [{\"id\": 2}, \"}\"],"
      " \"text\": \"a\\\"b\\\\c\\/\\n\\u00e9\\ud83d\\ude00\\ud800x\"}, \"ok\": true} ";
  ASSERT_TRUE(JsonText::IsValid(message));
  std::string_view value;
  int64_t id = 0;
  ASSERT_TRUE(JsonText::Member(message, "id", value));
  ASSERT_TRUE(JsonText::ReadInt(value, id));
  EXPECT_EQ(id, INT64_MIN);
  std::string_view result;
  ASSERT_TRUE(JsonText::Member(message, "result", result));
  EXPECT_FALSE(JsonText::Member(result, "id", value));
  StringBuffer text;
  ASSERT_TRUE(JsonText::Member(result, "text", value));
  ASSERT_TRUE(JsonText::ReadString(value, text));
  EXPECT_EQ(text.view(), "a\"b\\c/\n\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDx");
  bool ok = false;
  ASSERT_TRUE(JsonText::Member(message, "ok", value));
  EXPECT_TRUE(JsonText::ReadBool(value, ok) && ok);

  StringBuffer written;
  ASSERT_TRUE(JsonText::AppendString(written, std::string_view("q\"\\\x01\n\xC3\xA9", 7)));
  EXPECT_EQ(written.view(), "\"q\\\"\\\\\\u0001\\u000a\xC3\xA9\"");
  ASSERT_TRUE(JsonText::ReadString(written.view(), text));
  EXPECT_EQ(text.view(), std::string_view("q\"\\\x01\n\xC3\xA9", 7));
}

}  // namespace
}  // namespace quillon
