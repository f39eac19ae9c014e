#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ext_ptr_array.h"
#include "base/memory.h"
#include "spider/cls_spider.h"
#include "spider/link_text.h"

namespace quillon {
namespace {

std::vector<std::string> Extract(const ClsSpider& spider, const std::string& page) {
  OwningPtrArray links;
  EXPECT_TRUE(spider.ExtractLinks(page, links));
  std::vector<std::string> out;
  for (int i = 0; i < links.count(); ++i) out.emplace_back(links.at<StringBuffer>(i)->getString());
  return out;
}

std::vector<std::string> Queue(const ClsSpider& spider) {
  std::vector<std::string> out;
  for (int i = 0; i < spider.unspideredCount(); ++i) out.emplace_back(spider.unspideredUrl(i));
  return out;
}

std::vector<std::string> Outbound(const ClsSpider& spider) {
  std::vector<std::string> out;
  for (int i = 0; i < spider.outboundCount(); ++i) out.emplace_back(spider.outboundUrl(i));
  return out;
}

using Links = std::vector<std::string>;

// ---- Which anchors a page offers

TEST(ExtractLinksTest, AnchorGrammar) {
  const struct {
    const char* page;
    Links links;
  } cases[] = {
      {"<a href=\"a.html\">A</a>", {"a.html"}},
      {"<A HREF=b.html>B</A>", {"b.html"}},
      {"<a href='c.html'>C</a>", {"c.html"}},
      {"<a class=x href=\"d.html\" id=y>D</a>", {"d.html"}},
      // "<a" and any white space starts an anchor.
      {"<a\nhref=\"e.html\">E</a><a\thref=\"f.html\">F</a><a\r\nhref=e2>",
       {"e.html", "f.html", "e2"}},
      {"<area href=\"g.html\"><link href=\"h.css\"><abbr href=\"i\">", {}},
      // Fragments, empty values and ftp links are dropped; a fragment is cut off.
      {"<a href=\"#top\">T</a><a href=\"\">E</a><a name=x>N</a>", {}},
      {"<a href=\"j.html#part\">J</a>", {"j.html"}},
      {"<a href=\"ftp://host/file\">F</a><a href=\"x?u=FTP:y\">G</a>", {}},
      // Backslashes read as "/", blanks trimmed.
      {"<a href=\"  dir\\page.html  \">P</a>", {"dir/page.html"}},
      // The same link twice on one page is offered once, in page order.
      {"<a href=1>1</a><a href=2>2</a><a href=1>1</a>", {"1", "2"}},
      // A ">" inside a quoted value does not end the tag.
      {"<a title=\"a>b\" href=\"k.html\">K</a>", {"k.html"}},
      // Anchors between an anchor and its "</a>" are skipped with its content.
      {"<a href=l1>x<a href=l2>y</a><a href=l3>z</a>", {"l1", "l3"}},
      // Without any "</a>" every anchor is still read.
      {"<a href=m1><a href=m2><a href=m3>", {"m1", "m2", "m3"}},
      // A tracking link is replaced by its target.
      {"<a href=\"/redir.php?id=4&url=http%3A%2F%2Fother.example%2Fp%3Fq%3D1\">R</a>",
       {"http://other.example/p?q=1"}},
  };
  ClsSpider spider;
  for (const auto& c : cases) EXPECT_EQ(c.links, Extract(spider, c.page)) << c.page;
}

TEST(ExtractLinksTest, CharacterReferencesAreDecodedBeforeFiltering) {
  ClsSpider spider;
  EXPECT_EQ(Links({"list.php?a=1&b=2"}), Extract(spider, "<a href=\"list.php?a=1&amp;b=2\">L</a>"));
  EXPECT_EQ(Links({"x&y"}), Extract(spider, "<a href=\"x&#38;y\">L</a><a href=\"x&#x26;y\">L</a>"));
  // An encoded "#" starts a fragment like a plain one.
  EXPECT_EQ(Links({}), Extract(spider, "<a href=\"&#35;top\">T</a>"));
}

TEST(ExtractLinksTest, DropFlagsAndPatterns) {
  ClsSpider spider;
  spider.setDropQueryStrings(true);
  spider.setDropHttps(true);
  EXPECT_EQ(Links({"a.php"}),
            Extract(spider, "<a href=\"a.php?x=1\">A</a><a href=\"HTTPS://h/s\">S</a>"));

  ClsSpider patterned;
  patterned.AddAvoidPattern("*private*");
  patterned.AddMustMatchPattern("*.html");
  EXPECT_EQ(Links({"ok.html"}), Extract(patterned, "<a href=ok.html>1</a><a href=PRIVATE.html>2</a>"
                                                   "<a href=no.php>3</a>"));
}

TEST(DecodeCharacterReferencesTest, ReferenceGrammar) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a&amp;b", "a&b"},
      {"&lt;&gt;&quot;&apos;", "<>\"'"},
      {"&#65;&#x42;&#X43;", "ABC"},
      {"&#233;", "\xC3\xA9"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},
      {"a&b", "a&b"},
      {"&amp", "&amp"},
      {"&nbsp;", "&nbsp;"},
      {"&AMP;", "&AMP;"},
      {"&#;&#x;&#0;", "&#;&#x;&#0;"},
      {"&#xD800;", "&#xD800;"},
      {"&#99999999999999999999;", "&#99999999999999999999;"},
      {"&#x110000;", "&#x110000;"},
      {"&&amp;&", "&&&"},
      {"", ""},
  };
  for (const auto& c : cases) {
    StringBuffer text(c.in);
    ASSERT_TRUE(DecodeCharacterReferences(text));
    EXPECT_STREQ(c.out, text.getString()) << c.in;
  }
}

// ---- Links never followed

TEST(IsFixedAvoidTest, FixedRules) {
  const struct {
    const char* link;
    bool avoided;
  } cases[] = {
      {"mailto:a@b.c", true},
      {"MAILTO:a@b.c", true},
      {"javascript:void(0)", true},
      {"JavaScript:go()", true},
      {"ftp://host/f", true},
      {"http://www.google.com/", true},
      {"/ads/DoubleClick/x", true},
      {"http://overture.example/", true},
      {"/file.zip", true},
      {"/FILE.PDF", true},
      {"/a.exe", true},
      {"/pic.jpg", true},
      {"/pic.gif", true},
      {"/x.eps", true},
      // The extension followed by more text is a page.
      {"/file.pdf?download=1", false},
      {"/file.pdf.html", false},
      // Only the first occurrence counts: a folder named like the extension.
      {"/docs.pdf/file.pdf", false},
      {"/image.png", false},
      {"/page.html", false},
      {"http://site/mailto:x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.avoided, ClsSpider::IsFixedAvoid(c.link)) << c.link;
}

// ---- Where a link goes

TEST(ResolveLinkTest, RelativeAndAbsoluteLinks) {
  const struct {
    const char* link;
    const char* page;
    const char* resolved;  // null: the link cannot be resolved
  } cases[] = {
      {"../up.html", "http://h/a/b/page.html", "http://h/a/up.html"},
      {"b.html", "http://h/a/", "http://h/a/b.html"},
      {"/root", "http://h:81/a/b", "http://h:81/root"},
      {"?q=1", "http://h/a/b", "http://h/a/b?q=1"},
      {"//other/x", "http://h/", "http://other/x"},
      {"http://h/a b", "http://h/", "http://h/a%20b"},
      // One spelling per page: scheme and host folded, default port dropped, "/" for no path.
      {"HTTP://H/x", "http://h/", "http://h/x"},
      {"http://H:80", "http://h/", "http://h/"},
      {"https://H:443?q=A", "http://h/", "https://h/?q=A"},
      {"http://h:8080", "http://h/", "http://h:8080/"},
      {"http://U:P@H:80/P", "http://h/", "http://h/P"},  // user information is never listed
      {"http://[::1]:80/", "http://h/", "http://[::1]/"},
      {"a b.html", "http://h/", "http://h/a%20b.html"},
  };
  for (const auto& c : cases) {
    StringBuffer link(c.link);
    bool ok = ClsSpider::ResolveLink(link, c.page);
    if (c.resolved == nullptr) {
      EXPECT_FALSE(ok) << c.link;
    } else {
      ASSERT_TRUE(ok) << c.link;
      EXPECT_STREQ(c.resolved, link.getString()) << c.link;
    }
  }
}

TEST(ResolveLinkTest, OverlongResultFails) {
  StringBuffer link(std::string(2000, 'a'));
  EXPECT_FALSE(ClsSpider::ResolveLink(link, "http://h/"));
}

TEST(IsOutboundTest, OnTheSiteMeansTheHostOrASubdomain) {
  const struct {
    const char* domain;
    const char* url;
    bool outbound;
  } cases[] = {
      {"book.com", "http://book.com/x", false},
      {"book.com", "http://BOOK.COM/x", false},
      {"book.com", "http://www.book.com/x", false},
      {"book.com", "https://shop.book.com:8443/x", false},
      {"book.com", "http://facebook.com/x", true},
      {"book.com", "http://book.com.evil.net/", true},
      {"book.com", "http://evil.net/?r=book.com", true},
      {"book.com", "http://book.com@evil.net/", true},
      {"book.com", "http://other.org/", true},
      {"www.book.com", "http://book.com/", true},
      // Anything that is not an HTTP(S) address counts as on the site.
      {"book.com", "news:comp.lang", false},
      {"book.com", "/relative", false},
      {"127.0.0.1", "http://127.0.0.1:8080/a", false},
      {"127.0.0.1", "http://127.0.0.2/a", true},
  };
  for (const auto& c : cases) {
    ClsSpider spider;
    spider.Reset(c.domain);
    EXPECT_EQ(c.outbound, spider.IsOutbound(c.url)) << c.domain << " " << c.url;
  }
}

TEST(UnwrapRedirectTest, TrackingLinks) {
  const struct {
    const char* link;
    const char* result;
  } cases[] = {
      {"/redir.php?url=http%3A%2F%2Fa.example%2F", "http://a.example/"},
      {"/redir.php?id=1&url=http://b.example/x%20y&z=2", "http://b.example/x y&z=2"},
      {"/redir.php?id=1", "/redir.php?id=1"},
      {"/REDIR.PHP?url=x", "/REDIR.PHP?url=x"},
      {"/go/redir.php?url=x", "/go/redir.php?url=x"},
      {"/redir.php?URL=x", "/redir.php?URL=x"},
      {"/plain.html", "/plain.html"},
  };
  for (const auto& c : cases) {
    StringBuffer link(c.link);
    ClsSpider::UnwrapRedirect(link);
    EXPECT_STREQ(c.result, link.getString()) << c.link;
  }
}

// ---- What ProcessPage does with the links

class ProcessPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spider_.setObeyRobots(false);
    spider_.BeginSite("http://site.test/");
  }
  ClsSpider spider_;
};

TEST_F(ProcessPageTest, UpperCaseUnquotedAnchorIsResolvedAgainstThePage) {
  spider_.ProcessPage("http://site.test/dir/page.html", "<A HREF=../other.html>o</A>", nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/other.html"}), Queue(spider_));
}

TEST_F(ProcessPageTest, SeenLinksAreDroppedAcrossPages) {
  spider_.ProcessPage("http://site.test/", "<a href=a.html>a</a><a href=a.html#x>a</a>", nullptr);
  spider_.ProcessPage("http://site.test/b/", "<a href=/a.html>a</a><a href=/>home</a>", nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/a.html"}), Queue(spider_));
  EXPECT_TRUE(spider_.IsSeen("http://site.test/a.html"));
}

TEST_F(ProcessPageTest, OffSiteLinksAreRecordedOnce) {
  const char* page = "<a href=http://other.test/x>x</a><a href=http://facebook.test/>f</a>";
  spider_.ProcessPage("http://site.test/", page, nullptr);
  spider_.ProcessPage("http://site.test/2", page, nullptr);
  EXPECT_EQ(Links({"http://other.test/x", "http://facebook.test/"}), Outbound(spider_));
  EXPECT_EQ(1, spider_.unspideredCount());
}

TEST_F(ProcessPageTest, OutboundAvoidPatternsKeepLinksOutOfTheList) {
  spider_.AddOutboundAvoidPattern("*.ads.test*");
  spider_.ProcessPage("http://site.test/", "<a href=http://x.ads.test/>a</a>", nullptr);
  EXPECT_EQ(0, spider_.outboundCount());
  EXPECT_TRUE(spider_.IsSeen("http://x.ads.test/"));
}

TEST_F(ProcessPageTest, SubstringDomainIsOffTheSite) {
  spider_.BeginSite("http://book.test/");
  spider_.ProcessPage("http://book.test/", "<a href=http://facebook.test/p>f</a>"
                      "<a href=http://shop.book.test/p>s</a>", nullptr);
  EXPECT_EQ(Links({"http://facebook.test/p"}), Outbound(spider_));
  EXPECT_EQ(Links({"http://book.test/", "http://shop.book.test/p"}), Queue(spider_));
}

TEST_F(ProcessPageTest, WwwDomainSendsBareLinksToOutbound) {
  spider_.BeginSite("http://www.site.test/");
  spider_.ProcessPage("http://www.site.test/", "<a href=http://site.test/a>a</a>", nullptr);
  EXPECT_EQ(Links({"http://site.test/a"}), Outbound(spider_));
}

TEST_F(ProcessPageTest, WwwTwinIsCrawledOnce) {
  spider_.ProcessPage("http://site.test/",
                      "<a href=http://www.site.test/>w</a><a href=http://www.site.test/new>n</a>",
                      nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://www.site.test/new"}), Queue(spider_));
}

TEST_F(ProcessPageTest, HttpsLinksFormATwinAndAreQueued) {
  spider_.ProcessPage("http://site.test/",
                      "<a href=https://site.test/s>s</a><a href=https://www.site.test/s>w</a>"
                      "<a href=https://site.test/t>t</a>",
                      nullptr);
  EXPECT_EQ(Links({"http://site.test/", "https://site.test/s", "https://site.test/t"}),
            Queue(spider_));
}

TEST_F(ProcessPageTest, NonHttpLinksAreNeverQueued) {
  spider_.ProcessPage("http://site.test/", "<a href=\"news:comp.lang\">n</a>", nullptr);
  EXPECT_EQ(1, spider_.unspideredCount());
  EXPECT_EQ(0, spider_.outboundCount());
}

TEST_F(ProcessPageTest, AvoidedLinksAreDropped) {
  spider_.AddAvoidPattern("*/skip/*");
  spider_.ProcessPage("http://site.test/",
                      "<a href=mailto:x@y>m</a><a href=JAVASCRIPT:go()>j</a><a href=ftp://f/>f</a>"
                      "<a href=#top>t</a><a href=doc.PDF>p</a><a href=doc.pdf?v=2>v</a>"
                      "<a href=/skip/x>s</a><a href=http://google.test/>g</a>",
                      nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/doc.pdf?v=2"}), Queue(spider_));
}

TEST_F(ProcessPageTest, MustMatchTestsThePageUrl) {
  spider_.AddMustMatchPattern("*/docs/*");
  spider_.ProcessPage("http://site.test/other/", "<a href=/docs/a>a</a>", nullptr);
  spider_.ProcessPage("http://site.test/docs/", "<a href=/docs/b>b</a>", nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/docs/b"}), Queue(spider_));
}

TEST_F(ProcessPageTest, RedirectLinkIsUnwrappedThenFiltered) {
  spider_.ProcessPage("http://site.test/",
                      "<a href=\"/redir.php?url=http%3A%2F%2Fsite.test%2Fin\">i</a>"
                      "<a href=\"/redir.php?url=http%3A%2F%2Fout.test%2F\">o</a>",
                      nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/in"}), Queue(spider_));
  EXPECT_EQ(Links({"http://out.test/"}), Outbound(spider_));
}

TEST_F(ProcessPageTest, AmpersandReferenceGivesTheRealQuery) {
  spider_.ProcessPage("http://site.test/", "<a href=\"list?a=1&amp;b=2\">l</a>", nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/list?a=1&b=2"}), Queue(spider_));
}

// ---- Hostile pages: nothing crashes and nothing grows quadratically.

TEST(ExtractLinksBadInputTest, BinaryJunk) {
  std::string page;
  uint32_t seed = 99;
  for (int i = 0; i < 300000; ++i) {
    seed = seed * 1103515245 + 12345;
    page += static_cast<char>(seed >> 16);
    if (i % 997 == 0) page += "<a href=\"";
    if (i % 1499 == 0) page += "<a ";
  }
  ClsSpider spider;
  spider.setObeyRobots(false);
  spider.BeginSite("http://site.test/");
  spider.ProcessPage("http://site.test/", page, nullptr);
  SUCCEED();
}

TEST(ExtractLinksBadInputTest, TenThousandLinks) {
  std::string page;
  for (int i = 0; i < 10000; ++i) page += "<a href=\"/p" + std::to_string(i) + "\">p</a>\n";
  ClsSpider spider;
  spider.setObeyRobots(false);
  spider.BeginSite("http://site.test/");
  spider.ProcessPage("http://site.test/", page, nullptr);
  EXPECT_EQ(10001, spider.unspideredCount());
}

TEST(ExtractLinksBadInputTest, LinksOfFiveThousandCharacters) {
  std::string page;
  for (int i = 0; i < 50; ++i) {
    page += "<a href=\"/" + std::string(5000, static_cast<char>('a' + i % 26)) +
            std::to_string(i) + "\">x</a>";
  }
  ClsSpider spider;
  spider.setObeyRobots(false);
  spider.BeginSite("http://site.test/");
  OwningPtrArray links;
  ASSERT_TRUE(spider.ExtractLinks(page, links));
  EXPECT_EQ(50, links.count());
  // The resolved links are longer than the combiner allows and are dropped.
  spider.ProcessPage("http://site.test/", page, nullptr);
  EXPECT_EQ(1, spider.unspideredCount());
}

TEST(ExtractLinksBadInputTest, ManyAnchorsWithoutClosingTag) {
  // 27,000 anchors in about 300 KB and no "</a>" anywhere.
  std::string page;
  for (int i = 0; page.size() < 300000; ++i) page += "<a href=" + std::to_string(i % 1000) + ">";
  ClsSpider spider;
  OwningPtrArray links;
  ASSERT_TRUE(spider.ExtractLinks(page, links));
  EXPECT_EQ(1000, links.count());
}

TEST(ExtractLinksBadInputTest, TagEndsHiddenInQuotes) {
  // Every ">" sits inside quotes, so each tag falls back to ending at its first ">".
  std::string page;
  for (int i = 0; i < 8; ++i) page += "<a href=p" + std::to_string(i % 3) + " '>'";
  page += "<a href=\"q'>'\" '>'<A HREF='r' '>'<a title='>' href=s '>'";
  ClsSpider spider;
  EXPECT_EQ(Links({"p0", "p1", "p2", "q'", "r"}), Extract(spider, page));
}

TEST(ExtractLinksBadInputTest, UnclosedTagAndQuotes) {
  ClsSpider spider;
  // The tag readers close what the page left open.
  EXPECT_EQ(Links({"never closed"}), Extract(spider, "<a href=\"never closed"));
  EXPECT_EQ(Links({"x"}), Extract(spider, "<a href=x title=\"open>t</a>"));
  // A NUL byte is a byte like any other; the combiner encodes it.
  ClsSpider crawler;
  crawler.setObeyRobots(false);
  crawler.BeginSite("http://site.test/");
  crawler.ProcessPage("http://site.test/", std::string("<a href=\"\0\">x</a>", 15), nullptr);
  EXPECT_EQ(Links({"http://site.test/", "http://site.test/%00"}), Queue(crawler));
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

TEST(SpiderOutOfMemoryTest, FailuresAreFalseResults) {
  ClsSpider spider;
  spider.setObeyRobots(false);
  spider.BeginSite("http://site.test/");
  StringBuffer text("a&amp;b");
  SetAllocationFailureForTests(true);
  OwningPtrArray links;
  bool extracted = spider.ExtractLinks("<a href=a>a</a><a href=b>b</a>", links);
  bool queued = spider.QueueUrl("http://site.test/other");
  spider.ProcessPage("http://site.test/", "<a href=c>c</a>", nullptr);
  bool decoded = DecodeCharacterReferences(text);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(extracted);
  EXPECT_FALSE(queued);
  EXPECT_FALSE(decoded);
  EXPECT_STREQ("a&amp;b", text.getString());
  EXPECT_EQ(1, spider.unspideredCount());
}

}  // namespace
}  // namespace quillon
