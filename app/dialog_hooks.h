// The dialog's side of a Generate run: the desktop services it calls (message boxes, modal
// boxes, opening addresses), the run's hooks over the main window, and a spider source whose
// client checks in every heartbeat so the window keeps answering while a page downloads.
// Everything runs on the user-interface thread; nothing here owns the window or its controls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/generate_run.h"

class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QString;
class QUrl;
class QWidget;

namespace tollwick {

// How often a download in the dialog stops to handle the window's events and hear a Stop.
inline constexpr uint32_t kDialogHeartbeatMs = 100;

// What the dialog asks of the desktop. The defaults show real boxes and open real addresses;
// tests replace them with recorders so that nothing waits for a user.
class DialogServices {
 public:
  virtual ~DialogServices() = default;
  // A modal message box with the information icon and the application's name as caption.
  virtual void ShowInformation(QWidget* parent, const QString& text);
  // A modal message box with the warning icon (a failure the user must hear of).
  virtual void ShowWarning(QWidget* parent, const QString& text);
  // Runs a modal box (the About box) until it closes.
  virtual void RunModal(QDialog& dialog);
  // Opens a folder, a web page or a mail address with the desktop's handler; false when no
  // handler took it (no file manager runs, for one).
  virtual bool OpenUrl(const QUrl& url);
};

// The controls a run touches, all owned by the window.
struct DialogControls {
  QWidget* window = nullptr;
  QLineEdit* siteUrl = nullptr;
  QCheckBox* urlList = nullptr;
  QLabel* status = nullptr;
};

// The run's hooks in the dialog. StopRequested first handles every pending event of the window:
// the run asks it every slice of its pause between pages and the spider's event sink asks it
// every heartbeat of a download, so a click on Stop (or Close) is seen within one heartbeat.
class DialogHooks : public FrontEndHooks {
 public:
  DialogHooks(const DialogControls& controls, DialogServices& services);

  void PumpOneMessage() override;
  void SetCaption(const std::string& caption) override;
  void ShowWaitCursor(bool shown) override;
  void ShowSiteUrl(const std::string& siteUrl) override;
  void OpenPath(const std::string& path) override;
  void ShowMessage(const std::string& text) override;
  void ReportFailure(const std::string& text) override;
  void FocusUrlListFlag() override;
  bool StopRequested() override;
  uint32_t HeartbeatMs() override { return kDialogHeartbeatMs; }
  void PageDone(int pagesDone, int pagesWaiting, const std::string& url) override;
  void CrawlFinished(const CrawlSummary& summary) override;
  void SaveSettings(const SitemapFields& fields) override;

  // Stop pressed: the crawl loop ends after the current step and the files are still written.
  void RequestStop() { stopRequested_ = true; }
  // A new run starts unstopped.
  void ClearStop() { stopRequested_ = false; }
  bool stopPending() const { return stopRequested_; }

 private:
  DialogControls controls_;
  DialogServices& services_;
  bool stopRequested_ = false;
  bool cursorShown_ = false;
};

}  // namespace tollwick
