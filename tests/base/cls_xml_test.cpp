// The XML handle: stored names, attributes, child lookups, handles sharing a document, and the
// writer's bytes for trees built through the handle.
#include "base/cls_xml.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/memory.h"

namespace quillon {
namespace {

std::string XmlText(ClsXml& xml) {
  StringBuffer out;
  xml.ToXmlText(out);
  return std::string(out.view());
}

std::string Tag(ClsXml& xml) {
  StringBuffer out;
  xml.TagText(out);
  return std::string(out.view());
}

std::string Attr(ClsXml& xml, const char* name) {
  StringBuffer out;
  xml.AttrText(name, out);
  return std::string(out.view());
}

TEST(ClsXmlTest, NamesAreStoredFiltered) {
  ClsXml xml;
  EXPECT_EQ(Tag(xml), "unnamed");
  xml.PutTag("a b<c>");
  EXPECT_EQ(Tag(xml), "abc");
  auto child = xml.AppendChildNode(" my tag ", "x");
  ASSERT_TRUE(child);
  EXPECT_EQ(Tag(*child), "my_tag");

  struct Case {
    const char* given;
    const char* stored;
  } cases[] = {
      {"1st value", "A1stvalue"}, {" -x ", "A-x"}, {".5", "A.5"},
      {"ns:a_b!", "ns:a_b!"},     {"x=\"y\"", "xy"}, {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(xml.AppendAttr(c.given, "v")) << c.given;
    EXPECT_TRUE(xml.AttrEquals(c.stored, "v")) << c.given;
  }
  EXPECT_FALSE(xml.AppendAttr(" <> ", "v"));  // nothing left of the name
}

TEST(ClsXmlTest, AttributesKeepTheirOrderAndReplacingMovesToTheEnd) {
  ClsXml xml;
  xml.AppendAttr("a", "1");
  xml.AppendAttr("b", nullptr);
  xml.AppendAttr("a", "3");
  EXPECT_EQ(Attr(xml, " a "), "1");  // the first of duplicates
  EXPECT_TRUE(xml.AttrEquals("a", "3"));
  EXPECT_FALSE(xml.AttrEquals("A", "1"));
  EXPECT_EQ(XmlText(xml), "\r\n<unnamed a=\"1\" b=\"\" a=\"3\" />\r\n");

  xml.ReplaceAttr("a", -42);
  xml.ReplaceAttr("1n", "x");
  xml.ReplaceAttr("1n", "y");  // replaces what "1n" was stored as
  EXPECT_EQ(XmlText(xml), "\r\n<unnamed b=\"\" a=\"-42\" A1n=\"y\" />\r\n");
  EXPECT_EQ(xml.AttrNumber("a"), -42);
  EXPECT_EQ(xml.AttrNumber("missing"), 0);
  StringBuffer out("old");
  EXPECT_FALSE(xml.AttrText("missing", out));
  EXPECT_TRUE(out.isEmpty());
}

TEST(ClsXmlTest, ChildLookupsAreExact) {
  ClsXml xml;
  xml.AppendChildNode("cookie", "")->AppendAttr("key", ".a.com,/");
  xml.AppendChildNode("cookie", "")->AppendAttr("key", ".b.com,/x");
  xml.AppendChildNode("Cookie", "")->AppendAttr("key", ".c.com,/");
  struct Case {
    const char* tag;
    const char* name;     // null: ChildByTag
    const char* pattern;
    const char* key;      // of the child found; null: none
  } cases[] = {
      {"Cookie", nullptr, nullptr, ".c.com,/"},
      {" cookie ", nullptr, nullptr, ".a.com,/"},
      {"cook", nullptr, nullptr, nullptr},
      {"cookie", "key", "*.b.com,*", ".b.com,/x"},
      {"cookie", "key", "*", ".a.com,/"},
      {"cookie", "key", ".A.com*", nullptr},
      {"cookie", "key", ".c.com,/", nullptr},
      {"cookie", "nokey", "*", nullptr},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ClsXml> found =
        c.name ? xml.ChildByTagAndAttr(c.tag, c.name, c.pattern) : xml.ChildByTag(c.tag);
    SCOPED_TRACE(std::string(c.tag) + " " + (c.pattern ? c.pattern : ""));
    ASSERT_EQ(found != nullptr, c.key != nullptr);
    if (found) {
      EXPECT_EQ(Attr(*found, "key"), c.key);
    }
  }
}

TEST(ClsXmlTest, HandlesKeepTheirDocumentAlive) {
  auto root = std::make_unique<ClsXml>();
  std::unique_ptr<ClsXml> first = root->AppendChildNode("first", "1");
  ASSERT_TRUE(root->AppendChild("second", "2"));
  root.reset();  // the child's handle keeps the document

  EXPECT_FALSE(first->MoveToFirstChild());
  EXPECT_TRUE(first->MoveToNextSibling());
  EXPECT_FALSE(first->MoveToNextSibling());
  EXPECT_EQ(Tag(*first), "second");
  std::unique_ptr<ClsXml> onRoot = first->FirstChildHandle();
  EXPECT_FALSE(onRoot);
  EXPECT_TRUE(first->MoveToParent());
  EXPECT_FALSE(first->MoveToParent());
  onRoot = first->FirstChildHandle();
  ASSERT_TRUE(onRoot);

  // Loading into one handle leaves the old tree to the others.
  EXPECT_TRUE(first->LoadXml("<fresh/>", true));
  EXPECT_EQ(Tag(*first), "fresh");
  EXPECT_EQ(Tag(*onRoot), "first");
  EXPECT_TRUE(onRoot->MoveToParent());
  EXPECT_EQ(Tag(*onRoot), "unnamed");
  EXPECT_FALSE(first->LoadXml("no element here", true));
  EXPECT_EQ(Tag(*first), "fresh");
}

TEST(ClsXmlTest, AHandleWithoutATreeAnswersNothing) {
  SetAllocationFailureForTests(true);
  ClsXml xml;
  SetAllocationFailureForTests(false);
  StringBuffer out;
  EXPECT_FALSE(xml.TagText(out));
  EXPECT_FALSE(xml.PutContent("x"));
  EXPECT_FALSE(xml.AppendChildNode("a", "b"));
  EXPECT_FALSE(xml.SaveXml("never.xml"));
  xml.lastErrorText(out);
  EXPECT_NE(out.view().find("null tree"), std::string_view::npos);
}

// Trees built through the handle, written byte for byte.
TEST(ClsXmlTest, WritesTheFixedLayout) {
  struct Case {
    const char* what;
    void (*build)(ClsXml& root);
    const char* expected;
  } cases[] = {
      {"a lone root", [](ClsXml& a) { a.PutTag("a"); }, "\r\n<a />\r\n"},
      {"a child with content and an attribute",
       [](ClsXml& a) {
         a.PutTag("a");
         a.AppendChildNode("b", "x")->AppendAttr("c", "1");
       },
       "\r\n<a>\r\n    <b c=\"1\">x</b>\r\n</a>\r\n"},
      {"siblings, grandchildren and content before children",
       [](ClsXml& a) {
         a.PutTag("a");
         a.PutContent("t\n");
         a.AppendChildNode("b", nullptr)->AppendChild("c", "");
         a.AppendChild("d", "y");
       },
       "\r\n<a>t\n\r\n    <b>\r\n        <c />\r\n    </b>\r\n    <d>y</d>\r\n</a>\r\n"},
      {"content escaped, references kept",
       [](ClsXml& a) { a.PutContent("a & b < c \"'> &#169; &copy; &Copy; &bogus; &#"); },
       "\r\n<unnamed>a &amp; b &lt; c &quot;&apos;&gt; &#169; &copy; &Copy; &amp;bogus; &#"
       "</unnamed>\r\n"},
      {"attribute values keep only &#",
       [](ClsXml& a) { a.AppendAttr("v", "&#1; &amp; <\"'"); },
       "\r\n<unnamed v=\"&#1; &amp;amp; &lt;&quot;&apos;\" />\r\n"},
      {"an emptied content makes an empty element",
       [](ClsXml& a) {
         a.PutContent("x");
         a.PutContent(nullptr);
       },
       "\r\n<unnamed />\r\n"},
      {"CDATA that holds its own end marker loses the markers",
       [](ClsXml& a) {
         a.LoadXml("<a><![CDATA[x]]></a>", true);
         a.PutContent("<![CDATA[y]]>z");
       },
       "\r\n<a><![CDATA[yz]]></a>\r\n"},
      {"a handle below the root writes its subtree at depth 0 without the prologue",
       [](ClsXml& a) {
         a.LoadXml("<?xml version=\"1.0\"?><a><b><c/></b></a>", true);
         a.MoveToFirstChild();
       },
       "\r\n<b>\r\n    <c />\r\n</b>\r\n"},
  };
  for (const Case& c : cases) {
    ClsXml xml;
    c.build(xml);
    EXPECT_EQ(XmlText(xml), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace quillon
