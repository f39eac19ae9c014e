#include "app/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/options_dialog.h"
#include "app/settings_profile.h"

namespace tollwick {
namespace {

bool IsEmpty(const char* text) { return text == nullptr || *text == '\0'; }

// A multi-line edit shows "\n"; the fields, like the edit controls they came from, hold CR LF.
QString ToControlText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

std::string FromControlText(const QString& text) {
  QString kept = text;
  kept.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  kept.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return kept.toStdString();
}

// A push button that Enter does not press: only Generate is the default button.
QPushButton* NewButton(const char* text, const char* id, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(id);
  button->setAutoDefault(false);
  return button;
}

QPlainTextEdit* NewMultiLineEdit(const char* id, int lines, QWidget* parent) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setObjectName(id);
  edit->setTabChangesFocus(true);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFontMetrics metrics(edit->font());
  edit->setFixedHeight(metrics.lineSpacing() * lines + 2 * edit->frameWidth() + 8);
  return edit;
}

QLabel* NewLabel(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x2b, 0x6c, 0xb0));
  painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
  // A small site tree: one page above three.
  painter.setBrush(Qt::white);
  painter.setPen(QPen(Qt::white, std::max<qreal>(1.0, s / 16)));
  painter.drawRect(QRectF(s * 0.36, s * 0.16, s * 0.28, s * 0.2));
  painter.drawLine(QPointF(s * 0.5, s * 0.36), QPointF(s * 0.5, s * 0.52));
  painter.drawLine(QPointF(s * 0.2, s * 0.52), QPointF(s * 0.8, s * 0.52));
  for (qreal x : {0.2, 0.5, 0.8}) {
    painter.drawLine(QPointF(s * x, s * 0.52), QPointF(s * x, s * 0.64));
    painter.drawRect(QRectF(s * (x - 0.1), s * 0.64, s * 0.2, s * 0.16));
  }
  return pixmap;
}

// The About box: the icon, the version text and OK.
class AboutBox : public QDialog {
 public:
  explicit AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kAboutCaption));
    auto* icon = new QLabel(this);
    icon->setPixmap(TollwickIcon().pixmap(32, 32));
    auto* text = new QLabel(QString::fromUtf8(kAboutText), this);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(ok);
    setFixedSize(sizeHint());
  }
};

}  // namespace

QIcon TollwickIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

MainDialog::MainDialog(DialogServices& services, QWidget* parent)
    : QDialog(parent), services_(services) {
  setWindowTitle(QString::fromUtf8(kApplicationName));
  setWindowIcon(TollwickIcon());
  BuildControls();
  BuildMenu();
  hooks_ =
      std::make_unique<DialogHooks>(DialogControls{this, siteUrl_, urlList_, status_}, services_);
  setDiagnosticOptions(DiagnosticOptions{});
  LoadSettings(fields_);
  ShowFields();
}

MainDialog::~MainDialog() = default;

void MainDialog::BuildControls() {
  siteUrl_ = new QLineEdit(this);
  siteUrl_->setObjectName(kIdSiteUrl);
  QLabel* urlLabel =
      NewLabel(QStringLiteral("&Enter URL here (e.g. %1)").arg(kExampleSiteUrl), siteUrl_, this);

  urlList_ = new QCheckBox(QStringLiteral("&URL List"), this);
  urlList_->setObjectName(kIdUrlList);
  htmlSitemap_ = new QCheckBox(QStringLiteral("&HTML Sitemap"), this);
  htmlSitemap_->setObjectName(kIdHtmlSitemap);
  xmlSitemap_ = new QCheckBox(QStringLiteral("&XML Sitemap"), this);
  xmlSitemap_->setObjectName(kIdXmlSitemap);
  auto* flags = new QHBoxLayout;
  flags->addWidget(urlList_);
  flags->addSpacing(24);
  flags->addWidget(htmlSitemap_);
  flags->addSpacing(24);
  flags->addWidget(xmlSitemap_);
  flags->addStretch(1);

  auto* group = new QGroupBox(QStringLiteral("For HTML Sitemap only"), this);
  title_ = new QLineEdit(group);
  title_->setObjectName(kIdTitle);
  description_ = NewMultiLineEdit(kIdDescription, 3, group);
  description_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  metaTags_ = NewMultiLineEdit(kIdMetaTags, 6, group);
  endOfBody_ = NewMultiLineEdit(kIdEndOfBody, 4, group);
  auto* grid = new QGridLayout(group);
  grid->addWidget(NewLabel(QStringLiteral("&Title :"), title_, group), 0, 0);
  grid->addWidget(title_, 0, 1);
  grid->addWidget(NewLabel(QStringLiteral("&Description :"), description_, group), 1, 0,
                  Qt::AlignTop);
  grid->addWidget(description_, 1, 1);
  grid->addWidget(NewLabel(QStringLiteral("&Meta Tags"), metaTags_, group), 2, 0, Qt::AlignTop);
  grid->addWidget(metaTags_, 2, 1);
  grid->addWidget(NewLabel(QStringLiteral("&HTML before end of body (e.g. google analytics code)"),
                           endOfBody_, group),
                  3, 0, 1, 2);
  grid->addWidget(endOfBody_, 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);

  generate_ = new QPushButton(QStringLiteral("&Generate Sitemap"), this);
  generate_->setObjectName(kIdGenerate);
  generate_->setDefault(true);
  stop_ = NewButton("&Stop", kIdStop, this);
  stop_->hide();
  lastResults_ = NewButton("&Last Results", kIdLastResults, this);
  openReport_ = NewButton("Open &Report", kIdOpenReport, this);
  options_ = NewButton("&Options...", kIdOptions, this);
  spider_ = NewButton("Spider", kIdSpider, this);
  spider_->hide();
  close_ = NewButton("Close", kIdClose, this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(generate_);
  buttons->addWidget(stop_);
  buttons->addWidget(lastResults_);
  buttons->addWidget(openReport_);
  buttons->addWidget(options_);
  buttons->addStretch(1);
  buttons->addWidget(spider_);
  buttons->addWidget(close_);

  connect(generate_, &QPushButton::clicked, this, &MainDialog::GenerateSitemap);
  connect(stop_, &QPushButton::clicked, this, &MainDialog::StopCrawl);
  connect(lastResults_, &QPushButton::clicked, this, &MainDialog::ShowLastResults);
  connect(openReport_, &QPushButton::clicked, this, &MainDialog::OpenReport);
  connect(spider_, &QPushButton::clicked, this, &MainDialog::DiagnosticCrawl);
  connect(options_, &QPushButton::clicked, this, &MainDialog::ShowOptions);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(urlLabel);
  layout->addWidget(siteUrl_);
  layout->addLayout(flags);
  layout->addWidget(group, 1);
  layout->addLayout(buttons);
  status_ = new QLabel(this);
  status_->setObjectName(kIdStatus);
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(status_);
  resize(560, sizeHint().height());
}

void MainDialog::BuildMenu() {
  menuBar_ = new QMenuBar(this);
  QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
  file->addAction(QStringLiteral("&Close"), this, &QDialog::accept);
  QMenu* view = menuBar_->addMenu(QStringLiteral("&View"));
  view->addAction(QStringLiteral("&Last Results"), this, &MainDialog::ShowLastResults);
  QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("Submit Anonymous / Identity Feedback"), this,
                  &MainDialog::OpenFeedbackPage);
  help->addSeparator();
  help->addAction(QStringLiteral("&Contact Us"), this, &MainDialog::OpenContactAddress);
  help->addSeparator();
  help->addAction(QStringLiteral("&Visit Product Website"), this, &MainDialog::OpenProductWebsite);
  // On Windows this sits in the system menu; a Help menu is where Linux desktops look for it.
  help->addSeparator();
  QAction* about =
      help->addAction(QStringLiteral("&About Tollwick..."), this, &MainDialog::ShowAbout);
  about->setObjectName(kIdAbout);
  layout()->setMenuBar(menuBar_);
}

void MainDialog::setRunOptions(const RunOptions& options) {
  runOptions_ = options;
  pauseFromFields_ = false;
}

RunOptions MainDialog::RunOptionsOfFields() const {
  RunOptions options = runOptions_;
  if (pauseFromFields_) {
    options.delayMs = static_cast<uint32_t>(std::max(0, fields_.engine.pauseMs));
  }
  return options;
}

void MainDialog::setDiagnosticOptions(const DiagnosticOptions& options) {
  diagnosticOptions_ = options;
}

void MainDialog::ShowFields() {
  siteUrl_->setText(QString::fromStdString(fields_.siteUrl));
  urlList_->setChecked(fields_.urlList);
  htmlSitemap_->setChecked(fields_.htmlSitemap);
  xmlSitemap_->setChecked(fields_.xmlSitemap);
  title_->setText(QString::fromStdString(fields_.title));
  description_->setPlainText(ToControlText(fields_.description));
  metaTags_->setPlainText(ToControlText(fields_.metaTags));
  endOfBody_->setPlainText(ToControlText(fields_.endOfBody));
}

void MainDialog::ReadControls() {
  fields_.siteUrl = siteUrl_->text().toStdString();
  fields_.urlList = urlList_->isChecked();
  fields_.htmlSitemap = htmlSitemap_->isChecked();
  fields_.xmlSitemap = xmlSitemap_->isChecked();
  fields_.title = title_->text().toStdString();
  fields_.description = FromControlText(description_->toPlainText());
  fields_.metaTags = FromControlText(metaTags_->toPlainText());
  fields_.endOfBody = FromControlText(endOfBody_->toPlainText());
}

void MainDialog::SetCrawling(bool crawling) {
  crawling_ = crawling;
  generate_->setEnabled(!crawling);
  lastResults_->setEnabled(!crawling);
  openReport_->setEnabled(!crawling);
  options_->setEnabled(!crawling);
  spider_->setEnabled(!crawling);
  menuBar_->setEnabled(!crawling);
  // The run works on the fields it was given; edits made meanwhile would be lost.
  for (QLineEdit* edit : {siteUrl_, title_}) edit->setReadOnly(crawling);
  for (QPlainTextEdit* edit : {description_, metaTags_, endOfBody_}) edit->setReadOnly(crawling);
  urlList_->setEnabled(!crawling);
  htmlSitemap_->setEnabled(!crawling);
  xmlSitemap_->setEnabled(!crawling);
  stop_->setEnabled(crawling);
  stop_->setVisible(crawling);
  if (crawling) stop_->setFocus(Qt::OtherFocusReason);
}

template <typename Command>
void MainDialog::RunLocked(Command command) {
  if (crawling_) return;
  ReadControls();
  hooks_->ClearStop();
  SetCrawling(true);
  command();
  SetCrawling(false);
  if (closeAfterCrawl_) {
    closeAfterCrawl_ = false;
    QDialog::done(closeResult_);
  }
}

void MainDialog::GenerateSitemap() {
  // The checks of the outputs and the address come before the window is locked, so their
  // message and the focus on "&URL List" reach a window that answers.
  bool noOutput =
      !urlList_->isChecked() && !htmlSitemap_->isChecked() && !xmlSitemap_->isChecked();
  if (!crawling_ && (noOutput || siteUrl_->text().trimmed().isEmpty())) {
    ReadControls();
    tollwick::GenerateSitemap(fields_, *hooks_, RunOptionsOfFields());
    return;
  }
  RunLocked([this] { tollwick::GenerateSitemap(fields_, *hooks_, RunOptionsOfFields()); });
}

void MainDialog::DiagnosticCrawl() {
  RunLocked([this] {
    std::string path;
    tollwick::DiagnosticCrawl(fields_, *hooks_, diagnosticOptions_, path);
  });
}

void MainDialog::ShowLastResults() {
  if (crawling_) return;
  tollwick::ShowLastResults(fields_, *hooks_);
}

void MainDialog::OpenReport() {
  if (crawling_) return;
  tollwick::ShowLastReport(fields_, *hooks_);
}

void MainDialog::ShowOptions() {
  if (crawling_) return;
  OptionsDialog box(fields_, this);
  services_.RunModal(box);
  if (box.result() != QDialog::Accepted) return;
  box.Apply(fields_);
  SaveOptions(fields_);
}

void MainDialog::ShowFirstTimeMessage() { tollwick::ShowFirstTimeMessage(*hooks_); }

void MainDialog::StopCrawl() {
  if (crawling_) hooks_->RequestStop();
}

void MainDialog::ShowAbout() {
  AboutBox about(this);
  services_.RunModal(about);
}

void MainDialog::OpenLink(const char* target) {
  services_.OpenUrl(QUrl(QString::fromUtf8(target)));
}

void MainDialog::OpenFeedbackPage() { OpenLink(kFeedbackPage); }

void MainDialog::OpenContactAddress() { OpenLink(kContactAddress); }

void MainDialog::OpenProductWebsite() { OpenLink(kProductWebsite); }

void MainDialog::done(int result) {
  if (crawling_) {
    closeAfterCrawl_ = true;
    closeResult_ = result;
    hooks_->RequestStop();
    return;
  }
  QDialog::done(result);
}

void MainDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (welcomeHandled_ || event->spontaneous()) return;
  welcomeHandled_ = true;
  // After the window is up, so the message sits over it.
  QMetaObject::invokeMethod(this, &MainDialog::ShowFirstTimeMessage, Qt::QueuedConnection);
}

int RunDialog(int argc, char** argv) {
  // Without a display Qt would abort; say what to do instead.
  if (IsEmpty(std::getenv("DISPLAY")) && IsEmpty(std::getenv("WAYLAND_DISPLAY")) &&
      IsEmpty(std::getenv("QT_QPA_PLATFORM"))) {
    std::fprintf(stderr,
                 "tollwick: no display to open the dialog on; \"tollwick --help\" lists the "
                 "commands that need none.\n");
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationName));
  QApplication::setOrganizationName(QStringLiteral("Brindlewood"));
  QApplication::setWindowIcon(TollwickIcon());
  DialogServices services;
  MainDialog dialog(services);
  dialog.show();
  // The program ends when the dialog closes.
  QObject::connect(&dialog, &QDialog::finished, &application, &QCoreApplication::quit);
  return application.exec();
}

}  // namespace tollwick
