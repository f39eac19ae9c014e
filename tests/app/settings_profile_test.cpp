#include "app/settings_profile.h"

#include <gtest/gtest.h>

#include <QSettings>

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
};

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
