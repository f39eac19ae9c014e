#include "http/url_combiner.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quillon {
namespace {

struct Case {
  std::string reference;
  std::string expected;
};

std::string Combined(std::string_view base, std::string_view reference) {
  StringBuffer out;
  if (!CombineUrl(base, reference, out)) return "<failed>";
  return std::string(out.view());
}

void ExpectAll(std::string_view base, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Combined(base, c.reference), c.expected) << "base " << base << " + " << c.reference;
  }
}

constexpr std::string_view kRfcBase = "http://a/b/c/d;p?q";

TEST(UrlCombinerTest, RfcNormalExamples) {
  ExpectAll(kRfcBase, {
                          {"g:h", "g:h"},
                          {"g", "http://a/b/c/g"},
                          {"./g", "http://a/b/c/g"},
                          {"g/", "http://a/b/c/g/"},
                          {"/g", "http://a/g"},
                          {"//g", "http://g"},
                          {"?y", "http://a/b/c/d;p?y"},
                          {"g?y", "http://a/b/c/g?y"},
                          {"#s", "http://a/b/c/d;p?q#s"},
                          {"g#s", "http://a/b/c/g#s"},
                          {"g?y#s", "http://a/b/c/g?y#s"},
                          {";x", "http://a/b/c/;x"},
                          {"g;x", "http://a/b/c/g;x"},
                          {"g;x?y#s", "http://a/b/c/g;x?y#s"},
                          {"", "http://a/b/c/d;p?q"},
                          {".", "http://a/b/c/"},
                          {"./", "http://a/b/c/"},
                          {"..", "http://a/b/"},
                          {"../", "http://a/b/"},
                          {"../g", "http://a/b/g"},
                          {"../..", "http://a/"},
                          {"../../", "http://a/"},
                          {"../../g", "http://a/g"},
                      });
}

TEST(UrlCombinerTest, RfcAbnormalExamples) {
  ExpectAll(kRfcBase, {
                          {"../../../g", "http://a/g"},
                          {"../../../../g", "http://a/g"},
                          {"/./g", "http://a/g"},
                          {"/../g", "http://a/g"},
                          {"g.", "http://a/b/c/g."},
                          {".g", "http://a/b/c/.g"},
                          {"g..", "http://a/b/c/g.."},
                          {"..g", "http://a/b/c/..g"},
                          {"./../g", "http://a/b/g"},
                          {"./g/.", "http://a/b/c/g/"},
                          {"g/./h", "http://a/b/c/g/h"},
                          {"g/../h", "http://a/b/c/h"},
                          {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
                          {"g;x=1/../y", "http://a/b/c/y"},
                          {"g?y/./x", "http://a/b/c/g?y/./x"},
                          {"g?y/../x", "http://a/b/c/g?y/../x"},
                          {"g#s/./x", "http://a/b/c/g#s/./x"},
                          {"g#s/../x", "http://a/b/c/g#s/../x"},
                          // The non-strict reading that browsers share: same scheme, relative.
                          {"http:g", "http://a/b/c/g"},
                      });
}

TEST(UrlCombinerTest, LinksAndLocationsOfAPage) {
  ExpectAll("http://h/dir/page1.htm",
            {
                {"page2.htm", "http://h/dir/page2.htm"},
                {"../up.htm", "http://h/up.htm"},
                {"?only=1", "http://h/dir/page1.htm?only=1"},
                {"?", "http://h/dir/page1.htm?"},
                {"//other.example", "http://other.example"},
                {"//other.example/x/../y?q#f", "http://other.example/y?q#f"},
                {"//user@other.example:8080/", "http://user@other.example:8080/"},
                {"#top", "http://h/dir/page1.htm#top"},
            });
  ExpectAll("http://h", {{"g", "http://h/g"}, {"", "http://h"}, {"?q", "http://h?q"}});
  ExpectAll("https://h:8443/a/b?x#frag",
            {{"", "https://h:8443/a/b?x"}, {"c", "https://h:8443/a/c"}});
}

TEST(UrlCombinerTest, BackslashesAreSlashes) {
  ExpectAll("http://h/dir/page.htm", {
                                         {"sub\\page.htm", "http://h/dir/sub/page.htm"},
                                         {"..\\other.htm", "http://h/other.htm"},
                                         {"\\root.htm", "http://h/root.htm"},
                                         {"\\\\host\\x", "http://host/x"},
                                         {"http:\\\\x\\y", "http://x/y"},
                                         {"?a=b\\c", "http://h/dir/page.htm?a=b/c"},
                                     });
  EXPECT_EQ(Combined("http://h\\dir\\page.htm", "x"), "http://h/dir/x");
}

TEST(UrlCombinerTest, UnsafeBytesArePercentEncoded) {
  ExpectAll("http://h/dir/page.htm",
            {
                {"a b.htm", "http://h/dir/a%20b.htm"},
                {" lead", "http://h/dir/%20lead"},
                {"?q=a b", "http://h/dir/page.htm?q=a%20b"},
                {"#frag ment", "http://h/dir/page.htm#frag%20ment"},
                {"caf\xC3\xA9.htm", "http://h/dir/caf%C3%A9.htm"},
                {"\x80\xff", "http://h/dir/%80%FF"},
                {"a\tb", "http://h/dir/a%09b"},
                {"del\x7f", "http://h/dir/del%7F"},
                {std::string("nul\0x", 5), "http://h/dir/nul%00x"},
                // CR and LF can never reach a request line.
                {"line\r\nInjected: x", "http://h/dir/line%0D%0AInjected:%20x"},
                {"?a\r\nb", "http://h/dir/page.htm?a%0D%0Ab"},
                // Characters no URI allows are encoded; the merely unusual "'" stays.
                {"a\"<>{}|^`'b", "http://h/dir/a%22%3C%3E%7B%7D%7C%5E%60'b"},
            });
}

TEST(UrlCombinerTest, PercentSignsWithAndWithoutHexDigits) {
  ExpectAll("http://h/dir/page.htm", {
                                         {"a%20b", "http://h/dir/a%20b"},
                                         {"a%2fb", "http://h/dir/a%2fb"},
                                         {"a%2Fb", "http://h/dir/a%2Fb"},
                                         {"100%.htm", "http://h/dir/100%25.htm"},
                                         {"%", "http://h/dir/%25"},
                                         {"a%2", "http://h/dir/a%252"},
                                         {"%zz", "http://h/dir/%25zz"},
                                         {"%g0", "http://h/dir/%25g0"},
                                         {"%%41", "http://h/dir/%25%41"},
                                         {"%25", "http://h/dir/%25"},
                                         {"?p=50%", "http://h/dir/page.htm?p=50%25"},
                                         // An encoded dot is not a dot segment.
                                         {"%2e%2e/x", "http://h/dir/%2e%2e/x"},
                                     });
}

TEST(UrlCombinerTest, AbsoluteReferencesGetTheSameEncoding) {
  ExpectAll(
      "http://h/dir/page.htm",
      {
          {"http://x/a b", "http://x/a%20b"},
          {"https://x/a/../b/./c", "https://x/b/c"},
          {"HTTP://x/y", "http://x/y"},
          {"https://x/\r\nHost: evil", "https://x/%0D%0AHost:%20evil"},
          {"https://x/caf\xC3\xA9?q=\xC3\xA9#\xC3\xA9", "https://x/caf%C3%A9?q=%C3%A9#%C3%A9"},
          {"ftp://x/a%zz", "ftp://x/a%25zz"},
          {"mailto:a b@c", "mailto:a%20b@c"},
      });
  // An absolute reference needs no usable base.
  EXPECT_EQ(Combined("", "http://x/y"), "http://x/y");
  EXPECT_EQ(Combined("not a url", "https://x/../y"), "https://x/y");
}

TEST(UrlCombinerTest, TheBaseIsCanonicalToo) {
  EXPECT_EQ(Combined("http://h/a b/c", "d"), "http://h/a%20b/d");
  EXPECT_EQ(Combined("http://h/a%/c?x y", ""), "http://h/a%25/c?x%20y");
  EXPECT_EQ(Combined("http://h/a/c\r\n", "?q"), "http://h/a/c%0D%0A?q");
}

TEST(UrlCombinerTest, NoSchemeToResolveAgainstFails) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "x"},  {"", ""},  {"/dir/page.htm", "x"}, {"//h/dir/", "x"},
      {"1http://h/", "x"}, {":", "x"}, {"www.example.com/a", "b"},
  };
  for (const auto& [base, reference] : cases) {
    StringBuffer out("stale");
    EXPECT_FALSE(CombineUrl(base, reference, out)) << base << " + " << reference;
    EXPECT_TRUE(out.isEmpty());
  }
}

TEST(UrlCombinerTest, ResultsOf1999CharactersOrMoreFail) {
  const std::string base = "http://h/";  // 9 characters
  const std::string fits(kCombinedUrlLimit - 1 - base.size(), 'a');
  EXPECT_EQ(Combined(base, fits), base + fits);
  EXPECT_EQ(Combined(base, fits).size(), 1998u);
  EXPECT_EQ(Combined(base, fits + "a"), "<failed>");

  // The limit applies to the encoded result: 663 spaces make 1989 characters.
  EXPECT_EQ(Combined(base, std::string(663, ' ')).size(), 1998u);
  EXPECT_EQ(Combined(base, std::string(663, ' ') + "a"), "<failed>");

  // A long reference whose dot segments fold away is fine.
  std::string folding;
  for (int i = 0; i < 2000; ++i) folding += "x/../";
  EXPECT_EQ(Combined(base, folding + "g"), "http://h/g");

  // A failure leaves the output empty.
  StringBuffer out("stale");
  EXPECT_FALSE(CombineUrl(base, fits + "a", out));
  EXPECT_TRUE(out.isEmpty());
}

// Every byte of a combined URL can go into a request line as it is.
void ExpectRequestSafe(const std::string& url, const std::string& context) {
  ASSERT_LT(url.size(), kCombinedUrlLimit) << context;
  for (size_t i = 0; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    ASSERT_TRUE(c > 0x20 && c < 0x7F && c != '\\') << context << " at " << i;
    if (c == '%') {
      ASSERT_TRUE(i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
                  std::isxdigit(static_cast<unsigned char>(url[i + 2])))
          << context << " at " << i;
    }
  }
}

TEST(UrlCombinerTest, GarbageNeverCrashes) {
  const char* pieces[] = {"http:", "https:", "//", "/", "\\", ".", "..", "./", "../", "?", "#",
                          "%", "%4", "%41", " ", "\r\n", "\xC3\xA9", "a", "host", ":8080", "@",
                          ";x=1", "g:"};
  std::mt19937 random(19990);
  int combined = 0;
  for (int i = 0; i < 30000; ++i) {
    std::string parts[2];
    for (std::string& part : parts) {
      if (random() % 2 == 0) {
        const size_t length = random() % 120;
        for (size_t k = 0; k < length; ++k) part += static_cast<char>(random() % 256);
      } else {
        const size_t count = random() % 14;
        for (size_t k = 0; k < count; ++k) part += pieces[random() % std::size(pieces)];
      }
    }
    if (i % 3 == 0) parts[0] = "http://a/b/c/d;p?q";
    StringBuffer out;
    const std::string context = parts[0] + " + " + parts[1];
    if (CombineUrl(parts[0], parts[1], out)) {
      ++combined;
      ExpectRequestSafe(std::string(out.view()), context);
    } else {
      EXPECT_TRUE(out.isEmpty()) << context;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(combined, 10000);
}

}  // namespace
}  // namespace quillon
