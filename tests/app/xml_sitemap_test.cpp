#include "app/xml_sitemap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

namespace tollwick {
namespace {

using quillon::testing::ReadFileBytes;

TEST(XmlSitemapTest, LastModifiedBecomesAW3cDateTimeOnlyWhenItIsAnImfFixdate) {
  const struct {
    const char* httpDate;
    const char* w3c;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06T08:49:37+00:00"},
      {"  Thu, 29 Feb 2024 23:59:59 GMT ", "2024-02-29T23:59:59+00:00"},
      {"Thu, 29 Feb 2023 00:00:00 GMT", ""},   // no such day
      {"Sun, 06 Nov 1994 24:00:00 GMT", ""},   // no such hour
      {"Sun, 06 Nov 1994 08:49:60 GMT", ""},   // leap seconds are no xsd:dateTime
      {"Sun, 06 Nov 1994 08:49:37 CET", ""},   // HTTP dates are GMT
      {"Sunday, 06-Nov-94 08:49:37 GMT", ""},  // RFC 850
      {"Sun Nov  6 08:49:37 1994", ""},        // asctime
      {"Sun, 06 nov 1994 08:49:37 GMT", ""},   // month names are case-sensitive
      {"Sun, 06 Nov 1994 08:49:37 GMT junk", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.w3c, W3cDateTime(c.httpDate)) << c.httpDate;
}

TEST(XmlSitemapTest, OnlySuccessfulIndexableHtmlPagesAtTheirCanonicalAddressAreListedOnce) {
  auto page = [](auto change) {
    PageListing listing;
    listing.finalUrl = "http://site.test/a";
    change(listing);
    return listing;
  };
  const struct {
    PageListing page;
    XmlVerdict verdict;
  } cases[] = {
      {page([](PageListing&) {}), XmlVerdict::Listed},
      {page([](PageListing&) {}), XmlVerdict::Duplicate},
      {page([](PageListing& p) {
         p.finalUrl = "http://site.test/b";
         p.contentType = "Application/XHTML+XML ; charset=x";
       }),
       XmlVerdict::Listed},
      {page([](PageListing& p) { p.contentType = "text/plain"; }), XmlVerdict::NotHtml},
      {page([](PageListing& p) { p.contentType = ""; }), XmlVerdict::NotHtml},
      {page([](PageListing& p) {
         p.statusCode = 203;
         p.finalUrl = "http://site.test/c";
       }),
       XmlVerdict::Listed},
      {page([](PageListing& p) { p.statusCode = 300; }), XmlVerdict::NotSuccess},
      {page([](PageListing& p) { p.noindex = true; }), XmlVerdict::Noindex},
      {page([](PageListing& p) { p.canonical = "http://site.test/z"; }),
       XmlVerdict::CanonicalElsewhere},
      {page([](PageListing& p) {
         p.canonical = "https://site.test/d";
         p.finalUrl = p.canonical;
       }),
       XmlVerdict::Listed},
      {page([](PageListing& p) { p.offSiteRedirect = true; }), XmlVerdict::OffSite},
      {page([](PageListing& p) { p.finalUrl = "/relative"; }), XmlVerdict::Unusable},
      {page([](PageListing& p) { p.finalUrl = "http://site.test/" + std::string(2031, 'x'); }),
       XmlVerdict::Listed},
      {page([](PageListing& p) { p.finalUrl = "http://site.test/" + std::string(2032, 'x'); }),
       XmlVerdict::Unusable},
  };
  XmlSitemapList list;
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].verdict, list.Add(cases[i].page)) << "case " << i;
  }
  EXPECT_EQ(list.size(), 5u);
  EXPECT_EQ(list.SummaryText(),
            "5 URLs in the XML sitemap (left out: 2 not HTML, 1 noindex, 1 canonical elsewhere, 1 "
            "redirected off the site, 1 not answered 2xx, 2 unusable address, 1 duplicate)");
}

TEST(XmlSitemapTest, LocIsPercentEncodedWhereAUriMustBeAndEntityEscaped) {
  EXPECT_EQ(XmlLocText("http://s.test/a b?x=1&y='2'<\"\x7f\xc3\xa9"),
            "http://s.test/a%20b?x=1&amp;y=&apos;2&apos;%3C%22%7F%C3%A9");
}

// Files split by small limits validate against the schemas, and the index names every part.
TEST(XmlSitemapTest, LargeListsSplitIntoPartsWithAValidIndexAndGzipKeepsTheText) {
  std::vector<XmlSitemapEntry> entries;
  for (int i = 0; i < 7; ++i) {
    entries.push_back(
        {"http://s.test/p" + std::to_string(i) + "?a&b", i % 2 ? "2024-01-02T03:04:05+00:00" : ""});
  }
  const std::string schemas =
      std::string(std::getenv("QUILLON_SOURCE_DIR")) + "/tests/data/app/xsd/";
  const struct {
    XmlFileLimits limits;
    std::vector<size_t> urlsPerPart;
  } cases[] = {
      {{7, 1 << 20}, {7}},
      {{3, 1 << 20}, {3, 3, 1}},
      // Room for two <url> lines besides the frame.
      {{50000, UrlsetFrameForTests() + 2 * XmlUrlElement(entries[1]).size()}, {2, 2, 2, 1}},
  };
  for (const auto& c : cases) {
    for (bool gzip : {false, true}) {
      std::string folder = quillon::testing::FreshDir("xml_split");
      XmlSitemapWriter writer(folder, "http://s.test/", gzip, c.limits);
      for (const XmlSitemapEntry& entry : entries) ASSERT_TRUE(writer.Add(entry));
      ASSERT_TRUE(writer.Finish()) << writer.error();
      const std::vector<std::string>& written = writer.written();
      size_t parts = c.urlsPerPart.size();
      ASSERT_EQ(written.size(), parts == 1 ? 1 : parts + 1);
      EXPECT_EQ(written.back(), folder + (gzip ? "/sitemap.xml.gz" : "/sitemap.xml"));
      for (size_t i = 0; i < written.size(); ++i) {
        bool index = parts > 1 && i == parts;
        std::string text = ReadFileBytes(written[i]);
        std::string plain = folder + "/check.xml";
        if (gzip) {
          ASSERT_EQ(std::system(("gzip -dc '" + written[i] + "' > '" + plain + "'").c_str()), 0);
          text = ReadFileBytes(plain);
        } else {
          quillon::testing::WriteFileBytes(plain, text);
        }
        std::string command = "xmllint --noout --schema " + schemas +
                              (index ? "siteindex.xsd " : "sitemap.xsd ") + plain + " 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << text;
        std::filesystem::remove(plain);
        if (index) {
          std::string suffix = gzip ? ".xml.gz" : ".xml";
          for (size_t p = 1; p <= parts; ++p) {
            EXPECT_NE(text.find("<loc>http://s.test/sitemap-" + std::to_string(p) + suffix +
                                "</loc>"),
                      std::string::npos);
          }
        } else {
          size_t urls = 0;
          for (size_t at = text.find("<url>"); at != std::string::npos;
               at = text.find("<url>", at + 1))
            ++urls;
          EXPECT_EQ(urls, c.urlsPerPart[i]);
          EXPECT_LE(text.size(), c.limits.maxBytes);
        }
      }
      // Nothing but the files themselves: no temporary file is left behind.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}),
                static_cast<long>(written.size()));
    }
  }
}

TEST(XmlSitemapTest, AFolderThatCannotBeWrittenIsReported) {
  XmlSitemapWriter writer("/nonexistent-folder", "", false);
  EXPECT_FALSE(writer.Finish());
  const std::string& error = writer.error();
  EXPECT_NE(error.find("Could not save the XML sitemap to /nonexistent-folder/sitemap.xml: "),
            std::string::npos)
      << error;
  EXPECT_TRUE(writer.written().empty());
}

}  // namespace
}  // namespace tollwick
