// XML files: charset detection when loading, the declared charset and atomic replacement when
// saving, and round trips through SaveXml that xmllint accepts and that load back equal.
#include "base/xml_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/cls_xml.h"
#include "base/charset/encoding_convert.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FreshDir;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

std::string XmlText(ClsXml& xml) {
  StringBuffer out;
  xml.ToXmlText(out);
  return std::string(out.view());
}

std::string Content(ClsXml& xml) {
  StringBuffer out;
  xml.ContentText(out);
  return std::string(out.view());
}

std::string LogText(ClsXml& xml) {
  StringBuffer out;
  xml.lastErrorText(out);
  return std::string(out.view());
}

std::string FromUtf8(const std::string& text, int codePage) {
  DataBuffer out;
  EncodingConvert().convert(kCodePageUtf8, codePage, text.data(),
                            static_cast<uint32_t>(text.size()), out);
  return std::string(out.view());
}

std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* listing = opendir(dir.c_str());
  while (dirent* entry = listing ? readdir(listing) : nullptr) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (listing) closedir(listing);
  return names;
}

const std::string kUtf16Document = "<?xml version=\"1.0\" encoding=\"utf-16\"?><a>\xC3\xA9</a>";

TEST(XmlFileTest, LoadingDetectsTheCharset) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* content;      // UTF-8
    const char* declaration;  // the first line written, "" when there is no declaration
  } cases[] = {
      {"FF FE", "\xFF\xFE" + FromUtf8(kUtf16Document, kCodePageUtf16Le), "\xC3\xA9",
       "<?xml version=\"1.0\" encoding=\"utf-8\" ?>"},
      {"FE FF", "\xFE\xFF" + FromUtf8(kUtf16Document, kCodePageUtf16Be), "\xC3\xA9",
       "<?xml version=\"1.0\" encoding=\"utf-8\" ?>"},
      {"EF BB BF", "\xEF\xBB\xBF<a>\xC3\xA9</a>", "\xC3\xA9", ""},
      {"declared", "<?xml version=\"1.0\" encoding = \"ISO-8859-1\"?><a>\xE9</a>", "\xC3\xA9",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>"},
      {"declared in apostrophes before a quoted attribute",
       "<?xml version='1.0' encoding='windows-1252' standalone=\"yes\"?><a>\x80</a>",
       "\xE2\x82\xAC", "<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\" ?>"},
      {"unknown encoding", "<?xml encoding=\"x-nothing\"?><a>\xE9</a>", "\xE9",
       "<?xml encoding=\"x-nothing\" ?>"},
      {"undeclared", "<a>\xC3\xA9</a>", "\xC3\xA9", ""},
  };
  std::string dir = FreshDir("detect");
  for (const Case& c : cases) {
    WriteFileBytes(dir + "in.xml", c.bytes);
    ClsXml xml;
    ASSERT_TRUE(xml.LoadXmlFile((" " + dir + "in.xml ").c_str(), true)) << c.what;
    EXPECT_EQ(Content(xml), c.content) << c.what;
    std::string text = XmlText(xml);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), c.declaration) << c.what;
  }
}

TEST(XmlFileTest, FailedLoadsKeepTheOldTree) {
  std::string dir = FreshDir("failed_load");
  WriteFileBytes(dir + "empty.xml", "");
  ClsXml xml;
  xml.PutTag("kept");
  EXPECT_FALSE(xml.LoadXmlFile((dir + "missing.xml").c_str(), true));
  EXPECT_NE(LogText(xml).find("Failed to open file (2)"), std::string::npos);
  EXPECT_FALSE(xml.LoadXmlFile((dir + "empty.xml").c_str(), true));
  EXPECT_NE(LogText(xml).find("No XML element found"), std::string::npos);
  EXPECT_EQ(XmlText(xml), "\r\n<kept />\r\n");
}

TEST(XmlFileTest, LoadXmlTakesAShortTextEndingInDotXmlAsAPath) {
  std::string dir = FreshDir("path_like");
  std::string path = dir + "doc.XML";
  WriteFileBytes(path, "<fromfile/>");
  ASSERT_LT(path.size(), ClsXml::kMaxPathLikeLength);
  ClsXml xml;
  EXPECT_TRUE(xml.LoadXml(("  " + path + "\n").c_str(), true));
  EXPECT_EQ(XmlText(xml), "\r\n<fromfile />\r\n");
  std::string longPath = dir + std::string(ClsXml::kMaxPathLikeLength, 'x') + ".xml";
  EXPECT_FALSE(xml.LoadXml(longPath.c_str(), true));  // parsed as text: no element
}

TEST(XmlFileTest, SavingWritesTheDeclaredCharset) {
  struct Case {
    const char* declaration;  // parsed before the root; may be empty
    bool saved;
    std::string bytes;
  } cases[] = {
      {"", true, "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<a>\xC3\xA9</a>\r\n"},
      {"<?xml version=\"1.0\" standalone=\"yes\"?>", true,
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>\r\n\r\n<a>\xC3\xA9</a>\r\n"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", true,
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n\r\n<a>\xE9</a>\r\n"},
      {"<?xml version=\"1.0\" encoding=\"utf-16\"?>", true,
       "\xFF\xFE" +
           FromUtf8("<?xml version=\"1.0\" encoding=\"utf-16\" ?>\r\n\r\n<a>\xC3\xA9</a>\r\n",
                    kCodePageUtf16Le)},
      {"<?xml version=\"1.0\" encoding=\"x-nothing\"?>", false, "old"},
  };
  std::string dir = FreshDir("save");
  for (const Case& c : cases) {
    WriteFileBytes(dir + "out.xml", "old");
    ClsXml xml;
    ASSERT_TRUE(xml.LoadXml((std::string(c.declaration) + "<a>\xC3\xA9</a>").c_str(), true));
    EXPECT_EQ(xml.SaveXml((dir + "out.xml").c_str()), c.saved) << c.declaration;
    EXPECT_EQ(ReadFileBytes(dir + "out.xml"), c.bytes) << c.declaration;
    EXPECT_EQ(FileNames(dir), std::vector<std::string>{"out.xml"}) << "no temporary file left";
    if (!c.saved) {
      EXPECT_NE(LogText(xml).find("x-nothing"), std::string::npos);
      continue;
    }
    ClsXml loaded;
    ASSERT_TRUE(loaded.LoadXmlFile((dir + "out.xml").c_str(), true));
    EXPECT_EQ(Content(loaded), "\xC3\xA9");
  }
}

TEST(XmlFileTest, AFailedReplacementLeavesNothingBehind) {
  std::string dir = FreshDir("replace");
  LogNull log;
  EXPECT_FALSE(ReplaceFileAtomically((dir + "missing/out.xml").c_str(), "x", 1, log));
  EXPECT_FALSE(ReplaceFileAtomically("", "x", 1, log));
  // A folder in the file's place: the temporary file is written, the rename refused.
  ASSERT_EQ(mkdir((dir + "taken.xml").c_str(), 0755), 0);
  Logger logger;
  EXPECT_FALSE(ReplaceFileAtomically((dir + "taken.xml").c_str(), "x", 1, logger));
  EXPECT_EQ(FileNames(dir), std::vector<std::string>{"taken.xml"});
  ClsXml xml;
  EXPECT_FALSE(xml.SaveXml((dir + "taken.xml").c_str()));
  EXPECT_NE(LogText(xml).find("Failed to replace file"), std::string::npos);
}

TEST(XmlFileTest, AReplacedFileKeepsItsPermissionsOnlyWhenAsked) {
  const std::string path = FreshDir("permissions") + "profile.conf";
  const mode_t umaskBits = umask(0);
  umask(umaskBits);
  const mode_t fresh = 0644 & ~umaskBits;
  struct Case {
    mode_t old;  // 0: no old file
    bool keep;
    mode_t expected;
  };
  const Case kCases[] = {{0640, true, 0640}, {0600, false, fresh}, {0, true, fresh}};
  LogNull log;
  for (const Case& c : kCases) {
    unlink(path.c_str());
    if (c.old != 0) {
      WriteFileBytes(path, "old");
      ASSERT_EQ(chmod(path.c_str(), c.old), 0);
    }
    ASSERT_TRUE(ReplaceFileAtomically(path.c_str(), "new", 3, log, c.keep));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.expected) << std::oct << c.old << " keep " << c.keep;
    EXPECT_EQ(ReadFileBytes(path), "new");
  }
}

// A random tree of names, attributes and texts that XML can carry unchanged through the
// writer: no white space at the ends of texts, no "&" that starts a reference.
void BuildRandomTree(ClsXml& root, std::mt19937& random) {
  const char* const names[] = {"a", "b_2", "c.d", "e-f", "g", "h\xC3\xA9"};
  const char* const texts[] = {"x",     "1 & 2", "a<b>c", "\"q\" 'a'", "\xC3\xA9\xE2\x82\xAC",
                               "t\r\nu"};
  root.PutTag("root");
  std::vector<std::unique_ptr<ClsXml>> open;
  open.push_back(root.AppendChildNode("top", nullptr));
  for (int i = 0; i < 60 && !open.empty(); ++i) {
    ClsXml& parent = *open[random() % open.size()];
    const char* content = random() % 3 ? texts[random() % 6] : nullptr;
    std::unique_ptr<ClsXml> child = parent.AppendChildNode(names[random() % 6], content);
    for (int a = static_cast<int>(random() % 4); a > 0; --a) {
      child->AppendAttr(names[a], texts[random() % 6]);  // distinct names per element
    }
    if (open.size() < 8) open.push_back(std::move(child));
  }
}

TEST(XmlFileTest, SavedDocumentsPassXmllintAndLoadBackEqual) {
  if (std::system("xmllint --version > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xmllint is not installed (package libxml2-utils)";
  }
  std::vector<std::unique_ptr<ClsXml>> documents;
  for (const char* text : {
           "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"no\"?>"
           "<?xml-stylesheet type=\"text/css\" href=\"s.css\"?>"
           "<!DOCTYPE cookies><cookies><cookie key=\".a.com,/\" v=\"0\"><sid>1</sid></cookie>"
           "</cookies>",
           "<a><![CDATA[<b> & ]] c]]><c/></a>",
           "<?xml version=\"1.0\" encoding=\"utf-16\"?><a><b>\xF0\x9F\x98\x80</b></a>",
       }) {
    documents.push_back(std::make_unique<ClsXml>());
    ASSERT_TRUE(documents.back()->LoadXml(text, true)) << text;
  }
  std::mt19937 random(7);
  for (int i = 0; i < 20; ++i) {
    documents.push_back(std::make_unique<ClsXml>());
    BuildRandomTree(*documents.back(), random);
  }
  std::string path = FreshDir("round_trip") + "doc.xml";
  for (auto& document : documents) {
    ASSERT_TRUE(document->SaveXml(path.c_str()));
    std::string written = XmlText(*document);
    EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << written;
    ClsXml loaded;
    ASSERT_TRUE(loaded.LoadXmlFile(path.c_str(), true));
    std::string reloaded = XmlText(loaded);
    // A UTF-16 file is declared utf-8 once loaded; everything else reads back the same.
    size_t utf16 = written.find("\"utf-16\"");
    if (utf16 != std::string::npos) written.replace(utf16, 8, "\"utf-8\"");
    EXPECT_EQ(reloaded, written);
  }
}

}  // namespace
}  // namespace quillon
