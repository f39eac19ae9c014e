// The main dialog driven on Qt's offscreen platform: its controls and defaults, the profile across
// starts, the welcome message, Last Results, the menu's commands, and Generate runs against a
// loopback site (caption, files, Stop and Close mid-crawl, a failed save, a trickled page).
// Message boxes and desktop calls go to a recorder, so nothing waits for a user.
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <ctime>
#include <functional>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/options_dialog.h"
#include "app/output_folder.h"
#include "app/settings_profile.h"
#include "base/platform.h"
#include "tests/app/fake_page_source.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/test_support.h"

namespace tollwick {
namespace {

using quillon::testing::HttpFixtureServer;
using quillon::testing::ReadFileBytes;
using testing::FakeFactory;
using testing::FakeScript;
using testing::Page;

// One QApplication for the whole program.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[20] = "main_dialog_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class RecordingServices : public DialogServices {
 public:
  void ShowInformation(QWidget* /*parent*/, const QString& text) override {
    infos.push_back(text.toStdString());
  }
  void ShowWarning(QWidget* /*parent*/, const QString& text) override {
    warnings.push_back(text.toStdString());
    cursorAtWarning = QApplication::overrideCursor() != nullptr;
  }
  void RunModal(QDialog& dialog) override {
    if (onModal) onModal(dialog);
    modalCaptions.push_back(dialog.windowTitle().toStdString());
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) modalTexts.push_back(label->text().toStdString());
    }
    modalButtons = dialog.findChildren<QPushButton*>().size();
  }
  bool OpenUrl(const QUrl& url) override {
    opened.push_back(url.toString().toStdString());
    return opens;
  }

  // Plays the user's part in a modal box (fill in, accept or reject).
  std::function<void(QDialog&)> onModal;
  std::vector<std::string> infos, warnings, modalCaptions, modalTexts, opened;
  qsizetype modalButtons = 0;
  bool cursorAtWarning = false;
  bool opens = true;  // a file manager takes the folders
};

QVariant ProfileValue(const char* key) {
  return QSettings("Brindlewood", "Tollwick").value(QString("Settings/") + key);
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Qt keeps the profile's location for the whole process, so each test empties it instead.
    QSettings profile("Brindlewood", "Tollwick");
    profile.clear();
    profile.setValue("Settings/First Time", 0);
  }

  // A started dialog, as the program shows it: shown, its first events handled.
  std::unique_ptr<MainDialog> Start() {
    auto dialog = std::make_unique<MainDialog>(services);
    dialog->show();
    QCoreApplication::processEvents();
    return dialog;
  }

  template <typename T>
  static T* Control(MainDialog& dialog, const char* id) {
    T* control = dialog.findChild<T*>(id);
    EXPECT_NE(control, nullptr) << "no control " << id;
    return control;
  }

  static void UseFakeSite(MainDialog& dialog, FakeScript& script) {
    RunOptions options;
    options.delayMs = 0;
    options.makeSource = FakeFactory(script);
    dialog.setRunOptions(options);
  }

  static std::vector<std::string> MenuTexts(QMenu* menu) {
    std::vector<std::string> texts;
    for (QAction* action : menu->actions()) texts.push_back(action->text().toStdString());
    return texts;
  }

  static QMenu* Menu(MainDialog& dialog, const char* title) {
    for (QAction* action : dialog.findChild<QMenuBar*>()->actions()) {
      if (action->text() == title) return action->menu();
    }
    ADD_FAILURE() << "no menu " << title;
    return nullptr;
  }

  static QAction* MenuItem(MainDialog& dialog, const char* menu, const char* item) {
    for (QAction* action : Menu(dialog, menu)->actions()) {
      if (action->text() == item) return action;
    }
    ADD_FAILURE() << "no item " << item;
    return nullptr;
  }

  RecordingServices services;
};

// ---- Controls and defaults

TEST_F(MainDialogTest, FirstStartShowsTheDefaults) {
  auto dialog = Start();
  EXPECT_EQ(dialog->windowTitle(), "Tollwick");
  EXPECT_EQ(Control<QLineEdit>(*dialog, kIdSiteUrl)->text(), "");
  EXPECT_TRUE(Control<QCheckBox>(*dialog, kIdUrlList)->isChecked());
  EXPECT_TRUE(Control<QCheckBox>(*dialog, kIdHtmlSitemap)->isChecked());
  EXPECT_EQ(Control<QPlainTextEdit>(*dialog, kIdEndOfBody)->toPlainText(), "");
  EXPECT_EQ(Control<QLineEdit>(*dialog, kIdTitle)->text(), "Sitemap");
  EXPECT_EQ(Control<QPlainTextEdit>(*dialog, kIdDescription)->toPlainText(), "");
  EXPECT_EQ(Control<QPlainTextEdit>(*dialog, kIdMetaTags)->toPlainText().toStdString(),
            "<meta http-equiv=\"Content-Language\" content=\"en\" />\n"
            "<meta name=\"Robots\" content=\"All\" />\n"
            "<meta name=\"Rating\" content=\"General\" />\n"
            "<meta name=\"Distribution\" content=\"Global\" />\n");
  EXPECT_EQ(dialog->fields().metaTags, kDefaultMetaTags);
  EXPECT_TRUE(dialog->fields().outputFolder.empty());
}

TEST_F(MainDialogTest, EveryControlCarriesItsTextAndId) {
  auto dialog = Start();
  EXPECT_EQ(Control<QCheckBox>(*dialog, kIdUrlList)->text(), "&URL List");
  EXPECT_EQ(Control<QCheckBox>(*dialog, kIdHtmlSitemap)->text(), "&HTML Sitemap");
  EXPECT_EQ(Control<QCheckBox>(*dialog, kIdXmlSitemap)->text(), "&XML Sitemap");
  EXPECT_TRUE(Control<QCheckBox>(*dialog, kIdXmlSitemap)->isChecked());
  EXPECT_EQ(Control<QPushButton>(*dialog, kIdOptions)->text(), "&Options...");
  EXPECT_EQ(Control<QPushButton>(*dialog, kIdGenerate)->text(), "&Generate Sitemap");
  EXPECT_EQ(Control<QPushButton>(*dialog, kIdLastResults)->text(), "&Last Results");
  EXPECT_EQ(Control<QPushButton>(*dialog, kIdClose)->text(), "Close");
  QPushButton* spider = Control<QPushButton>(*dialog, kIdSpider);
  EXPECT_EQ(spider->text(), "Spider");
  EXPECT_TRUE(spider->isHidden());
  EXPECT_TRUE(Control<QPushButton>(*dialog, kIdStop)->isHidden());

  std::vector<std::string> labels;
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (label->objectName() == kIdStatus) continue;  // a status line, not a control's label
    labels.push_back(label->text().toStdString());
    EXPECT_NE(label->buddy(), nullptr) << label->text().toStdString();
  }
  for (const char* expected : {"&Enter URL here (e.g. http://www.brindlewood.example/)",
                               "&Title :", "&Description :", "&Meta Tags",
                               "&HTML before end of body (e.g. google analytics code)"}) {
    EXPECT_NE(std::find(labels.begin(), labels.end(), expected), labels.end()) << expected;
  }
  auto* group = dialog->findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), "For HTML Sitemap only");
  EXPECT_EQ(group->findChild<QLineEdit*>(kIdTitle), Control<QLineEdit>(*dialog, kIdTitle));
  EXPECT_NE(group->findChild<QPlainTextEdit*>(kIdEndOfBody), nullptr);
}

TEST_F(MainDialogTest, MenuHoldsItsItemsWithSeparatorsBetweenTheHelpItems) {
  auto dialog = Start();
  std::vector<std::string> bar;
  for (QAction* action : dialog->findChild<QMenuBar*>()->actions()) {
    bar.push_back(action->text().toStdString());
  }
  EXPECT_EQ(bar, (std::vector<std::string>{"&File", "&View", "&Help"}));
  EXPECT_EQ(MenuTexts(Menu(*dialog, "&File")), std::vector<std::string>{"&Close"});
  EXPECT_EQ(MenuTexts(Menu(*dialog, "&View")), std::vector<std::string>{"&Last Results"});
  EXPECT_EQ(MenuTexts(Menu(*dialog, "&Help")),
            (std::vector<std::string>{"Submit Anonymous / Identity Feedback", "", "&Contact Us", "",
                                      "&Visit Product Website", "", "&About Tollwick..."}));
  EXPECT_EQ(MenuItem(*dialog, "&Help", "&About Tollwick...")->objectName(), kIdAbout);
}

// ---- Welcome, About and links

TEST_F(MainDialogTest, WelcomeMessageIsShownOnTheFirstStartOnly) {
  QSettings("Brindlewood", "Tollwick").clear();
  auto first = Start();
  ASSERT_EQ(services.infos.size(), 1u);
  EXPECT_EQ(services.infos[0].rfind("Welcome to Tollwick.\n\nThis is a One Time Message.", 0), 0u);
  EXPECT_EQ(ProfileValue("First Time").toInt(), 0);
  first.reset();

  auto second = Start();
  EXPECT_EQ(services.infos.size(), 1u);
}

TEST_F(MainDialogTest, AboutBoxShowsTheVersionUnderItsCaption) {
  auto dialog = Start();
  MenuItem(*dialog, "&Help", "&About Tollwick...")->trigger();
  EXPECT_EQ(services.modalCaptions, std::vector<std::string>{"About Tollwick"});
  EXPECT_EQ(services.modalTexts, std::vector<std::string>{"Tollwick Version 1.0"});
  EXPECT_EQ(services.modalButtons, 1);
}

TEST_F(MainDialogTest, HelpLinksOpenTheirTargets) {
  auto dialog = Start();
  MenuItem(*dialog, "&Help", "Submit Anonymous / Identity Feedback")->trigger();
  MenuItem(*dialog, "&Help", "&Contact Us")->trigger();
  MenuItem(*dialog, "&Help", "&Visit Product Website")->trigger();
  EXPECT_EQ(services.opened,
            (std::vector<std::string>{kFeedbackPage, kContactAddress, kProductWebsite}));
  EXPECT_EQ(services.opened[1].rfind("mailto:", 0), 0u);
}

// ---- Profile and Last Results

TEST_F(MainDialogTest, GenerateStoresTheFieldsAndTheNextStartShowsThem) {
  FakeScript script;
  script.steps = {Page("http://example.com/", "Home")};
  {
    auto dialog = Start();
    UseFakeSite(*dialog, script);
    Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("example.com");
    QLineEdit* title = Control<QLineEdit>(*dialog, kIdTitle);
    title->clear();
    QTest::keyClicks(title, "Typed Title");
    Control<QPlainTextEdit>(*dialog, kIdDescription)->setPlainText("one\ntwo");
    QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
    // The corrected address is shown back.
    EXPECT_EQ(Control<QLineEdit>(*dialog, kIdSiteUrl)->text(), "http://example.com/");
  }
  EXPECT_EQ(ProfileValue("Title").toString(), "Typed Title");
  EXPECT_EQ(ProfileValue("Meta tags").toString().toStdString(),
            "<meta http-equiv=\"Content-Language\" content=\"en\" />\r\n"
            "<meta name=\"Robots\" content=\"All\" />\r\n"
            "<meta name=\"Rating\" content=\"General\" />\r\n"
            "<meta name=\"Distribution\" content=\"Global\" />");
  EXPECT_FALSE(ProfileValue("Last Folder").toString().isEmpty());

  auto next = Start();
  EXPECT_EQ(Control<QLineEdit>(*next, kIdTitle)->text(), "Typed Title");
  EXPECT_EQ(Control<QLineEdit>(*next, kIdSiteUrl)->text(), "http://example.com/");
  // The description lost its line break in the run, and so in the profile.
  EXPECT_EQ(Control<QPlainTextEdit>(*next, kIdDescription)->toPlainText(), "onetwo");
}

TEST_F(MainDialogTest, OptionsAreStoredWhenAcceptedAndReachTheCrawl) {
  FakeScript script;
  script.steps = {Page("http://example.com/", "Home")};
  const std::string outputDir = quillon::testing::ScratchDir() + "dialog-out";
  services.onModal = [&outputDir](QDialog& box) {
    box.findChild<QPlainTextEdit*>(kIdAvoid)->setPlainText("*.php*\n\n  *print*  ");
    box.findChild<QSpinBox*>(kIdMaxUrls)->setValue(40);
    box.findChild<QSpinBox*>(kIdPause)->setValue(1500);
    box.findChild<QCheckBox*>(kIdRespectNofollow)->setChecked(true);
    box.findChild<QLineEdit*>(kIdUserAgent)->setText("My\nBot");
    box.findChild<QLineEdit*>(kIdRobotsAgent)->setText("mybot");
    box.findChild<QCheckBox*>(kIdXmlGzip)->setChecked(true);
    box.findChild<QLineEdit*>(kIdOutputDir)->setText(QString::fromStdString(outputDir));
    box.accept();
  };
  {
    auto dialog = Start();
    QTest::mouseClick(Control<QPushButton>(*dialog, kIdOptions), Qt::LeftButton);
    EXPECT_EQ(services.modalCaptions, std::vector<std::string>{"Options"});
  }
  // Stored at once, without a Generate.
  EXPECT_EQ(ProfileValue("Avoid").toString(), "*.php*\n*print*");
  EXPECT_EQ(ProfileValue("Max URLs").toInt(), 40);
  EXPECT_EQ(ProfileValue("Pause Between Pages").toInt(), 1500);
  EXPECT_EQ(ProfileValue("User Agent").toString(), "My Bot");

  // A box closed with Cancel changes nothing; the stored options reach the run.
  services.onModal = [](QDialog& box) {
    EXPECT_EQ(box.findChild<QLineEdit*>(kIdRobotsAgent)->text(), "mybot");
    box.findChild<QCheckBox*>(kIdXmlGzip)->setChecked(false);
    box.reject();
  };
  auto dialog = Start();
  UseFakeSite(*dialog, script);
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdOptions), Qt::LeftButton);
  Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("example.com");
  Control<QCheckBox>(*dialog, kIdXmlSitemap)->setChecked(false);
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  const EngineOptions& engine = script.settings.engine;
  EXPECT_EQ(engine.avoid, (std::vector<std::string>{"*.php*", "*print*"}));
  EXPECT_EQ(engine.maxUrls, 40);
  EXPECT_TRUE(engine.respectNofollow);
  EXPECT_FALSE(engine.dropHttps);
  EXPECT_EQ(engine.robotsAgent, "mybot");
  EXPECT_FALSE(script.settings.followCanonical);
  EXPECT_EQ(dialog->fields().outputFolder.rfind(outputDir + "/", 0), 0u);
  EXPECT_TRUE(dialog->fields().xmlGzip);
  EXPECT_EQ(ProfileValue("Generate XML Sitemap").toInt(), 0);
}

TEST_F(MainDialogTest, ClosingWithoutGenerateLosesTheChanges) {
  {
    auto dialog = Start();
    Control<QLineEdit>(*dialog, kIdTitle)->setText("Changed");
    Control<QCheckBox>(*dialog, kIdUrlList)->setChecked(false);
    QTest::mouseClick(Control<QPushButton>(*dialog, kIdClose), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
  }
  EXPECT_FALSE(ProfileValue("Title").isValid());
  auto next = Start();
  EXPECT_EQ(Control<QLineEdit>(*next, kIdTitle)->text(), "Sitemap");
  EXPECT_TRUE(Control<QCheckBox>(*next, kIdUrlList)->isChecked());
}

TEST_F(MainDialogTest, LastResultsBeforeAnyGenerateIsNotAvailable) {
  auto dialog = Start();
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdLastResults), Qt::LeftButton);
  MenuItem(*dialog, "&View", "&Last Results")->trigger();
  EXPECT_EQ(services.infos, (std::vector<std::string>{"Last Results not available.",
                                                      "Last Results not available."}));
  EXPECT_TRUE(services.opened.empty());
}

TEST_F(MainDialogTest, LastResultsOpensTheFolderOfTheLastGenerate) {
  QSettings("Brindlewood", "Tollwick").setValue("Settings/Last Folder", "/tmp/Tollwick/x y");
  auto dialog = Start();
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdLastResults), Qt::LeftButton);
  EXPECT_EQ(services.opened, std::vector<std::string>{"file:///tmp/Tollwick/x y"});
  EXPECT_TRUE(services.infos.empty());
  // Where nothing opens folders, the user is told where the files are.
  services.opens = false;
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdLastResults), Qt::LeftButton);
  EXPECT_EQ(services.infos, std::vector<std::string>{"The results are in /tmp/Tollwick/x y "
                                                     "(nothing here could open it)."});
  EXPECT_NE(Control<QLabel>(*dialog, kIdStatus)->text().toStdString().find(
                "Files: /tmp/Tollwick/x y"),
            std::string::npos);
}

TEST_F(MainDialogTest, NeitherOutputChosenAsksForOneAndFocusesUrlList) {
  FakeScript script;
  script.steps = {Page("http://example.com/", "Home")};
  auto dialog = Start();
  UseFakeSite(*dialog, script);
  Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("http://example.com/");
  Control<QCheckBox>(*dialog, kIdUrlList)->setChecked(false);
  Control<QCheckBox>(*dialog, kIdHtmlSitemap)->setChecked(false);
  Control<QCheckBox>(*dialog, kIdXmlSitemap)->setChecked(false);
  Control<QPushButton>(*dialog, kIdGenerate)->setFocus();
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  EXPECT_EQ(services.infos,
            std::vector<std::string>{"Please Select the type of Sitemap to Generate to continue."});
  EXPECT_EQ(dialog->focusWidget(), Control<QCheckBox>(*dialog, kIdUrlList));
  EXPECT_EQ(script.crawlCalls, 0);
  EXPECT_TRUE(services.opened.empty());
  EXPECT_FALSE(ProfileValue("URL").isValid());
}

TEST_F(MainDialogTest, EmptyAddressAsksForOneAndCrawlsNothing) {
  FakeScript script;
  auto dialog = Start();
  UseFakeSite(*dialog, script);
  Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("  ");
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  EXPECT_EQ(services.infos, std::vector<std::string>{kNoAddressMessage});
  EXPECT_EQ(script.crawlCalls, 0);
  EXPECT_TRUE(services.opened.empty());
}

TEST_F(MainDialogTest, StatusLineShowsTheSummaryAfterTheCrawl) {
  FakeScript script;
  script.steps = {Page("http://example.com/", "Home", 1),
                  testing::Failure({{"http://example.com/b", "HTTP 404 Not Found", false}})};
  auto dialog = Start();
  UseFakeSite(*dialog, script);
  Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("http://example.com/");
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  EXPECT_EQ(Control<QLabel>(*dialog, kIdStatus)->text().toStdString(),
            "1 page listed, 1 failed, 0 too large, 0 excluded by robots.txt, 0 off the site.\n"
            "Files: " + dialog->fields().outputFolder);
}

TEST_F(MainDialogTest, FailedSaveShowsAMessageNamingThePath) {
  FakeScript script;
  script.steps = {Page("http://example.com/", "Home")};
  auto dialog = Start();
  // Once the run has made its folder, sitemap.htm there is taken by a folder.
  RunOptions options;
  options.delayMs = 0;
  options.makeSource = [&script, &dialog](FrontEndHooks& hooks, const SourceSettings& settings) {
    std::filesystem::create_directories(dialog->fields().outputFolder + "/sitemap.htm");
    return FakeFactory(script)(hooks, settings);
  };
  dialog->setRunOptions(options);
  Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("http://example.com/");
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  std::string path = dialog->fields().outputFolder + "/sitemap.htm";
  ASSERT_EQ(services.warnings.size(), 1u);
  EXPECT_NE(services.warnings[0].find(path), std::string::npos) << services.warnings[0];
  EXPECT_FALSE(services.cursorAtWarning);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // The folder is still opened and the rest still written.
  EXPECT_EQ(services.opened.size(), 1u);
  EXPECT_EQ(ReadFileBytes(dialog->fields().outputFolder + "/urllist.txt"), "http://example.com/");
  EXPECT_TRUE(Control<QPushButton>(*dialog, kIdGenerate)->isEnabled());
}

TEST_F(MainDialogTest, HiddenSpiderButtonWritesTheDiagnosticListAndOpensIt) {
  FakeScript script;
  script.steps = {Page("http://example.com/", "Home", 1), Page("http://example.com/b", "B")};
  auto dialog = Start();
  DiagnosticOptions options;
  options.delayMs = 0;
  options.makeSource = FakeFactory(script);
  dialog->setDiagnosticOptions(options);
  Control<QLineEdit>(*dialog, kIdSiteUrl)->setText("example.com");
  Control<QPushButton>(*dialog, kIdSpider)->click();
  std::string path = quillon::TempDirectory() + "Tollwick/sitemap.txt";
  EXPECT_EQ(ReadFileBytes(path), "http://example.com/\t\r\nhttp://example.com/b\t\r\n");
  EXPECT_EQ(services.opened, std::vector<std::string>{"file://" + path});
  EXPECT_EQ(script.domain, "example.com");
  // The diagnostic crawl saves no settings.
  EXPECT_FALSE(ProfileValue("URL").isValid());
}

// ---- Crawls of a loopback site

std::string HtmlPage(const std::string& title, const std::string& links) {
  return "<html><head><title>" + title + "</title></head><body>" + links + "</body></html>";
}

std::string HtmlAnswer(const std::string& body) {
  return HttpFixtureServer::Response(200, "OK", body, "Content-Type: text/html\r\n");
}

// What the window looked like while the crawl ran, seen from inside it.
struct CrawlView {
  std::vector<std::string> captions;
  bool cursorWhileCrawling = false;
  bool generateEnabled = true;
  bool lastResultsEnabled = true;
  bool menuEnabled = true;
  bool stopVisible = false;
};

class DialogCrawlTest : public MainDialogTest {
 protected:
  void SetUp() override {
    MainDialogTest::SetUp();
    dialog = Start();
    RunOptions options;
    options.delayMs = 0;
    dialog->setRunOptions(options);
    Control<QLineEdit>(*dialog, kIdSiteUrl)->setText(QString::fromStdString(server.Url("/")));
    QObject::connect(dialog.get(), &QWidget::windowTitleChanged, [this](const QString& title) {
      view.captions.push_back(title.toStdString());
      if (!dialog->isCrawling()) return;
      view.cursorWhileCrawling = QApplication::overrideCursor() != nullptr &&
                                 QApplication::overrideCursor()->shape() == Qt::WaitCursor;
      view.generateEnabled = Control<QPushButton>(*dialog, kIdGenerate)->isEnabled();
      view.lastResultsEnabled = Control<QPushButton>(*dialog, kIdLastResults)->isEnabled();
      view.menuEnabled = dialog->findChild<QMenuBar*>()->isEnabled();
      view.stopVisible = Control<QPushButton>(*dialog, kIdStop)->isVisible();
    });
  }

  std::string Output(const char* name) {
    return ReadFileBytes(dialog->fields().outputFolder + "/" + name);
  }

  // A handler that answers with a head and then trickles a body until the client goes away;
  // started is set when it begins. The page is cut off after kEndlessPageMs, so a crawl that
  // was not stopped still ends within seconds, with pageRanOut set for the test to fail on.
  static constexpr uint32_t kEndlessPageMs = 10000;
  HttpFixtureServer::Handler EndlessPage(std::atomic<bool>& started) {
    return [this, &started](int fd, const HttpFixtureServer::Request&) {
      started = true;
      constexpr size_t kPieceBytes = 10;
      constexpr uint32_t kPauseMs = 50;
      // The announced length is never reached and stays under the spider's page limit, so
      // only a Stop (or the cut-off) ends the page.
      std::string head =
          "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 200000\r\n\r\n";
      std::string body(kEndlessPageMs / kPauseMs * kPieceBytes, ' ');
      if (HttpFixtureServer::SendAll(fd, head) &&
          server.Trickle(fd, body, kPieceBytes, kPauseMs)) {
        pageRanOut = true;
      }
      return HttpFixtureServer::After::kClose;
    };
  }

  // Calls action once, from the window's own event handling, as soon as flag is set.
  void WhenSet(std::atomic<bool>& flag, std::function<void()> action) {
    auto* timer = new QTimer(dialog.get());
    QObject::connect(timer, &QTimer::timeout, [timer, &flag, action] {
      if (!flag) return;
      timer->stop();
      action();
    });
    timer->start(10);
  }

  HttpFixtureServer server;
  std::unique_ptr<MainDialog> dialog;
  CrawlView view;
  std::atomic<bool> pageRanOut{false};
};

TEST_F(DialogCrawlTest, GenerateWritesBothFilesAndShowsEachPageTitle) {
  server.AddResponse("/", HtmlAnswer(HtmlPage("Home", "<a href=\"/a.htm\">a</a>")));
  server.AddResponse("/a.htm", HtmlAnswer(HtmlPage("Page A", "<a href=\"/\">home</a>")));
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);

  EXPECT_EQ(view.captions, (std::vector<std::string>{"Home", "Page A", "Tollwick"}));
  EXPECT_EQ(dialog->windowTitle(), "Tollwick");
  EXPECT_TRUE(view.cursorWhileCrawling);
  EXPECT_FALSE(view.generateEnabled);
  EXPECT_FALSE(view.lastResultsEnabled);
  EXPECT_FALSE(view.menuEnabled);
  EXPECT_TRUE(view.stopVisible);

  EXPECT_EQ(Output("urllist.txt"), server.Url("/") + "\r\n" + server.Url("/a.htm"));
  std::string sitemap = Output("sitemap.htm");
  EXPECT_NE(sitemap.find("<title>Sitemap</title>"), std::string::npos);
  EXPECT_NE(sitemap.find("<li><a title=\"Home\" href=\"" + server.Url("/") + "\">Home</a> : </li>"),
            std::string::npos);
  EXPECT_NE(sitemap.find(">Page A</a>"), std::string::npos);
  EXPECT_EQ(services.opened,
            std::vector<std::string>{
                QUrl::fromLocalFile(QString::fromStdString(dialog->fields().outputFolder))
                    .toString()
                    .toStdString()});
  EXPECT_EQ(ProfileValue("Last Folder").toString().toStdString(), dialog->fields().outputFolder);

  // The window is unlocked again.
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(dialog->isCrawling());
  EXPECT_TRUE(Control<QPushButton>(*dialog, kIdGenerate)->isEnabled());
  EXPECT_TRUE(dialog->findChild<QMenuBar*>()->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(*dialog, kIdStop)->isHidden());
  EXPECT_TRUE(services.warnings.empty());
}

TEST_F(DialogCrawlTest, StopMidCrawlWritesWhatWasGathered) {
  std::atomic<bool> slowStarted{false};
  server.AddResponse("/", HtmlAnswer(HtmlPage(
                              "Home", "<a href=\"/slow.htm\">s</a> <a href=\"/later.htm\">l</a>")));
  server.AddHandler("/slow.htm", EndlessPage(slowStarted));
  server.AddResponse("/later.htm", HtmlAnswer(HtmlPage("Later", "")));
  WhenSet(slowStarted,
          [this] { QTest::mouseClick(Control<QPushButton>(*dialog, kIdStop), Qt::LeftButton); });
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);

  EXPECT_TRUE(slowStarted);
  EXPECT_FALSE(pageRanOut) << "Stop did not end the crawl";
  EXPECT_FALSE(dialog->isCrawling());
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(Output("urllist.txt"), server.Url("/"));
  std::string sitemap = Output("sitemap.htm");
  EXPECT_NE(sitemap.find(">Home</a>"), std::string::npos);
  EXPECT_EQ(sitemap.find("Later"), std::string::npos);
  EXPECT_EQ(sitemap.substr(sitemap.size() - 7), "</html>");
  for (const auto& request : server.Requests()) EXPECT_NE(request.path, "/later.htm");
  EXPECT_EQ(dialog->windowTitle(), "Tollwick");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // A new run starts unstopped.
  server.ClearResponses("/slow.htm");
  server.AddResponse("/slow.htm", HtmlAnswer(HtmlPage("Slow", "")));
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  EXPECT_EQ(Output("urllist.txt"),
            server.Url("/") + "\r\n" + server.Url("/slow.htm") + "\r\n" + server.Url("/later.htm"));
}

TEST_F(DialogCrawlTest, CloseMidCrawlStopsWritesTheFilesAndThenCloses) {
  std::atomic<bool> slowStarted{false};
  server.AddResponse("/", HtmlAnswer(HtmlPage("Home", "<a href=\"/slow.htm\">s</a>")));
  server.AddHandler("/slow.htm", EndlessPage(slowStarted));
  WhenSet(slowStarted, [this] { dialog->close(); });
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);

  EXPECT_TRUE(slowStarted);
  EXPECT_FALSE(pageRanOut) << "the close did not stop the crawl";
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Output("urllist.txt"), server.Url("/"));
  EXPECT_NE(Output("sitemap.htm").find(">Home</a>"), std::string::npos);
  // The settings of a Generate are saved even when it was stopped.
  EXPECT_TRUE(ProfileValue("Last Folder").isValid());
}

TEST_F(DialogCrawlTest, WindowKeepsAnsweringWhileAPageTrickles) {
  constexpr int kPieces = 5;
  constexpr uint32_t kPauseMs = 500;
  std::atomic<bool> trickling{false};
  std::string body = HtmlPage("Trickled", std::string(kPieces * 16, ' '));
  server.AddHandler("/", [&](int fd, const HttpFixtureServer::Request&) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n";
    trickling = true;
    if (HttpFixtureServer::SendAll(fd, head)) {
      server.Trickle(fd, body, (body.size() + kPieces - 1) / kPieces, kPauseMs);
    }
    trickling = false;
    return HttpFixtureServer::After::kClose;
  });
  // A timer that must keep firing while the page downloads.
  int ticksWhileTrickling = 0;
  qint64 longestGapMs = 0;
  QElapsedTimer sinceLastTick;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!trickling) {
      sinceLastTick.invalidate();
      return;
    }
    if (sinceLastTick.isValid()) longestGapMs = std::max(longestGapMs, sinceLastTick.elapsed());
    sinceLastTick.start();
    ++ticksWhileTrickling;
  });
  timer.start(10);
  QTest::mouseClick(Control<QPushButton>(*dialog, kIdGenerate), Qt::LeftButton);
  timer.stop();

  std::cout << "timer ticks while the page trickled: " << ticksWhileTrickling
            << ", longest gap between them: " << longestGapMs << " ms (heartbeat "
            << kDialogHeartbeatMs << " ms)\n";
  RecordProperty("longestGapMs", static_cast<int>(longestGapMs));
  // About 2 s of trickle. Without the heartbeat the window is served only when a piece arrives
  // (about once per piece); with it about every heartbeat.
  EXPECT_GE(ticksWhileTrickling, 2 * kPieces);
  EXPECT_EQ(Output("urllist.txt"), server.Url("/"));
  EXPECT_EQ(view.captions.front(), "Trickled");
}

}  // namespace
}  // namespace tollwick
