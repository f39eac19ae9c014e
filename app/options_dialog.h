// The "Options..." box of the main window: the crawl engine's settings (patterns, limits, link
// flags, the agent names), the XML sitemap's compression, the crawl report and the folder the
// output goes to.
// It edits a copy of the fields; the window stores them when the box is accepted.
#pragma once

#include <QDialog>

#include "app/sitemap_fields.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace tollwick {

// Control ids (object names) of the box.
inline constexpr char kIdOptions[] = "options";
inline constexpr char kIdAvoid[] = "avoid";
inline constexpr char kIdMustMatch[] = "mustMatch";
inline constexpr char kIdOutboundAvoid[] = "outboundAvoid";
inline constexpr char kIdMaxUrls[] = "maxUrls";
inline constexpr char kIdPause[] = "pause";
inline constexpr char kIdConnections[] = "connections";
inline constexpr char kIdDropQuery[] = "dropQuery";
inline constexpr char kIdDropHttps[] = "dropHttps";
inline constexpr char kIdRespectNofollow[] = "respectNofollow";
inline constexpr char kIdRenderJs[] = "renderJs";
inline constexpr char kIdUserAgent[] = "userAgent";
inline constexpr char kIdRobotsAgent[] = "robotsAgent";
inline constexpr char kIdXmlGzip[] = "xmlGzip";
inline constexpr char kIdCrawlReport[] = "crawlReport";
inline constexpr char kIdOutputDir[] = "outputDir";
inline constexpr char kOptionsCaption[] = "Options";

class OptionsDialog : public QDialog {
 public:
  // Shows the options of fields.
  OptionsDialog(const SitemapFields& fields, QWidget* parent);
  // Writes the shown options into fields (patterns one per line, empty lines dropped).
  void Apply(SitemapFields& fields) const;

 private:
  QPlainTextEdit* avoid_ = nullptr;
  QPlainTextEdit* mustMatch_ = nullptr;
  QPlainTextEdit* outboundAvoid_ = nullptr;
  QSpinBox* maxUrls_ = nullptr;
  QSpinBox* pause_ = nullptr;
  QSpinBox* connections_ = nullptr;
  QCheckBox* dropQuery_ = nullptr;
  QCheckBox* dropHttps_ = nullptr;
  QCheckBox* respectNofollow_ = nullptr;
  QCheckBox* renderJs_ = nullptr;
  QLineEdit* userAgent_ = nullptr;
  QLineEdit* robotsAgent_ = nullptr;
  QCheckBox* xmlGzip_ = nullptr;
  QCheckBox* crawlReport_ = nullptr;
  QLineEdit* outputDir_ = nullptr;
};

}  // namespace tollwick
