#include "app/sitemap_writer.h"

#include <gtest/gtest.h>

namespace tollwick {
namespace {

constexpr char kUrl[] = "http://example.com/a.html";

struct ListItemCase {
  const char* keywords;
  const char* title;
  const char* description;
  const char* expected;
};

TEST(ListItemTest, FallbacksFollowTheLengthRules) {
  const ListItemCase cases[] = {
      // Nothing at all: empty attribute, the address as link text, nothing after " : ".
      {"", "", "",
       "<li><a title=\"\" href=\"http://example.com/a.html\">http://example.com/a.html</a> : "
       "</li>\r\n"},
      // A title but no keywords: the title in both places.
      {"", "Home", "",
       "<li><a title=\"Home\" href=\"http://example.com/a.html\">Home</a> : </li>\r\n"},
      // No title or keywords but a description: the description in the attribute.
      {"", "", "About us",
       "<li><a title=\"About us\" href=\"http://example.com/a.html\">http://example.com/a.html</a>"
       " : About us</li>\r\n"},
      // A one-character title is replaced by the address; one-character keywords by the title.
      {"k", "T", "Text",
       "<li><a title=\"Text\" href=\"http://example.com/a.html\">http://example.com/a.html</a> : "
       "Text</li>\r\n"},
      {"k", "Title", "",
       "<li><a title=\"Title\" href=\"http://example.com/a.html\">Title</a> : </li>\r\n"},
      // Two-character values are kept.
      {"kw", "Ti", "D",
       "<li><a title=\"kw\" href=\"http://example.com/a.html\">Ti</a> : D</li>\r\n"},
      // One-character keywords stay when neither title nor description can stand in.
      {"k", "", "d",
       "<li><a title=\"k\" href=\"http://example.com/a.html\">http://example.com/a.html</a> : "
       "d</li>\r\n"},
  };
  for (const ListItemCase& c : cases) {
    EXPECT_EQ(FormatListItem(c.keywords, c.title, c.description, kUrl), c.expected)
        << "keywords=" << c.keywords << " title=" << c.title << " description=" << c.description;
  }
}

TEST(ListItemTest, LengthsCountBytesNotCharacters) {
  // "é" is two bytes in UTF-8, so it is not a one-character title.
  EXPECT_EQ(
      FormatListItem("", "\xC3\xA9", "", kUrl),
      "<li><a title=\"\xC3\xA9\" href=\"http://example.com/a.html\">\xC3\xA9</a> : </li>\r\n");
}

TEST(ListItemEscapingTest, MarkupFromThePageIsWrittenAsText) {
  EXPECT_EQ(FormatListItem("a \"b\" <c>", "<b>Bold</b> & co", "x > y < z", kUrl),
            "<li><a title=\"a &quot;b&quot; &lt;c&gt;\" href=\"http://example.com/a.html\">"
            "&lt;b&gt;Bold&lt;/b&gt; & co</a> : x &gt; y &lt; z</li>\r\n");
}

TEST(ListItemEscapingTest, QuoteInTheAddressCannotCloseTheHref) {
  EXPECT_EQ(FormatListItem("kw", "Title", "", "http://e.com/a\"b.html"),
            "<li><a title=\"kw\" href=\"http://e.com/a&quot;b.html\">Title</a> : </li>\r\n");
}

TEST(ListItemEscapingTest, EntitiesCopiedFromThePageStayAsTheyAre) {
  EXPECT_EQ(FormatListItem("Tips &amp; tricks", "Caf&eacute;", "&lt;raw&gt;", kUrl),
            "<li><a title=\"Tips &amp; tricks\" href=\"http://example.com/a.html\">Caf&eacute;</a>"
            " : &lt;raw&gt;</li>\r\n");
}

TEST(ListItemEscapingTest, FallbackRulesSeeTheUnescapedLengths) {
  // ">" is one byte on the page: the title falls back to the address before escaping.
  EXPECT_EQ(FormatListItem("", ">", "", kUrl),
            "<li><a title=\"\" href=\"http://example.com/a.html\">http://example.com/a.html</a> : "
            "</li>\r\n");
}

TEST(SitemapHeadTest, FullHeadBytes) {
  SitemapFields fields;
  fields.title = "  My site \r\n";
  fields.description = " Line one\r\nline two\n";
  std::string out;
  AppendSitemapHead(out, fields, true);
  EXPECT_EQ(out,
            "<html>\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
            "<meta http-equiv=\"Content-Language\" content=\"en\" />\r\n"
            "<meta name=\"Robots\" content=\"All\" />\r\n"
            "<meta name=\"Rating\" content=\"General\" />\r\n"
            "<meta name=\"Distribution\" content=\"Global\" />\r\n"
            "<title>My site</title>\r\n"
            "<meta name=\"description\" content=\"Line oneline two\" />\r\n"
            "</head>\r\n<body>\r\n<h1>Sitemap</h1>\r\n<ul>\r\n");
}

TEST(SitemapHeadTest, EmptyFieldsLeaveOutTheirLinesButMetaTagsKeepTheirLineEnd) {
  SitemapFields fields;
  fields.title = " \t";
  fields.description = "\r\n";
  fields.metaTags = "  ";
  std::string out;
  AppendSitemapHead(out, fields, false);
  EXPECT_EQ(out, "<html>\r\n<head>\r\n\r\n</head>\r\n<body>\r\n<h1>Sitemap</h1>\r\n<ul>\r\n");
}

TEST(SitemapHeadTest, TrimsTheFieldsThemselves) {
  SitemapFields fields;
  fields.title = " T ";
  fields.description = "\ta\r\nb ";
  fields.metaTags = "\r\n<meta x />\r\n";
  std::string out;
  AppendSitemapHead(out, fields, false);
  EXPECT_EQ(fields.title, "T");
  EXPECT_EQ(fields.description, "ab");
  EXPECT_EQ(fields.metaTags, "<meta x />");
}

TEST(SitemapHeadTest, TitleAndDescriptionAreWrittenAsTyped) {
  SitemapFields fields;
  fields.title = "A & <B>";
  fields.description = "say \"hi\"";
  fields.metaTags = "";
  std::string out;
  AppendSitemapHead(out, fields, false);
  EXPECT_NE(out.find("<title>A & <B></title>\r\n"), std::string::npos);
  EXPECT_NE(out.find("<meta name=\"description\" content=\"say \"hi\"\" />\r\n"),
            std::string::npos);
}

TEST(SitemapFooterTest, FooterBytesEndWithoutLineEnd) {
  std::string out;
  AppendSitemapFooter(out, "  <script>x</script>\r\n");
  EXPECT_EQ(out, std::string("</ul>\r\n<br />\r\n<br />\r\n") + kPromotionalLine +
                     "\r\n\r\n  <script>x</script>\r\n\r\n</body>\r\n</html>");
}

TEST(SitemapFooterTest, EmptyEndOfBodyStillWritesItsLineEnd) {
  std::string out;
  AppendSitemapFooter(out, "");
  EXPECT_EQ(out, std::string("</ul>\r\n<br />\r\n<br />\r\n") + kPromotionalLine +
                     "\r\n\r\n\r\n</body>\r\n</html>");
}

TEST(TrimWhiteSpaceTest, RemovesOnlyTheFourWhiteSpaceCharacters) {
  EXPECT_EQ(TrimWhiteSpace("\t\r\n a b \n\r\t"), "a b");
  EXPECT_EQ(TrimWhiteSpace("\v x \f"), "\v x \f");
  EXPECT_EQ(TrimWhiteSpace(" \r\n"), "");
}

}  // namespace
}  // namespace tollwick
