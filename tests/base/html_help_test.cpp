#include "base/html_help.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <random>
#include <string>

#include "base/memory.h"
#include "base/parse_engine.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

std::string Title(std::string_view page) {
  StringBuffer out("stale");
  EXPECT_TRUE(HtmlHelp::GetTitle(page, out));
  return std::string(out.view());
}

std::string Meta(std::string_view page, const char* name) {
  StringBuffer out("stale");
  EXPECT_TRUE(HtmlHelp::GetMetaContent(page, name, out));
  return std::string(out.view());
}

std::string Charset(std::string_view page, const char* before = "") {
  StringBuffer out(before);
  EXPECT_TRUE(HtmlHelp::GetMetaCharset(page, out));
  return std::string(out.view());
}

std::string Attribute(std::string_view tag, const char* name) {
  StringBuffer out("stale");
  EXPECT_TRUE(HtmlHelp::GetAttribute(tag, name, out));
  return std::string(out.view());
}

std::string Clean(std::string_view raw) {
  StringBuffer out("stale");
  EXPECT_TRUE(HtmlHelp::CleanTag(raw, out));
  return std::string(out.view());
}

std::string PagePath(const std::string& name) {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  return std::string(source ? source : "") + "/tests/data/pages/" + name;
}

std::string LoadPage(const std::string& name) {
  std::string page = testing::ReadFileBytes(PagePath(name));
  EXPECT_FALSE(page.empty()) << "cannot read " << PagePath(name)
                             << " (QUILLON_SOURCE_DIR is set by ctest)";
  return page;
}

// --- GetTitle ---

TEST(HtmlTitleTest, TitleElementGivesItsTrimmedText) {
  struct Case {
    const char* page;
    const char* title;
  } cases[] = {
      {"<html><head><title>Hello</title></head>", "Hello"},
      {"<HTML><HEAD><TITLE>Shouting</TITLE>", "Shouting"},
      {"<title> \r\n\t padded \t\r\n</title>", "padded"},
      {"<title>A &amp; B &#8212; C</title>", "A &amp; B &#8212; C"},       // entities stay
      {"<title>one\n<b>two</b></title>", "one\n<b>two</b>"},  // inner tags and breaks stay
      {"<title></title>", ""},
      {"<p>no title here</p>", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Title(c.page), c.title) << c.page;
}

TEST(HtmlTitleTest, TitleWithAttributesIsFoundByTheSecondSearch) {
  EXPECT_EQ(Title("<HTML><HEAD><TITLE LANG=\"en\">   Upper Case   </TITLE></HEAD>"), "Upper Case");
  EXPECT_EQ(Title("<head><title\n>Broken Open Tag</title>"), "Broken Open Tag");
}

TEST(HtmlTitleTest, MissingClosingTagGivesEmptyTitle) {
  EXPECT_EQ(Title("<title>Never closed"), "");
  EXPECT_EQ(Title("<title lang=en>Never closed"), "");
  // A closing tag with a line break before its ">" is no "</title>".
  EXPECT_EQ(Title("<TITLE\n>fonts-conf</TITLE\n>"), "");
}

TEST(HtmlTitleTest, PlainTitleTagStopsTheSearchEvenWhenEmpty) {
  EXPECT_EQ(Title("<title>Open<title lang=x>Second</title>"), "Open<title lang=x>Second");
  EXPECT_EQ(Title("<title>only opened <title lang=x>x"), "");
}

TEST(HtmlTitleTest, SecondSearchRunsEachStepWhetherOrNotItFindsItsPattern) {
  // No "<title": the search for ">" starts at the top, and the copy still runs.
  EXPECT_EQ(Title("<html><body>text</title>"), "<body>text");
}

// --- GetAttribute ---

TEST(HtmlAttributeTest, ReadsQuotedValuesOfACleanTag) {
  struct Case {
    const char* tag;
    const char* name;
    const char* value;
  } cases[] = {
      {R"(<a href="x.html">)", "href", "x.html"},
      {R"(<a HREF="x.html">)", "href", "x.html"},
      {R"(<a href='x.html'>)", "HREF", "x.html"},
      {R"(<a title='say "hi"'>)", "title", R"(say "hi")"},
      {R"(<a href="  padded  ">)", "href", "padded"},
      {R"(<a href="C:\dir\file.htm">)", "href", "C:/dir/file.htm"},
      {R"(<a href="">)", "href", ""},
      {R"(<a name="x">)", "href", ""},
      {R"(<a href="unclosed>)", "href", ""},  // the double form wins, and it never closes
      {R"(<a href='unclosed>)", "href", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Attribute(c.tag, c.name), c.value) << c.tag;
}

TEST(HtmlAttributeTest, NameIsMatchedAsAPlainSubstring) {
  EXPECT_EQ(Attribute(R"(<a data-href="first" href="second">)", "href"), "first");
  EXPECT_EQ(Attribute(R"(<a href="one" href="two">)", "href"), "one");
  // No double-quoted form: a single-quoted one inside another value answers.
  EXPECT_EQ(Attribute(R"(<a title="href='inner'">)", "href"), "inner");
}

// --- CleanTag ---

TEST(HtmlCleanTagTest, RewritesTagsIntoQuotedAttributes) {
  struct Case {
    const char* raw;
    const char* clean;
  } cases[] = {
      {R"(<a href=x.html>)", R"(<a href="x.html">)"},
      {R"(<a   href = "x"   title='y' >)", R"(<a href="x" title='y'>)"},
      {R"(<  p  >)", R"(<p>)"},
      {R"(<br>)", R"(<br>)"},
      {R"(<br/>)", R"(<br/>)"},
      {R"(<img src="a.png" />)", R"(<img src="a.png" />)"},
      {R"(<input checked name=x>)", R"(<input checked name="x">)"},
      {R"(<a ""href="x">)", R"(<a href="x">)"},
      {R"(<a b="">)", R"(<a b="">)"},
      {R"(<a x=1 2y=3>)", R"(<a x="1" 2y="3">)"},
      {"<a b=x\ty>", "<a b=\"x\ty\">"},  // a tab does not end an unquoted value
      {R"(text before <p class=intro>)", R"(<p class="intro">)"},
      {R"(no tag at all)", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Clean(c.raw), c.clean) << c.raw;
}

TEST(HtmlCleanTagTest, UnquotedValueWithADoubleQuoteGetsSingleQuotes) {
  EXPECT_EQ(Clean(R"(<a title=say"hi">)"), R"(<a title='say"hi"'>)");
  // The case that made the rule: unquoted NAME, single-quoted CONTENT holding double quotes.
  std::string clean = Clean(R"(<META NAME=description CONTENT='say "hi"'>)");
  EXPECT_EQ(clean, R"(<META NAME="description" CONTENT='say "hi"'>)");
  EXPECT_EQ(Attribute(clean, "name"), "description");
  EXPECT_EQ(Attribute(clean, "content"), R"(say "hi")");
}

TEST(HtmlCleanTagTest, EscapedQuotesBecomeEntities) {
  EXPECT_EQ(Clean(R"(<a title="say \"hi\"">)"), R"(<a title="say &quot;hi&quot;">)");
  // An escaped opening quote: the value runs on past every escaped quote.
  EXPECT_EQ(Clean(R"(<a href=\"x.html\">)"), R"(<a href="x.html&quot;>">)");
  // A pair in an earlier unquoted value is replaced when a later quoted value is read.
  EXPECT_EQ(Clean(R"(<a b=x\"y c="z">)"), R"(<a b='x&quot;y' c="z">)");
  EXPECT_EQ(Clean(R"(<a b=x\"y c=z>)"), R"(<a b='x\"y' c="z">)");
}

TEST(HtmlCleanTagTest, TrailingBackslashOfAValue) {
  EXPECT_EQ(Clean(R"(<a href=c:\dir\ >)"), R"(<a href="c:\dir">)");
  // Quoted, it escapes the closing quote: the value runs to the end of the tag.
  EXPECT_EQ(Clean(R"(<a href="c:\dir\">)"), R"(<a href="c:\dir&quot;>">)");
}

TEST(HtmlCleanTagTest, LineBreaksCollapseIntoSpaces) {
  EXPECT_EQ(Clean("<meta\r\nname=\"a\r\nb\"\r\n\tcontent='c\nd'\r\n>"),
            "<meta name=\"a b\" content='c d'>");
}

TEST(HtmlCleanTagTest, UnfinishedTagsAreClosed) {
  struct Case {
    const char* raw;
    const char* clean;
  } cases[] = {
      {R"(<a href="x.html)", R"(<a href="x.html">)"},
      {R"(<a href=)", R"(<a href="">)"},
      {R"(<a b "c">)", R"(<a>)"},                         // a stray quote after a name
      {R"(<input checked 2x>)", R"(<input>)"},            // a valueless name before a digit is lost
      {"<a href=\"x\" \n", "<a href=\"x\">"},
      {"<a", "<a>"},
      {"<", "<>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Clean(c.raw), c.clean) << c.raw;
}

std::string ValuedAttributes(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) {
    text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  }
  return text;
}

TEST(HtmlCleanTagTest, TagIsCutAfterTheHundredAndFirstValuedAttribute) {
  std::string raw = "<x" + ValuedAttributes(0, 120) + ">";
  EXPECT_EQ(Clean(raw), "<x" + ValuedAttributes(0, 101));  // no ">"

  raw = "<x" + ValuedAttributes(0, 101) + ">";  // the 101st is followed by ">"
  EXPECT_EQ(Clean(raw), raw);

  std::string valueless;
  for (int i = 0; i < 300; ++i) valueless += " flag" + std::to_string(i);
  raw = "<x" + valueless + ValuedAttributes(0, 50) + ">";  // valueless ones do not count
  EXPECT_EQ(Clean(raw), raw);
}

// --- GetMetaContent ---

TEST(HtmlMetaContentTest, FirstMatchingElementWithContentWins) {
  const char* page =
      R"(<meta name="keywords" content=""><meta name="keywords" content="second">)"
      R"(<meta name="keywords" content="third">)";
  EXPECT_EQ(Meta(page, "keywords"), "second");
  EXPECT_EQ(Meta(R"(<meta name="keywords" content="  a, b  ">)", "KEYWORDS"), "a, b");
  EXPECT_EQ(Meta(R"(<META NAME="DESCRIPTION" CONTENT="Shouted">)", "description"), "Shouted");
}

TEST(HtmlMetaContentTest, HttpEquivValueMatchesWhenNoNameMatchComesFirst) {
  EXPECT_EQ(Meta(R"(<meta http-equiv="description" content="by equiv">)", "description"),
            "by equiv");
  const char* equivFirst =
      R"(<meta http-equiv="description" content="A"><meta name="description" content="B">)";
  EXPECT_EQ(Meta(equivFirst, "description"), "A");
  const char* nameFirst =
      R"(<meta name="description" content="B"><meta http-equiv="description" content="A">)";
  EXPECT_EQ(Meta(nameFirst, "description"), "B");
}

TEST(HtmlMetaContentTest, BackslashesInContentBecomeSlashes) {
  EXPECT_EQ(Meta(R"(<meta name="description" content="See C:\Docs\read me.txt">)", "description"),
            "See C:/Docs/read me.txt");
}

TEST(HtmlMetaContentTest, GreaterThanInsideAQuotedContentDoesNotEndTheElement) {
  EXPECT_EQ(Meta(R"(<meta name="description" content="a > b">)", "description"), "a > b");
}

TEST(HtmlMetaContentTest, AnUnclosedQuoteEndsTheElementAtTheFirstGreaterThan) {
  const char* page = R"(<meta name="description" content="abc><meta name="keywords" content="k">)";
  EXPECT_EQ(Meta(page, "description"), "abc>");
  EXPECT_EQ(Meta(page, "keywords"), "k");
}

TEST(HtmlMetaContentTest, AttributeNamesAreMatchedAsSubstrings) {
  const char* page =
      R"(<meta data-name="description" content="wrong"><meta name="description" content="right">)";
  EXPECT_EQ(Meta(page, "description"), "wrong");
}

TEST(HtmlMetaContentTest, NothingToFindGivesEmpty) {
  EXPECT_EQ(Meta("<html><head><title>x</title></head></html>", "description"), "");
  EXPECT_EQ(Meta(R"(<meta name="description">)", "description"), "");
  EXPECT_EQ(Meta(R"(<meta name="author" content="me">)", "description"), "");
  EXPECT_EQ(Meta(R"(<meta name="description" content="x">)", ""), "");
  StringBuffer out;
  EXPECT_TRUE(HtmlHelp::GetMetaContent(R"(<meta name="x" content="y">)", nullptr, out));
  EXPECT_TRUE(out.isEmpty());
}

// --- GetMetaCharset ---

TEST(HtmlMetaCharsetTest, ContentTypeElementNamesTheCharset) {
  struct Case {
    const char* page;
    const char* charset;
  } cases[] = {
      {R"(<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">)",
       "windows-1252"},
      {R"(<META HTTP-EQUIV="CONTENT-TYPE" CONTENT="TEXT/HTML; CHARSET=WINDOWS-1252">)",
       "WINDOWS-1252"},
      {R"(<meta http-equiv=content-type content="text/html; Charset=Windows-1252">)",
       "Windows-1252"},
      {R"(<meta http-equiv="Content-Type" content="text/html; charset=utf-8; x=y">)", "utf-8"},
      {R"(<meta http-equiv="Content-Type" content="text/html; charset=utf-8 x">)", "utf-8"},
      {R"(<meta http-equiv="Content-Type" content='text/html; charset=utf-8"; x'>)", "utf-8"},
      {R"(<meta http-equiv="Content-Type" content='text/html; charset=a;b"c'>)", "a;b"},  // " first
      {R"(<meta http-equiv="Content-Type" content="text/html; charset=">)", ""},
      // No "charset=" in the content: the element's own charset attribute.
      {R"(<meta http-equiv="Content-Type" content="text/html" charset="latin1">)", "latin1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Charset(c.page, "before"), c.charset) << c.page;
}

TEST(HtmlMetaCharsetTest, QuotesAroundTheCharsetParameterAreRemoved) {
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content='text/html; charset="koi8-r"'>)"),
            "koi8-r");
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content="text/html; charset='koi8-r'">)"),
            "koi8-r");
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content="text/html; charset='koi8-r">)"),
            "koi8-r");  // a lone opening quote goes too
}

TEST(HtmlMetaCharsetTest, MetaCharsetIsTheFallback) {
  EXPECT_EQ(Charset(R"(<meta charset="utf-8">)"), "utf-8");
  EXPECT_EQ(Charset(R"(<META CHARSET=Shift_JIS>)"), "Shift_JIS");
  EXPECT_EQ(Charset(R"(<meta charset='utf-8' />)"), "utf-8");
  EXPECT_EQ(Charset(R"(<meta charset="a"><meta charset="b">)"), "a");
  // A content-type element that names none gives way to it, wherever it stands.
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content="text/html">)"
                    R"(<meta charset="utf-8">)"),
            "utf-8");
  // A content-type element that names one wins over it, wherever it stands.
  EXPECT_EQ(Charset(R"(<meta charset="utf-8">)"
                    R"(<meta http-equiv="Content-Type" content="text/html; charset=latin1">)"),
            "latin1");
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content="text/html">)"
                    R"(<meta http-equiv="Content-Type" content="text/html; charset=latin2">)"),
            "latin2");
  // Only an element that begins with its charset attribute counts.
  EXPECT_EQ(Charset(R"(<meta name="x" content='a charset="b"'>)", "before"), "before");
  EXPECT_EQ(Charset(R"(<meta data-charset="x">)", "before"), "before");
}

TEST(HtmlMetaCharsetTest, NothingNamedLeavesTheCharsetAlone) {
  EXPECT_EQ(Charset("<html><head></head></html>", "before"), "before");
  EXPECT_EQ(Charset(R"(<meta http-equiv="refresh" content="5">)", "before"), "before");
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content="">)", "before"), "before");
  // A content-type element without a charset empties it, as it always did.
  EXPECT_EQ(Charset(R"(<meta http-equiv="Content-Type" content="text/html">)", "before"), "");
}

// --- real and hand-written pages ---

struct PageFacts {
  const char* file;
  const char* title;
  const char* description;
  const char* keywords;
  const char* charset;  // "-" when no meta element names one
};

// Read by eye from each page's head.
const PageFacts kPages[] = {
    {"bc_bc.html", "bc Command Manual", "bc Command Manual", "bc Command Manual", "utf-8"},
    {"bzip2_manual.html", "bzip2 and libbzip2, version 1.0.8", "", "", "UTF-8"},
    {"debian-reference-en_ch01.en.html", "Chapter\xC2\xA0" "1.\xC2\xA0GNU/Linux tutorials", "", "",
     "UTF-8"},  // no-break spaces
    {"debian-reference-en_pr01.en.html", "Preface", "", "", "UTF-8"},
    // The title is fonts-conf, but its closing tag reads "</TITLE\n>".
    {"fontconfig_fontconfig-user.html", "", "", "", "-"},
    {"libexpat1-dev_reference.html", "Expat XML Parser", "", "", "-"},
    {"libffi8_Arrays-Unions-Enums.html",
     "Arrays Unions Enums (libffi: the portable foreign function interface library)",
     "Arrays Unions Enums (libffi: the portable foreign function interface library)",
     "Arrays Unions Enums (libffi: the portable foreign function interface library)", "utf-8"},
    {"libjson-c5_README.html", "JSON-C - A JSON implementation in C", "", "", "iso-8859-1"},
    {"libxslt1-dev_index.html", "libxslt", "", "", "ISO-8859-1"},
    {"mkdocs-doc_getting-started.html", "Getting Started - MkDocs", "", "", "utf-8"},
    {"mkdocs-doc_index.html", "MkDocs", "Project documentation with Markdown.", "", "utf-8"},
    {"ninja-build_manual.html", "The Ninja build system", "", "", "utf-8"},
    {"python3.11-doc_library_json.html",
     "json \xE2\x80\x94 JSON encoder and decoder &#8212; Python 3.11.2 documentation", "", "",
     "utf-8"},
    {"python3.11-doc_tutorial_index.html",
     "The Python Tutorial &#8212; Python 3.11.2 documentation", "", "", "utf-8"},
    // "Unified system", with the same split closing tag as fontconfig's.
    {"shared-mime-info_x34.html", "", "", "", "-"},
    {"time_time.html", "Measuring Program Resource Use", "Measuring Program Resource Use",
     "Measuring Program Resource Use", "utf-8"},
    {"valgrind_ms-manual.html", "9.\xC2\xA0Massif: a heap profiler", "", "", "UTF-8"},
    {"xtrans-dev_xtrans.html", "X Transport Interface", "", "", "UTF-8"},
    {"zlib1g-dev_zlib_how.html", "zlib Usage Example", "", "", "ISO-8859-1"},
    // Hand-written variants.
    {"handmade_upper-case-unquoted.html", "Upper Case Shop Front",
     R"(Tools for the "weekend" carpenter)", "saws,planes,chisels", "Windows-1252"},
    {"handmade_multiline-meta.html", "Spread Over Lines",
     "A description    that runs over    three lines", "first, second,                third", "-"},
    {"handmade_meta-charset-only.html", "Charset Only", "", "", "windows-1252"},
    {"handmade_quoted-charset.html", "Quoted Charset", "Found through HTTP-EQUIV", "", "koi8-r"},
};

TEST(HtmlPagesTest, TitlesDescriptionsKeywordsAndCharsetsOfThePages) {
  for (const PageFacts& facts : kPages) {
    std::string page = LoadPage(facts.file);
    EXPECT_EQ(Title(page), facts.title) << facts.file;
    EXPECT_EQ(Meta(page, "description"), facts.description) << facts.file;
    EXPECT_EQ(Meta(page, "keywords"), facts.keywords) << facts.file;
    EXPECT_EQ(Charset(page, "-"), facts.charset) << facts.file;
  }
}

TEST(HtmlPagesTest, OtherMetaElementsOfThePages) {
  struct Case {
    const char* file;
    const char* name;
    const char* content;
  } cases[] = {
      // Upper case, spread over lines: <META\nNAME="GENERATOR"\nCONTENT="...">
      {"fontconfig_fontconfig-user.html", "generator",
       "Modular DocBook HTML Stylesheet Version 1.79"},
      {"libexpat1-dev_reference.html", "author", "Clark Cooper, coopercc@netheaven.com"},
      {"libexpat1-dev_reference.html", "Content-Style-Type", "text/css"},
      {"mkdocs-doc_index.html", "author", "MkDocs Team"},
      {"debian-reference-en_ch01.en.html", "generator", "DocBook XSL Stylesheets Vsnapshot"},
      {"python3.11-doc_library_json.html", "generator",
       "Docutils 0.19: https://docutils.sourceforge.io/"},
      {"handmade_multiline-meta.html", "author", "Spaces around the equals signs"},
      {"handmade_quoted-charset.html", "generator", "C:/Program Files/Editor/editor.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Meta(LoadPage(c.file), c.name), c.content) << c.file << " " << c.name;
  }
}

// --- bad input ---

// GetMetaContent the plain way: every element walked with copy until quoted.
std::string ReferenceMeta(const std::string& page, const char* name) {
  ParseEngine engine;
  EXPECT_TRUE(engine.load(page));
  StringBuffer tag, clean, value, content;
  while (engine.seek("<meta")) {
    tag.clear();
    engine.copyUntilQuoted('>', tag);
    tag.appendChar('>');
    HtmlHelp::CleanTag(tag.view(), clean);
    for (const char* attribute : {"NAME", "HTTP-EQUIV"}) {
      HtmlHelp::GetAttribute(clean.view(), attribute, value);
      if (!value.isEmpty() && value.equalsIgnoreCase(name)) {
        HtmlHelp::GetAttribute(clean.view(), "content", content);
        if (!content.isEmpty()) return std::string(content.view());
      }
    }
  }
  return std::string(content.view());
}

TEST(HtmlBadInputTest, MetaReadingAgreesWithThePlainWalkOnQuoteMazes) {
  const char* pieces[] = {"<meta ", "<META ", "'", "\"", ">", "'>'", "\">\"", " name=",
                          "description", " content=", "x", " ", "y"};
  std::mt19937 random(4242);
  for (int round = 0; round < 3000; ++round) {
    std::string page;
    int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) page += pieces[random() % std::size(pieces)];
    ASSERT_EQ(Meta(page, "description"), ReferenceMeta(page, "description")) << page;
  }
}

TEST(HtmlBadInputTest, PageOfElementsWhoseQuotesHideEveryGreaterThan) {
  // From each "<meta '>'" every later ">" is inside quotes up to the lone quote at the end, so
  // each element, walked by itself, would scan to the end before falling back to its ">".
  std::string page;
  for (int i = 0; i < 200000; ++i) page += "<meta '>'";
  page += R"('<meta name="description" content="last">')";
  EXPECT_EQ(Meta(page, "description"), "last");
  EXPECT_EQ(Charset(page, "before"), "before");
}

TEST(HtmlBadInputTest, TenMegabytesWithoutAnyGreaterThan) {
  std::string page;
  while (page.size() < 10 * 1024 * 1024) page += R"(<meta name="description" content="x" <title )";
  EXPECT_EQ(Title(page), "");
  EXPECT_EQ(Meta(page, "description"), "x");
  EXPECT_EQ(Meta(page, "keywords"), "");
  EXPECT_EQ(Charset(page, "before"), "before");
  EXPECT_EQ(Clean(page), R"(<meta name="description" content="x">)");
}

TEST(HtmlBadInputTest, MegabyteOfMetaOpenings) {
  std::string page;
  while (page.size() < 1024 * 1024) page += "<meta ";
  EXPECT_EQ(Meta(page, "description"), "");
  EXPECT_EQ(Charset(page, "before"), "before");
  EXPECT_EQ(Clean(page), "<meta>");
}

TEST(HtmlBadInputTest, UnterminatedQuotesAndTags) {
  const char* pages[] = {
      "<title",   "<title>",    "<meta",         "<meta name=\"description",
      "<meta '",  "<meta \"'",  "<meta name='x", "<meta name=\"description\" content=\"abc",
      "<<<>>>",   "\"'\"'<'\"", "<meta\\",       "<meta name=\\",
  };
  for (const char* page : pages) {
    Title(page);
    Meta(page, "description");
    Charset(page);
    Clean(page);
    Attribute(page, "name");
  }
  // The ">" that closes every copied element ends up in the value.
  EXPECT_EQ(Meta("<meta name=\"description\" content=\"abc", "description"), "abc>");
}

TEST(HtmlBadInputTest, BinaryJunkIsReadWithoutHarm) {
  std::mt19937 random(99);
  const std::string flavour = "<meta <title> content= name= charset= \"'\\>\r\n\t";
  for (int round = 0; round < 300; ++round) {
    std::string page(random() % 5000, '\0');
    for (char& c : page) {
      c = (random() % 3 == 0) ? flavour[random() % flavour.size()] : static_cast<char>(random());
    }
    Title(page);
    Meta(page, "description");
    Charset(page);
    Clean(page);
    Attribute(page, "content");
  }
}

TEST(HtmlMemoryTest, ReadersReportRunningOutOfMemory) {
  std::string page = "<title>" + std::string(100000, 't') + "</title>" +
                     R"(<meta name="description" content=")" + std::string(100000, 'd') + "\">";
  StringBuffer out;
  SetAllocationFailureForTests(true);
  bool title = HtmlHelp::GetTitle(page, out);
  bool meta = HtmlHelp::GetMetaContent(page, "description", out);
  bool charset = HtmlHelp::GetMetaCharset(page, out);
  bool clean = HtmlHelp::CleanTag(page, out);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(title);
  EXPECT_FALSE(meta);
  EXPECT_FALSE(charset);
  EXPECT_FALSE(clean);
}

}  // namespace
}  // namespace quillon
