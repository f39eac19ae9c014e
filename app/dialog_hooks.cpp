#include "app/dialog_hooks.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "app/settings_profile.h"
#include "app/sitemap_fields.h"

namespace tollwick {
namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromUtf8(kApplicationName), text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

void DialogServices::ShowInformation(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Information, text);
}

void DialogServices::ShowWarning(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Warning, text);
}

void DialogServices::RunModal(QDialog& dialog) { dialog.exec(); }

bool DialogServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

DialogHooks::DialogHooks(const DialogControls& controls, DialogServices& services)
    : controls_(controls), services_(services) {}

void DialogHooks::PumpOneMessage() { QCoreApplication::processEvents(); }

void DialogHooks::SetCaption(const std::string& caption) {
  controls_.window->setWindowTitle(QString::fromStdString(caption));
}

void DialogHooks::ShowWaitCursor(bool shown) {
  if (shown == cursorShown_) return;
  cursorShown_ = shown;
  if (shown) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void DialogHooks::ShowSiteUrl(const std::string& siteUrl) {
  controls_.siteUrl->setText(QString::fromStdString(siteUrl));
}

void DialogHooks::OpenPath(const std::string& path) {
  const QString where = QString::fromStdString(path);
  // The status line ends with where the files went; it can be selected and copied.
  QString status = controls_.status->text();
  if (!status.isEmpty()) status += QLatin1Char('\n');
  controls_.status->setText(status + QStringLiteral("Files: ") + where);
  if (!services_.OpenUrl(QUrl::fromLocalFile(where))) {
    ShowMessage("The results are in " + path + " (nothing here could open it).");
  }
}

void DialogHooks::ShowMessage(const std::string& text) {
  bool busy = cursorShown_;
  ShowWaitCursor(false);
  services_.ShowInformation(controls_.window, QString::fromStdString(text));
  ShowWaitCursor(busy);
}

void DialogHooks::ReportFailure(const std::string& text) {
  // A message box is answered with the normal pointer, even in the middle of a run.
  bool busy = cursorShown_;
  ShowWaitCursor(false);
  services_.ShowWarning(controls_.window, QString::fromStdString(text));
  ShowWaitCursor(busy);
}

void DialogHooks::FocusUrlListFlag() { controls_.urlList->setFocus(Qt::OtherFocusReason); }

bool DialogHooks::StopRequested() {
  QCoreApplication::processEvents();
  return stopRequested_;
}

void DialogHooks::PageDone(int pagesDone, int pagesWaiting, const std::string& url) {
  controls_.status->setText(QStringLiteral("%1 done, %2 waiting: %3")
                                .arg(pagesDone)
                                .arg(pagesWaiting)
                                .arg(QString::fromStdString(url)));
}

void DialogHooks::CrawlFinished(const CrawlSummary& summary) {
  std::string text = summary.Text() + ".";
  std::string outcome = summary.OutcomeText();
  if (!outcome.empty()) text += "\n" + outcome;
  for (const CrawlWarningNote& warning : summary.warnings) {
    text += "\nWarning: " + warning.Line();
  }
  controls_.status->setText(QString::fromStdString(text));
}

void DialogHooks::SaveSettings(const SitemapFields& fields) { tollwick::SaveSettings(fields); }

}  // namespace tollwick
