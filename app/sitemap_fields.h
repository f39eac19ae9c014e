// The fields of the main dialog that a Generate run reads and writes, as a plain struct so the
// run does not depend on any front end. The dialog, the command line and the settings profile
// fill it; what each field means is the dialog's business.
#pragma once

#include <string>

namespace tollwick {

// The head lines the dialog starts with before the profile is read.
inline constexpr char kDefaultMetaTags[] =
    "<meta http-equiv=\"Content-Language\" content=\"en\" />\r\n"
    "<meta name=\"Robots\" content=\"All\" />\r\n"
    "<meta name=\"Rating\" content=\"General\" />\r\n"
    "<meta name=\"Distribution\" content=\"Global\" />\r\n";

inline constexpr char kApplicationName[] = "Tollwick";

struct SitemapFields {
  std::string siteUrl;
  bool urlList = true;
  bool htmlSitemap = true;
  std::string endOfBody;
  std::string title = "Sitemap";
  std::string description;
  std::string metaTags = kDefaultMetaTags;
  // The folder of the last run (written by the run, saved as "Last Folder").
  std::string outputFolder;
  // One address per crawled page, CR LF after each; emptied at the start of every run.
  std::string urlListText;
};

}  // namespace tollwick
