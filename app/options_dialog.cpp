#include "app/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace tollwick {
namespace {

QPlainTextEdit* NewPatternEdit(const char* id, const std::vector<std::string>& patterns,
                               QWidget* parent) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setObjectName(id);
  edit->setTabChangesFocus(true);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  QStringList lines;
  for (const std::string& pattern : patterns) lines << QString::fromStdString(pattern);
  edit->setPlainText(lines.join('\n'));
  edit->setFixedHeight(QFontMetrics(edit->font()).lineSpacing() * 3 + 2 * edit->frameWidth() + 8);
  return edit;
}

std::vector<std::string> PatternsOf(const QPlainTextEdit* edit) {
  std::vector<std::string> patterns;
  for (const QString& line : edit->toPlainText().split('\n')) {
    QString pattern = line.trimmed();
    if (!pattern.isEmpty()) patterns.push_back(pattern.toStdString());
  }
  return patterns;
}

QCheckBox* NewCheckBox(const QString& text, const char* id, bool checked, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(id);
  box->setChecked(checked);
  return box;
}

QLineEdit* NewLineEdit(const char* id, const std::string& text, const QString& placeholder,
                       QWidget* parent) {
  auto* edit = new QLineEdit(QString::fromStdString(text), parent);
  edit->setObjectName(id);
  edit->setPlaceholderText(placeholder);
  return edit;
}

}  // namespace

OptionsDialog::OptionsDialog(const SitemapFields& fields, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kOptionsCaption));
  const EngineOptions& engine = fields.engine;
  avoid_ = NewPatternEdit(kIdAvoid, engine.avoid, this);
  mustMatch_ = NewPatternEdit(kIdMustMatch, engine.mustMatch, this);
  outboundAvoid_ = NewPatternEdit(kIdOutboundAvoid, engine.outboundAvoid, this);
  maxUrls_ = new QSpinBox(this);
  maxUrls_->setObjectName(kIdMaxUrls);
  maxUrls_->setRange(0, INT32_MAX);
  maxUrls_->setSpecialValueText(QStringLiteral("no limit"));
  maxUrls_->setValue(engine.maxUrls);
  pause_ = new QSpinBox(this);
  pause_->setObjectName(kIdPause);
  pause_->setRange(0, kMaxDialogPauseMs);
  pause_->setSingleStep(100);
  pause_->setSuffix(QStringLiteral(" ms"));
  pause_->setValue(std::clamp(engine.pauseMs, 0, kMaxDialogPauseMs));
  connections_ = new QSpinBox(this);
  connections_->setObjectName(kIdConnections);
  connections_->setRange(1, kMaxConnections);
  connections_->setValue(std::clamp(engine.connections, 1, kMaxConnections));
  dropQuery_ = NewCheckBox(QStringLiteral("Drop &query strings"), kIdDropQuery,
                           engine.dropQueryStrings, this);
  dropHttps_ =
      NewCheckBox(QStringLiteral("Drop http&s links"), kIdDropHttps, engine.dropHttps, this);
  respectNofollow_ = NewCheckBox(QStringLiteral("Respect &nofollow"), kIdRespectNofollow,
                                 engine.respectNofollow, this);
  renderJs_ = NewCheckBox(QStringLiteral("Render pages with &JavaScript (Chromium)"), kIdRenderJs,
                          engine.renderJs, this);
  userAgent_ =
      NewLineEdit(kIdUserAgent, engine.userAgent, QStringLiteral("the built-in one"), this);
  robotsAgent_ = NewLineEdit(kIdRobotsAgent, engine.robotsAgent, QStringLiteral("none"), this);
  xmlGzip_ = NewCheckBox(QStringLiteral("&Compress the XML sitemap (gzip)"), kIdXmlGzip,
                         fields.xmlGzip, this);
  crawlReport_ = NewCheckBox(QStringLiteral("Crawl &report (report.html and pages.csv)"),
                             kIdCrawlReport, fields.crawlReport, this);
  outputDir_ = NewLineEdit(kIdOutputDir, fields.outputDir,
                           QStringLiteral("the temporary folder's Tollwick folder"), this);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Avoid links matching:"), avoid_);
  form->addRow(QStringLiteral("Follow &only links matching:"), mustMatch_);
  form->addRow(QStringLiteral("Do not count off-site links &matching:"), outboundAvoid_);
  form->addRow(QStringLiteral("Stop queueing after this many &pages:"), maxUrls_);
  form->addRow(QStringLiteral("Pause &between pages:"), pause_);
  form->addRow(QStringLiteral("Parallel co&nnections:"), connections_);
  form->addRow(QString(), dropQuery_);
  form->addRow(QString(), dropHttps_);
  form->addRow(QString(), respectNofollow_);
  form->addRow(QString(), renderJs_);
  form->addRow(QStringLiteral("&User agent:"), userAgent_);
  form->addRow(QStringLiteral("&Robots.txt agent name:"), robotsAgent_);
  form->addRow(QString(), xmlGzip_);
  form->addRow(QString(), crawlReport_);
  form->addRow(QStringLiteral("Output &folder:"), outputDir_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(QStringLiteral("Patterns: one per line, \"*\" matches anything."), this));
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void OptionsDialog::Apply(SitemapFields& fields) const {
  EngineOptions& engine = fields.engine;
  engine.avoid = PatternsOf(avoid_);
  engine.mustMatch = PatternsOf(mustMatch_);
  engine.outboundAvoid = PatternsOf(outboundAvoid_);
  engine.maxUrls = maxUrls_->value();
  engine.pauseMs = pause_->value();
  engine.connections = connections_->value();
  engine.dropQueryStrings = dropQuery_->isChecked();
  engine.dropHttps = dropHttps_->isChecked();
  engine.respectNofollow = respectNofollow_->isChecked();
  engine.renderJs = renderJs_->isChecked();
  // Line breaks cannot go into a request head.
  engine.userAgent = userAgent_->text().simplified().toStdString();
  engine.robotsAgent = robotsAgent_->text().simplified().toStdString();
  fields.xmlGzip = xmlGzip_->isChecked();
  fields.crawlReport = crawlReport_->isChecked();
  fields.outputDir = outputDir_->text().trimmed().toStdString();
}

}  // namespace tollwick
