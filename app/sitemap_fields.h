// The fields of the main dialog that a Generate run reads and writes, as a plain struct so the
// run does not depend on any front end. The dialog, the command line and the settings profile
// fill it; what each field means is the dialog's business.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tollwick {

// The head lines the dialog starts with before the profile is read.
inline constexpr char kDefaultMetaTags[] =
    "<meta http-equiv=\"Content-Language\" content=\"en\" />\r\n"
    "<meta name=\"Robots\" content=\"All\" />\r\n"
    "<meta name=\"Rating\" content=\"General\" />\r\n"
    "<meta name=\"Distribution\" content=\"Global\" />\r\n";

inline constexpr char kApplicationName[] = "Tollwick";

// The pause after each page, and the longest one the dialog offers.
inline constexpr int32_t kDefaultPauseMs = 500;
inline constexpr int32_t kMaxDialogPauseMs = 60000;
// The most connections a crawl fetches with.
inline constexpr int32_t kMaxConnections = 16;

// The robots.txt name the crawl answers to besides "*".
inline constexpr char kDefaultRobotsAgent[] = "Tollwick";

// The crawl engine's own settings, as the command line's options and the dialog's Options box
// set them. The defaults leave the engine as it always crawled.
struct EngineOptions {
  // Wildcard patterns ("*" matches any run, case-insensitive): links matching an avoid pattern
  // are dropped; when must-match patterns exist only matching links (on pages that match)
  // pass; off-site links matching an outbound-avoid pattern are not counted.
  std::vector<std::string> avoid;
  std::vector<std::string> mustMatch;
  std::vector<std::string> outboundAvoid;
  // 0: no limit; else no more links are queued once more pages than this were fetched.
  int32_t maxUrls = 0;
  bool dropQueryStrings = false;
  bool dropHttps = false;
  bool respectNofollow = false;
  // Empty: the engine's own; else sent as User-Agent and matched against robots.txt groups.
  std::string userAgent;
  std::string robotsAgent = kDefaultRobotsAgent;
  // The dialog's pause after each page (the command line has --delay-ms).
  int32_t pauseMs = kDefaultPauseMs;
  // Connections fetching in parallel (1-16); with more than one the pause is the least time
  // between two request starts across all of them.
  int32_t connections = 1;
  // Pages answered as HTML are also rendered by headless Chromium, and the links its scripts
  // build are followed too.
  bool renderJs = false;
};

struct SitemapFields {
  std::string siteUrl;
  bool urlList = true;
  bool htmlSitemap = true;
  // sitemap.xml (sitemaps.org), gzip-compressed as sitemap.xml.gz when xmlGzip is set.
  bool xmlSitemap = true;
  bool xmlGzip = false;
  // report.html and pages.csv: the crawl's broken links, redirects, page checks and orphans.
  bool crawlReport = true;
  // Where the dated output folders go; empty means "<temp>/Tollwick".
  std::string outputDir;
  EngineOptions engine;
  std::string endOfBody;
  std::string title = "Sitemap";
  std::string description;
  std::string metaTags = kDefaultMetaTags;
  // The folder of the last run (written by the run, saved as "Last Folder").
  std::string outputFolder;
};

}  // namespace tollwick
