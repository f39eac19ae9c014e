#include "app/settings_profile.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "app/ini_file.h"
#include "base/platform.h"

namespace tollwick {
namespace {

class MessageHooks : public FrontEndHooks {
 public:
  void OpenPath(const std::string& path) override { opened.push_back(path); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> opened, messages;
};

// Each test reads and writes a profile of its own.
class SettingsProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Qt keeps the profile's location for the whole process, so each test empties it instead.
    QSettings("Brindlewood", "Tollwick").clear();
  }
  QVariant Raw(const char* key) {
    QSettings settings("Brindlewood", "Tollwick");
    return settings.value(QString("Settings/") + key);
  }
  static std::string ProfilePath() {
    return QSettings("Brindlewood", "Tollwick").fileName().toStdString();
  }
  static std::string ProfileBytes() {
    std::ifstream in(QSettings("Brindlewood", "Tollwick").fileName().toStdString(),
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// Texts that need the INI form's escapes, quotes and encodings.
const std::string kAwkwardTexts[] = {
    "plain",
    "",
    " leading and trailing spaces ",
    "a, b; c = d",
    "Fish, chips",
    "say \"hi\" \\ back\\slash",
    "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80",
    "line\r\nbreaks\nand\ttabs\x01" "1f\x1b" "a\x7f",
    "@at the start",
    "@@two",
    "@String(x)",
    std::string("with\0nul", 8),
    "bad \xC3( UTF-8 \xFF",
    std::string(600, 'x') + "\n" + std::string(600, ';'),
};

// A text as it comes back through Qt: ill-formed UTF-8 turned into U+FFFD.
std::string AsQtText(const std::string& text) { return QString::fromStdString(text).toStdString(); }

SitemapFields AwkwardFields(const std::string& text) {
  SitemapFields fields;
  fields.siteUrl = fields.title = fields.description = fields.endOfBody = text;
  fields.metaTags = fields.outputFolder = text;
  fields.engine.avoid = {text, "*second*"};
  return fields;
}

TEST_F(SettingsProfileTest, FileWrittenHereIsWhatQSettingsWouldWriteAndReads) {
  for (const std::string& text : kAwkwardTexts) {
    QSettings("Brindlewood", "Tollwick").clear();
    SaveSettings(AwkwardFields(text));
    const std::string ours = ProfileBytes();
    {
      QSettings settings("Brindlewood", "Tollwick");
      EXPECT_EQ(settings.value("Settings/Title").toString().toStdString(), AsQtText(text)) << ours;
      EXPECT_EQ(settings.value("Settings/Last Folder").toString().toStdString(), AsQtText(text));
      EXPECT_EQ(settings.value("Settings/Generate URLList").toInt(), 1);
      // A change and its undoing make QSettings rewrite the whole file in its own form.
      settings.setValue("Settings/Scratch", 1);
      settings.remove("Settings/Scratch");
    }
    EXPECT_EQ(ProfileBytes(), ours) << text;
  }
}

TEST_F(SettingsProfileTest, FileWrittenByQSettingsReadsBackAndKeepsOtherKeys) {
  // Characters above U+00FF and above U+FFFF in a group and a key of another program.
  const QString kForeignKey =
      QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e/cl\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80");
  for (const std::string& text : kAwkwardTexts) {
    QSettings("Brindlewood", "Tollwick").clear();
    {
      QSettings settings("Brindlewood", "Tollwick");
      for (const char* key : {"URL", "Title", "Description", "End Of Body", "Meta tags"}) {
        settings.setValue(QString("Settings/") + key, QString::fromStdString(text));
      }
      settings.setValue("Settings/Avoid", QString::fromStdString(text + "\n*second*"));
      settings.setValue("Other Group/Kept", "a, list");
      settings.setValue("Top", 5);
      settings.setValue(kForeignKey, 7);
    }
    SitemapFields loaded;
    LoadSettings(loaded);
    const SitemapFields expected = AwkwardFields(AsQtText(text));
    EXPECT_EQ(loaded.siteUrl, expected.siteUrl) << ProfileBytes();
    EXPECT_EQ(loaded.title, expected.title);
    EXPECT_EQ(loaded.description, expected.description);
    EXPECT_EQ(loaded.endOfBody, expected.endOfBody);
    EXPECT_EQ(loaded.metaTags, expected.metaTags);
    EXPECT_EQ(loaded.engine.avoid.back(), "*second*");

    SaveLastFolder("/tmp/x");
    QSettings settings("Brindlewood", "Tollwick");
    EXPECT_EQ(settings.value("Other Group/Kept").toString(), "a, list");
    EXPECT_EQ(settings.value("Top").toInt(), 5);
    EXPECT_EQ(settings.value(kForeignKey).toInt(), 7) << ProfileBytes();
    EXPECT_EQ(settings.value("Settings/Last Folder").toString(), "/tmp/x");
  }
}

// Hand-edited values: whatever QSettings makes of them, the profile makes of them too.
TEST_F(SettingsProfileTest, HandEditedValuesReadAsQSettingsReadsThem) {
  const char* const kRawValues[] = {
      "  spaced  ",      "\"quoted\"  ",   "\"half quoted",  "a,b",         "one, two,",
      "x ; comment",     "\\x41\\x",     "\\101\\q!",   "\\u00e9",   "@Invalid()",
      "@ByteArray(ab)",  "@Variant(x)",      "@Rect(1 2 3 4)",  "@other(x)",   "@String(s)",
      "\"a\"b\"c\"", "tail\\\nnext", "=eq",             "\xff\xfe",  "\\",
      "@ByteArray(\\xe9\\xc3\\xa9\\x100)",
  };
  const std::string path = QSettings("Brindlewood", "Tollwick").fileName().toStdString();
  int n = 0;
  for (const char* raw : kRawValues) {
    const std::string file = "; comment\n[Settings]\nTitle=" + std::string(raw) + "\n";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
    // A file of its own, so QSettings' cache of the profile never answers.
    const QString copy = QString::fromStdString(path + ".case" + std::to_string(n++));
    std::ofstream(copy.toStdString(), std::ios::binary) << file;
    QVariant value = QSettings(copy, QSettings::IniFormat).value("Settings/Title");
    const std::string expected = value.isValid() && value.canConvert<QString>()
                                     ? value.toString().toStdString()
                                     : std::string("kept");
    SitemapFields fields;
    fields.title = "kept";
    LoadSettings(fields);
    EXPECT_EQ(fields.title, expected) << raw;
    QFile::remove(copy);
  }
}

// Whatever a damaged or hand-made file holds, the document written back reads as the same
// document: rewriting it again changes nothing, and no line swallows the ones after it.
TEST(IniFileTest, AnyFileRewritesToADocumentThatReadsTheSame) {
  const char kPieces[][12] = {"[", "]", "[General]", "a", "k=", "=", "\"", "\\", ";", ",",
                              "\n", "\r\n", " ", "@", "%", "\xC3\xA9", "[S]", "b=\"x", "\\\n",
                              "\r"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    for (int n = random() % 24; n > 0; --n) bytes += kPieces[random() % std::size(kPieces)];
    IniFile first;
    first.parse(bytes);
    IniFile second;
    second.parse(first.text());
    ASSERT_EQ(second.text(), first.text()) << "file: " << bytes;
  }
  IniFile open;
  open.parse("[S]\nz=1\nb=\"no closing quote");
  open.write("S/c", "later");
  IniFile reread;
  reread.parse(open.text());
  EXPECT_EQ(reread.find("S/c"), "later");
  EXPECT_EQ(reread.find("S/b"), "no closing quote");
}

// The command line saving its folder while the dialog saves its fields (with no folder of its
// own): neither save may bring back the other's older value.
TEST_F(SettingsProfileTest, ConcurrentSavesKeepEachOthersKeys) {
  constexpr int kSaves = 40;
  std::thread folders([] {
    for (int i = 0; i < kSaves; ++i) SaveLastFolder("/folder/" + std::to_string(i));
  });
  SitemapFields fields;
  for (int i = 0; i < kSaves; ++i) {
    fields.title = "title " + std::to_string(i);
    SaveSettings(fields);
  }
  folders.join();
  SitemapFields loaded;
  LoadSettings(loaded);
  EXPECT_EQ(loaded.title, "title 39");
  EXPECT_EQ(Raw("Last Folder").toString().toStdString(), "/folder/39") << ProfileBytes();
}

// The dialog saved (or showed) one folder, then another program saved its own: the dialog's
// next save replaces that only with a folder of a new run.
TEST_F(SettingsProfileTest, SaveKeepsAFolderAnotherProgramSavedMeanwhile) {
  struct Case {
    bool shownNotSaved;  // the dialog had its folder from Last Results
    const char* otherProgram;
    const char* savedNow;
    const char* expected;
  } const kCases[] = {
      {false, "/cli/2", "/dialog/1", "/cli/2"},
      {false, "/cli/2", "", "/cli/2"},
      {false, "/cli/2", "/dialog/3", "/dialog/3"},
      {true, "/cli/2", "/dialog/1", "/cli/2"},
      {false, "", "/dialog/1", "/dialog/1"},
  };
  for (const Case& c : kCases) {
    QSettings("Brindlewood", "Tollwick").clear();
    SitemapFields dialog;
    dialog.outputFolder = "/dialog/1";
    if (c.shownNotSaved) {
      QSettings("Brindlewood", "Tollwick").setValue("Settings/Last Folder", "/dialog/1");
      MessageHooks hooks;
      ShowLastResults(dialog, hooks);
    } else {
      SaveSettings(dialog);
    }
    QSettings("Brindlewood", "Tollwick").setValue("Settings/Last Folder", c.otherProgram);
    dialog.outputFolder = c.savedNow;
    SaveSettings(dialog);
    EXPECT_EQ(Raw("Last Folder").toString().toStdString(), c.expected) << c.savedNow;
  }
}

// A folder named in another encoding than UTF-8 (here Latin-1) is still the folder it names.
TEST_F(SettingsProfileTest, FolderPathThatIsNotUtf8ComesBackByteForByte) {
  const std::string folder = "/tmp/caf\xe9, 1";
  SaveLastFolder(folder);
  SitemapFields fields;
  MessageHooks hooks;
  EXPECT_TRUE(ShowLastResults(fields, hooks));
  EXPECT_EQ(fields.outputFolder, folder);
  EXPECT_EQ(Raw("Last Folder").toByteArray().toStdString(), folder) << ProfileBytes();

  fields.outputDir = folder;
  SaveOptions(fields);
  SitemapFields loaded;
  LoadSettings(loaded);
  EXPECT_EQ(loaded.outputDir, folder);
}

// Repeated sections are one, empty ones go, sections and keys are sorted as QString sorts them
// (U+FF41 after U+1F600), as when QSettings rewrites the file.
TEST_F(SettingsProfileTest, SectionsAreMergedSortedAndDroppedAsQSettingsRewritesThem) {
  const std::string file =
      "g=1\n[E]\n[b]\nx=1\n[Settings]\nTitle=t\n%UFF41=1\n%UD83D%UDE00=2\n[%UFF41]\nk=1\n"
      "[%UD83D%UDE00]\nk=2\n[B]\ny=2\n[b]\nz=3\nx=4\n[General]\nh=2\n[C]\n";
  std::ofstream(ProfilePath(), std::ios::binary | std::ios::trunc) << file;
  SaveLastFolder("/merged");
  // A file of its own, so QSettings' cache of the profile never answers.
  const std::string copy = ProfilePath() + ".sections";
  std::ofstream(copy, std::ios::binary) << file;
  QSettings(QString::fromStdString(copy), QSettings::IniFormat)
      .setValue("Settings/Last Folder", "/merged");
  std::ifstream in(copy, std::ios::binary);
  EXPECT_EQ(ProfileBytes(), std::string(std::istreambuf_iterator<char>(in), {}));
  QFile::remove(QString::fromStdString(copy));
}

// A stop signal that comes while a profile is read ends the reading; one that came before (a
// stopped crawl recording its folder) does not.
TEST_F(SettingsProfileTest, StopEndsAReadOnlyWhenItComesDuringIt) {
  std::string manySections;
  for (int i = 0; i < 10000; ++i) manySections += "[s" + std::to_string(i) + "]\nk=v\n";
  int asked = 0;
  IniFile cut;
  EXPECT_FALSE(cut.parse(manySections, [&asked] { return ++asked == 2; }));
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(cut.contains("s9999/k"));
  IniFile whole;
  EXPECT_TRUE(whole.parse(manySections, [] { return false; }));
  EXPECT_EQ(whole.find("s9999/k"), "v");

  std::ofstream(ProfilePath(), std::ios::binary | std::ios::trunc) << manySections;
  quillon::SetStopSignalledForTests(true);
  SaveLastFolder("/stopped run");
  quillon::SetStopSignalledForTests(false);
  EXPECT_EQ(Raw("Last Folder").toString().toStdString(), "/stopped run");
}

TEST_F(SettingsProfileTest, ProfileIsFoundWhereQSettingsKeepsIt) {
  SaveLastFolder("/found");
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  EXPECT_TRUE(QFile::exists(config + "/Brindlewood/Tollwick.conf"));
  EXPECT_EQ(QSettings("Brindlewood", "Tollwick").fileName(), config + "/Brindlewood/Tollwick.conf");
}

TEST_F(SettingsProfileTest, RewrittenProfileStaysPrivate) {
  SaveLastFolder("/first");
  const std::string path = QSettings("Brindlewood", "Tollwick").fileName().toStdString();
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  SaveLastFolder("/second");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ProfileBytes().find("/second"), std::string::npos);
}

TEST_F(SettingsProfileTest, OversizedProfileIsNeitherReadNorRewritten) {
  const std::string path = QSettings("Brindlewood", "Tollwick").fileName().toStdString();
  const std::string big = "[Settings]\nTitle=big\n;" + std::string(16 << 20, 'x') + "\n";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << big;
  SitemapFields fields;
  LoadSettings(fields);
  EXPECT_EQ(fields.title, "Sitemap");
  SaveLastFolder("/x");
  EXPECT_EQ(ProfileBytes().size(), big.size());
}

TEST_F(SettingsProfileTest, EmptyProfileKeepsTheFieldValues) {
  SitemapFields fields;
  fields.siteUrl = "http://keep.example/";
  fields.urlList = false;
  LoadSettings(fields);
  EXPECT_EQ(fields.siteUrl, "http://keep.example/");
  EXPECT_FALSE(fields.urlList);
  EXPECT_TRUE(fields.htmlSitemap);
  EXPECT_EQ(fields.title, "Sitemap");
  EXPECT_EQ(fields.metaTags, kDefaultMetaTags);
}

TEST_F(SettingsProfileTest, SavedFieldsComeBackAtTheNextLoad) {
  SitemapFields saved;
  saved.siteUrl = "http://example.com/";
  saved.urlList = false;
  saved.htmlSitemap = true;
  saved.endOfBody = "<script>x</script>\r\n";
  saved.title = "Gr\xC3\xBC\xC3\x9F" "e";
  saved.description = "desc";
  saved.metaTags = "<meta a />\r\n<meta b />";
  saved.outputFolder = "/tmp/Tollwick/x";
  SaveSettings(saved);

  SitemapFields loaded;
  LoadSettings(loaded);
  EXPECT_EQ(loaded.siteUrl, saved.siteUrl);
  EXPECT_FALSE(loaded.urlList);
  EXPECT_TRUE(loaded.htmlSitemap);
  EXPECT_EQ(loaded.endOfBody, saved.endOfBody);
  EXPECT_EQ(loaded.title, saved.title);
  EXPECT_EQ(loaded.description, saved.description);
  EXPECT_EQ(loaded.metaTags, saved.metaTags);
  // "Last Folder" is not read by LoadSettings.
  EXPECT_TRUE(loaded.outputFolder.empty());
}

TEST_F(SettingsProfileTest, EveryOptionComesBackAndANegativeUrlLimitReadsAsNone) {
  SitemapFields saved;
  EngineOptions& options = saved.engine;
  saved.xmlGzip = true;
  saved.outputDir = "/out";
  options.avoid = {"*a*"};
  options.mustMatch = {"*m*", "*n*"};
  options.outboundAvoid = {"*o*"};
  options.maxUrls = 7;
  options.dropQueryStrings = options.dropHttps = options.respectNofollow = true;
  options.userAgent = "UA";
  options.robotsAgent = "RA";
  SaveOptions(saved);

  SitemapFields loaded;
  LoadSettings(loaded);
  const EngineOptions& back = loaded.engine;
  EXPECT_TRUE(loaded.xmlGzip);
  EXPECT_EQ(loaded.outputDir, "/out");
  EXPECT_EQ(back.avoid, options.avoid);
  EXPECT_EQ(back.mustMatch, options.mustMatch);
  EXPECT_EQ(back.outboundAvoid, options.outboundAvoid);
  EXPECT_EQ(back.maxUrls, 7);
  EXPECT_TRUE(back.dropQueryStrings && back.dropHttps && back.respectNofollow);
  EXPECT_EQ(back.userAgent, "UA");
  EXPECT_EQ(back.robotsAgent, "RA");

  QSettings("Brindlewood", "Tollwick").setValue("Settings/Max URLs", -3);
  LoadSettings(loaded);
  EXPECT_EQ(loaded.engine.maxUrls, 0);
}

TEST_F(SettingsProfileTest, FlagsAreStoredAsZeroOrOneUnderTheSettingsSection) {
  SitemapFields fields;
  fields.urlList = true;
  fields.htmlSitemap = false;
  SaveSettings(fields);
  EXPECT_EQ(Raw("Generate URLList").toInt(), 1);
  EXPECT_EQ(Raw("Generate HTML Sitemap").toInt(), 0);
  EXPECT_EQ(Raw("Meta tags").toString().toStdString(), kDefaultMetaTags);
}

TEST_F(SettingsProfileTest, UnreadableIntegerKeepsTheField) {
  {
    QSettings settings("Brindlewood", "Tollwick");
    settings.setValue("Settings/Generate URLList", "yes please");
  }
  SitemapFields fields;
  fields.urlList = false;
  LoadSettings(fields);
  EXPECT_FALSE(fields.urlList);
}

TEST_F(SettingsProfileTest, LastResultsBeforeAnyGenerateIsNotAvailable) {
  SitemapFields fields;
  MessageHooks hooks;
  EXPECT_FALSE(ShowLastResults(fields, hooks));
  EXPECT_EQ(hooks.messages, std::vector<std::string>{"Last Results not available."});
  EXPECT_TRUE(hooks.opened.empty());
}

TEST_F(SettingsProfileTest, LastResultsOpensTheSavedFolder) {
  SitemapFields saved;
  saved.outputFolder = "/tmp/Tollwick/010124 000000";
  SaveSettings(saved);
  SitemapFields fields;
  MessageHooks hooks;
  EXPECT_TRUE(ShowLastResults(fields, hooks));
  EXPECT_EQ(fields.outputFolder, saved.outputFolder);
  EXPECT_EQ(hooks.opened, std::vector<std::string>{saved.outputFolder});
}

TEST_F(SettingsProfileTest, WelcomeMessageIsShownOnce) {
  MessageHooks hooks;
  ShowFirstTimeMessage(hooks);
  ShowFirstTimeMessage(hooks);
  ASSERT_EQ(hooks.messages.size(), 1u);
  EXPECT_EQ(hooks.messages[0].rfind("Welcome to Tollwick.\n\nThis is a One Time Message.", 0), 0u);
  EXPECT_EQ(Raw("First Time").toInt(), 0);
}

}  // namespace
}  // namespace tollwick
