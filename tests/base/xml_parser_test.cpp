// The forgiving parser: what it builds from documents a strict parser would refuse, what it
// logs, and hostile input that must cost bounded time and no stack.
#include "base/xml_parser.h"

#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base/logger.h"
#include "base/xml_serializer.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

struct Outcome {
  std::string xml;  // the serialised document, empty when no element was found
  std::string log;
};

Outcome Parse(const std::string& text, bool trimContent = true) {
  Logger log;
  std::unique_ptr<TreeInfo> document = ParseXmlDocument(text, log, trimContent);
  StringBuffer xml;
  if (document) SerializeXml(*document->root(), xml);
  return {std::string(xml.view()), testing::LogText(log)};
}

TEST(XmlParserTest, ForgivingParsesAndTheirSerialisation) {
  struct Case {
    const char* input;
    bool trim;
    const char* expected;
  } cases[] = {
      // Closing-tag names are not looked at; unclosed elements are closed at the end.
      {"<a><b>1</x></a>", true, "\r\n<a>\r\n    <b>1</b>\r\n</a>\r\n"},
      {"<a><b>", true, "\r\n<a>\r\n    <b />\r\n</a>\r\n"},
      // The last completed top-level element wins; one left open after it is dropped.
      {"<a>1</a><c/>", true, "\r\n<c />\r\n"},
      {"<a>1</a><c><d>", true, "\r\n<a>1</a>\r\n"},
      {"junk<a>1</a>tail", true, "\r\n<a>1</a>\r\n"},
      // White space around text: kept or trimmed; white space alone adds nothing.
      {"<a>  x  </a>", false, "\r\n<a>  x  </a>\r\n"},
      {"<a>  x  </a>", true, "\r\n<a>x</a>\r\n"},
      {"<a> \r\n\t </a>", false, "\r\n<a />\r\n"},
      // Mixed content: the pieces joined by one space, each decoded once.
      {"<a>x<b/>y &amp;amp; z</a>", true, "\r\n<a>x y &amp; z\r\n    <b />\r\n</a>\r\n"},
      {"<a>x<b/> y</a>", false, "\r\n<a>x  y\r\n    <b />\r\n</a>\r\n"},
      // CDATA: unchanged, directly following sections appended.
      {"<a><![CDATA[x<y]]><![CDATA[]z]]></a>", true, "\r\n<a><![CDATA[x<y]z]]></a>\r\n"},
      {"<a><!-- <b/> --><!X><c/></a>", true, "\r\n<a>\r\n    <c />\r\n</a>\r\n"},
      // The prologue: DOCTYPE (nested brackets) and other instructions, verbatim, one per line.
      {"<!doctype a [<!ENTITY e \"x\">]><?php x ?><a/>", true,
       "<!doctype a [<!ENTITY e \"x\">]>\n<?php x ?>\n\r\n\r\n<a />\r\n"},
      // Declaration ("standalone" written last; a later one replaces an earlier one) and
      // stylesheets.
      {"<?xml version=\"0\"?><?XML version=\"1.0\" standalone='yes' encoding=\"utf-8\"?>"
       "<?xml-stylesheet href=\"s.css\"?><a/>",
       true,
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>\r\n"
       "<?xml-stylesheet href=\"s.css\" ?>\r\n\r\n<a />\r\n"},
      // Entities: the five decoded in text and values; numeric references kept.
      {"<a v=\"&lt;&amp;lt;&#38;\">&lt;b&gt; &#169;</a>", true,
       "\r\n<a v=\"&lt;&amp;lt;&#38;\">&lt;b&gt; &#169;</a>\r\n"},
      // Attribute names filtered and prefixed, a missing value empty, an unquoted value running
      // to the next quote of either kind.
      {"<a 1x=\"1\" -y='2' b\"c=3 d e='4'/>", true,
       "\r\n<a A1x=\"1\" A-y=\"2\" bc=\"3 d e=\" A4=\"\" />\r\n"},
      // Names that are not XML names: filtered; an empty tag is written "nothing".
      {"<a b<c><d&e/></a b>", true, "\r\n<a bc=\"\">\r\n    <de />\r\n</a>\r\n"},
      {"<><x/></>", true, "\r\n<nothing>\r\n    <x />\r\n</nothing>\r\n"},
      // Nothing that makes an element.
      {"", true, ""},
      {"just text", true, ""},
      {"<!-- only a comment -->", true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.input, c.trim).xml, c.expected) << c.input;
  }
}

TEST(XmlParserTest, LogsOnlyTheThreeProblems) {
  struct Case {
    const char* input;
    const char* logged;
    const char* expected;
  } cases[] = {
      // Parsing stops at an unclosed comment; what was built is kept.
      {"<a><b/><!-- <c/>", "Unclosed comment", "\r\n<a>\r\n    <b />\r\n</a>\r\n"},
      {"<!DOCTYPE a [<b>", "Failed to parse DTD", ""},
      {"<a><b></b<c/></a>", "error_tag: b", "\r\n<a>\r\n    <b />\r\n    <c />\r\n</a>\r\n"},
  };
  for (const Case& c : cases) {
    Outcome outcome = Parse(c.input);
    EXPECT_EQ(outcome.xml, c.expected) << c.input;
    EXPECT_NE(outcome.log.find(c.logged), std::string::npos) << c.input << "\n" << outcome.log;
  }
  EXPECT_EQ(Parse("<a/><!-- ok --><b>1</b>").log.find("rror"), std::string::npos);
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// Hostile documents: each is parsed (and the tree destroyed) in bounded time and memory, and
// none may recurse as deep as the input nests.
constexpr size_t kTenMegabytes = 10 * 1000 * 1000;

TEST(XmlParserTest, HostileDocumentsStayBounded) {
  struct Case {
    const char* what;
    std::string input;
    std::function<void(TreeNode& root, const std::string& log)> check;
  } cases[] = {
      {"10 MB unclosed", "<r>" + Repeat("<i k='v'>t</i>", kTenMegabytes / 14),
       [](TreeNode& root, const std::string&) {
         EXPECT_EQ(root.childCount(), kTenMegabytes / 14);
       }},
      {"mixed content", "<r>" + Repeat("x<b/>", 500000) + "</r>",
       [](TreeNode& root, const std::string&) { EXPECT_EQ(root.content().size(), 999999u); }},
      {"attribute flood", "<a" + Repeat(" n=\"v\"", 500000) + "/>",
       [](TreeNode& root, const std::string&) {
         EXPECT_EQ(root.attributes()->count(), 500000);
         root.replaceAttribute("n", "w");
         EXPECT_EQ(root.attributes()->count(), 1);
       }},
      {"closing tags cut short", "<r>" + Repeat("<a></<", 100000),
       [](TreeNode&, const std::string& log) {
         EXPECT_EQ(Count(log, "Error in closing tag"), size_t{kMaxLoggedClosingTagErrors});
       }},
      {"unquoted value to the end", "<a x=" + std::string(kTenMegabytes, 'y'),
       [](TreeNode& root, const std::string&) { EXPECT_EQ(root.attributes()->count(), 1); }},
      {"unclosed CDATA", "<a><![CDATA[" + std::string(kTenMegabytes, ']'),
       [](TreeNode& root, const std::string&) {
         EXPECT_EQ(root.content().size(), kTenMegabytes);
       }},
  };
  for (Case& c : cases) {
    Logger log;
    std::unique_ptr<TreeInfo> document = ParseXmlDocument(c.input, log, true);
    ASSERT_TRUE(document) << c.what;
    c.check(*document->root(), testing::LogText(log));
  }
}

TEST(XmlParserTest, TooManyElementsAreRefusedWhole) {
  for (const char* piece : {"<a/>", "<?xml-stylesheet a='b'?>"}) {
    Logger log;
    std::string text = Repeat(piece, kMaxXmlElements) + "<a/>";
    EXPECT_FALSE(ParseXmlDocument(text, log, true)) << piece;
    EXPECT_NE(testing::LogText(log).find("Too many XML elements"), std::string::npos) << piece;
  }
}

TEST(XmlParserTest, DeepNestingIsParsedWrittenAndDestroyedWithoutRecursion) {
  constexpr size_t kDepth = 100000;
  Logger log;
  std::unique_ptr<TreeInfo> document = ParseXmlDocument(Repeat("<e>", kDepth), log, true);
  ASSERT_TRUE(document);
  StringBuffer xml;
  ASSERT_TRUE(SerializeXml(*document->root(), xml));
  std::string text(xml.view());
  EXPECT_EQ(Count(text, "</e>\r\n"), kDepth - 1);
  // Indentation stops growing at 50 levels.
  EXPECT_NE(text.find("\r\n" + std::string(200, ' ') + "<e />\r\n"), std::string::npos);
  EXPECT_EQ(text.find(std::string(201, ' ')), std::string::npos);
  document.reset();
}

TEST(XmlParserTest, GarbageNeverCrashes) {
  const std::string alphabet = "<>/!?[]-=\"' \r\nabc&;#xml";
  std::mt19937 random(20240607);
  for (int round = 0; round < 2000; ++round) {
    std::string input(random() % 300, ' ');
    for (char& c : input) c = alphabet[random() % alphabet.size()];
    Parse(Parse(input, round % 2 == 0).xml);
  }
}

}  // namespace
}  // namespace quillon
