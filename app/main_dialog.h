// Tollwick's main window: the site address, the choice of outputs, the four texts of the HTML
// sitemap, the Generate, Last Results and Open Report commands, the menu with its links and the
// About box.
// Control ids are the widgets' object names. The fields come from the profile when the window
// opens and go back to it only after a Generate; the crawl itself is the Generate run's.
#pragma once

#include <QDialog>
#include <QIcon>

#include "app/dialog_hooks.h"
#include "app/generate_run.h"
#include "app/sitemap_fields.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;

namespace tollwick {

// Control ids (the object names of the widgets).
inline constexpr char kIdSiteUrl[] = "1001";
inline constexpr char kIdGenerate[] = "1002";
inline constexpr char kIdUrlList[] = "1004";
inline constexpr char kIdHtmlSitemap[] = "1005";
inline constexpr char kIdXmlSitemap[] = "xml";
inline constexpr char kIdLastResults[] = "1006";
inline constexpr char kIdOpenReport[] = "openReport";
inline constexpr char kIdEndOfBody[] = "1007";
inline constexpr char kIdTitle[] = "1008";
inline constexpr char kIdDescription[] = "1009";
inline constexpr char kIdMetaTags[] = "1010";
inline constexpr char kIdSpider[] = "1000";
inline constexpr char kIdClose[] = "1";  // the dialog's OK button
// The About command's number (a Help menu item here).
inline constexpr char kIdAbout[] = "16";
// The Stop button shown while a crawl runs.
inline constexpr char kIdStop[] = "stop";
// The status line under the buttons: pages done and waiting during a crawl, the summary after.
inline constexpr char kIdStatus[] = "status";

// The link targets and the example address of the URL label; they all lead to the maker.
inline constexpr char kExampleSiteUrl[] = "http://www.brindlewood.example/";
inline constexpr char kFeedbackPage[] = "http://www.brindlewood.example/tollwick/feedback/";
inline constexpr char kContactAddress[] = "mailto:support@brindlewood.example";
inline constexpr char kProductWebsite[] = "http://www.brindlewood.example/tollwick/";

inline constexpr char kAboutText[] = "Tollwick Version 1.0";
inline constexpr char kAboutCaption[] = "About Tollwick";

// The application's main icon, drawn rather than loaded so the program needs no resource files.
QIcon TollwickIcon();

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // Reads the profile into the fields and shows them; the welcome message follows once the
  // window is shown. services must outlive the dialog.
  explicit MainDialog(DialogServices& services, QWidget* parent = nullptr);
  ~MainDialog() override;

  // The Generate run's options: the pause between pages and the page source (empty: the
  // spider with the dialog's heartbeat). Without a call the pause is the Options box's.
  void setRunOptions(const RunOptions& options);
  void setDiagnosticOptions(const DiagnosticOptions& options);
  // The fields as the last command left them.
  const SitemapFields& fields() const { return fields_; }
  // True while a Generate or a diagnostic crawl runs.
  bool isCrawling() const { return crawling_; }

 public slots:
  // "&Generate Sitemap": the controls into the fields, then the Generate run.
  void GenerateSitemap();
  // The hidden "Spider" button: the bounded diagnostic crawl.
  void DiagnosticCrawl();
  // "&Last Results": opens the last output folder or says it is not available.
  void ShowLastResults();
  // "Open &Report": opens the last run's report.html or says there is none.
  void OpenReport();
  // "&Options...": the engine's options, the XML compression and the output folder, stored in
  // the profile when the box is accepted.
  void ShowOptions();
  // The one-time welcome message.
  void ShowFirstTimeMessage();
  // Stop: ends the crawl after the current step; the files are written from what was gathered.
  void StopCrawl();
  void ShowAbout();
  void OpenFeedbackPage();
  void OpenContactAddress();
  void OpenProductWebsite();

 protected:
  // Close, Escape and the window's close box while a crawl runs stop it and close afterwards.
  void done(int result) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  // Dialog data exchange: the fields into the controls and back (multi-line texts keep CR LF).
  void ShowFields();
  void ReadControls();
  // Locks the window for a crawl (only Stop and Close answer) and unlocks it afterwards.
  void SetCrawling(bool crawling);
  // Runs one crawl command with the window locked; closes afterwards when Close came meanwhile.
  template <typename Command>
  void RunLocked(Command command);
  void OpenLink(const char* target);

  DialogServices& services_;
  SitemapFields fields_;
  // The run options with the Options box's pause, unless setRunOptions fixed it.
  RunOptions RunOptionsOfFields() const;
  RunOptions runOptions_;
  // The pause between pages comes from the Options box unless setRunOptions fixed it.
  bool pauseFromFields_ = true;
  DiagnosticOptions diagnosticOptions_;
  bool crawling_ = false;
  bool closeAfterCrawl_ = false;
  int closeResult_ = Accepted;
  bool welcomeHandled_ = false;

  QMenuBar* menuBar_ = nullptr;
  QLineEdit* siteUrl_ = nullptr;
  QCheckBox* urlList_ = nullptr;
  QCheckBox* htmlSitemap_ = nullptr;
  QCheckBox* xmlSitemap_ = nullptr;
  QLineEdit* title_ = nullptr;
  QPlainTextEdit* description_ = nullptr;
  QPlainTextEdit* metaTags_ = nullptr;
  QPlainTextEdit* endOfBody_ = nullptr;
  QPushButton* generate_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* lastResults_ = nullptr;
  QPushButton* openReport_ = nullptr;
  QPushButton* options_ = nullptr;
  QPushButton* spider_ = nullptr;
  QPushButton* close_ = nullptr;
  QLabel* status_ = nullptr;

  std::unique_ptr<DialogHooks> hooks_;
};

// Runs the application's dialog until it closes; the program's exit code.
int RunDialog(int argc, char** argv);

}  // namespace tollwick
