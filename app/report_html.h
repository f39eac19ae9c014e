// report.html: the crawl report as one self-contained page (inline CSS, charts as SVG images in
// data: addresses, no script, nothing fetched from elsewhere) that reads on a phone. It keeps to
// the elements an HTML 4 parser knows, so xmllint --html reads it without an error. Every text
// taken from a page or an address is escaped here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/crawl_report.h"

namespace tollwick {

// text with "&", "<", ">", '"' and "'" written as character references.
std::string HtmlEscape(std::string_view text);

// One bar of a chart: its label and its count.
struct ChartBar {
  std::string label;
  uint64_t count = 0;
};

// A horizontal bar chart as an SVG document (its texts escaped for XML).
std::string BarChartSvg(const std::vector<ChartBar>& bars);

// The labels of a histogram's buckets: "< 50 ms", "50-99 ms", ..., "5000 ms or more"; with
// unit "B" the sizes are written in kB ("< 5 kB", ...).
std::vector<std::string> HistogramLabels(const Histogram& histogram, std::string_view unit);

// The whole page.
std::string ReportHtml(const CrawlReport& report, const ReportRun& run);

}  // namespace tollwick
