#include "app/dialog_hooks.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "app/settings_profile.h"
#include "app/sitemap_fields.h"
#include "base/progress.h"
#include "spider/vn_spider.h"

namespace tollwick {
namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromUtf8(kApplicationName), text, QMessageBox::Ok, parent);
  box.exec();
}

// The spider's event sink in the dialog: every callback is a chance to handle the window's
// events and to end the fetch on Stop.
class HeartbeatSink : public quillon::ProgressEvent {
 public:
  explicit HeartbeatSink(FrontEndHooks& hooks) : hooks_(hooks) {}
  void PercentUpdate(int /*percent*/, bool& abort) override { check(abort); }
  void AbortCheck(bool& abort) override { check(abort); }
  void IntervalTick(int /*value*/, bool& abort) override { check(abort); }
  // True once a fetch was ended by Stop.
  bool stopHeard() const { return stopHeard_; }

 private:
  void check(bool& abort) {
    if (stopHeard_ || hooks_.StopRequested()) {
      stopHeard_ = true;
      abort = true;
    }
  }
  FrontEndHooks& hooks_;
  bool stopHeard_ = false;
};

// After a Stop the engine would take the next queued URL in the same step (an aborted fetch is
// a failed one to it), and on a fast server that fetch may finish before it hears the Stop.
// So once Stop ended a fetch the source reports the crawl as over: no page, nothing waiting.
class HeartbeatSpiderSource : public PageSource {
 public:
  HeartbeatSpiderSource(FrontEndHooks& hooks, uint32_t heartbeatMs) : sink_(hooks) {
    spider_.engine().http().settings().abortCheckMs = heartbeatMs;
    spider_.setEventCallback(&sink_);
  }

  void BeginSite(const std::string& domain) override { spider_.BeginSite(domain.c_str()); }
  void QueueUrl(const std::string& url) override { spider_.QueueUrl(url.c_str()); }
  bool CrawlNext() override {
    if (sink_.stopHeard()) return false;
    bool fetched = spider_.CrawlNext();
    return fetched && !sink_.stopHeard();
  }
  int PendingCount() override { return sink_.stopHeard() ? 0 : spider_.PendingCount(); }
  std::string CurrentUrl() override { return spider_.CurrentUrl(); }
  std::string PageTitle() override { return spider_.PageTitle(); }
  std::string PageKeywords() override { return spider_.PageKeywords(); }
  std::string PageDescription() override { return spider_.PageDescription(); }
  bool PageModifiedDate(quillon::SystemTime& when) override {
    return spider_.PageModifiedDate(when);
  }
  std::string ErrorLogText() override { return spider_.ErrorLogText(); }

 private:
  HeartbeatSink sink_;
  quillon::VnSpider spider_;
};

}  // namespace

void DialogServices::ShowInformation(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Information, text);
}

void DialogServices::ShowWarning(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Warning, text);
}

void DialogServices::RunModal(QDialog& dialog) { dialog.exec(); }

void DialogServices::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

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
  services_.OpenUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
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

void DialogHooks::SaveSettings(const SitemapFields& fields) { tollwick::SaveSettings(fields); }

std::unique_ptr<PageSource> MakeHeartbeatSpiderSource(FrontEndHooks& hooks, uint32_t heartbeatMs) {
  return std::make_unique<HeartbeatSpiderSource>(hooks, heartbeatMs);
}

}  // namespace tollwick
