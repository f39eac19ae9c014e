#include "app/report_html.h"

#include <algorithm>
#include <cstdio>

#include "base/content_coding.h"
#include "base/string_buffer.h"

namespace tollwick {
namespace {

constexpr char kStyle[] =
    "body{font:15px/1.45 system-ui,-apple-system,'Segoe UI',sans-serif;margin:0;color:#1d2330;"
    "background:#f5f6f8}"
    ".page{max-width:1100px;margin:0 auto;padding:16px}"
    "h1{font-size:1.6em;margin:.2em 0}"
    "h2{font-size:1.25em;border-bottom:2px solid #dde1e8;padding-bottom:4px;margin-top:1.8em}"
    "h3{font-size:1.05em;margin:1.2em 0 .4em}"
    "a{color:#1a56a8}"
    ".meta{color:#5a6272;margin:.2em 0}"
    ".toc a{display:inline-block;margin:0 .8em .3em 0}"
    ".cards{display:grid;grid-template-columns:repeat(auto-fill,minmax(150px,1fr));gap:8px}"
    ".card{background:#fff;border:1px solid #dde1e8;border-radius:6px;padding:8px 10px}"
    ".card .label{display:block;font-size:.8em;color:#5a6272}"
    ".card .num{display:block;font-size:1.5em;font-weight:600}"
    ".card.bad .num{color:#b3261e}"
    ".charts{display:grid;grid-template-columns:repeat(auto-fit,minmax(300px,1fr));gap:12px;"
    "align-items:start}"
    ".chart{background:#fff;border:1px solid #dde1e8;border-radius:6px;padding:8px}"
    ".chart img{width:100%;height:auto;display:block}"
    ".scroll{overflow-x:auto;-webkit-overflow-scrolling:touch}"
    "table{border-collapse:collapse;width:100%;background:#fff;font-size:.9em}"
    "th,td{border:1px solid #dde1e8;padding:4px 6px;text-align:left;vertical-align:top}"
    "th{background:#eef1f5}"
    "td.url{word-break:break-all;min-width:12em}"
    "td.num{text-align:right;white-space:nowrap}"
    ".more{color:#5a6272;font-style:italic}"
    ".none{color:#2e7d32}"
    ".warn{color:#b3261e}"
    "@media (max-width:600px){body{font-size:14px}.page{padding:8px}h1{font-size:1.3em}}";

// Chart geometry (SVG user units).
constexpr int kChartWidth = 360;
constexpr int kChartLabelWidth = 92;
constexpr int kChartBarWidth = 210;
constexpr int kChartRowHeight = 24;

std::string Number(uint64_t value) {
  const std::string digits = std::to_string(value);
  // Thousands separated by commas, for reading.
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string DurationText(uint64_t ms) {
  char text[64];
  if (ms < 60000) {
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  } else {
    const uint64_t seconds = ms / 1000;
    std::snprintf(text, sizeof text, "%llu min %02llu s",
                  static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

std::string Link(std::string_view url) {
  const std::string escaped = HtmlEscape(url);
  return "<a href=\"" + escaped + "\">" + escaped + "</a>";
}

std::string ImageOfSvg(const std::string& svg, const std::string& alt) {
  quillon::StringBuffer base64;
  quillon::ContentCoding::encodeBase64(svg.data(), static_cast<uint32_t>(svg.size()), base64);
  return "<img src=\"data:image/svg+xml;base64," + std::string(base64.view()) + "\" alt=\"" +
         HtmlEscape(alt) + "\">";
}

// A cell holds HTML already escaped; url cells break anywhere, num cells align right.
struct Cell {
  std::string html;
  const char* kind = "";
};

Cell UrlCell(std::string_view url) { return {Link(url), "url"}; }
Cell TextCell(std::string_view text) { return {HtmlEscape(text), ""}; }
Cell NumCell(uint64_t value) { return {Number(value), "num"}; }

// A section heading with its anchor.
void Heading(std::string& out, const char* id, const std::string& title) {
  out += "<h2 id=\"";
  out += id;
  out += "\">" + HtmlEscape(title) + "</h2>\n";
}

// A table, or the empty text when it has no row; "and N more" when rows were left out.
void Table(std::string& out, const std::vector<const char*>& headers,
           const std::vector<std::vector<Cell>>& rows, size_t more, const char* emptyText) {
  if (rows.empty() && more == 0) {
    out += "<p class=\"none\">" + HtmlEscape(emptyText) + "</p>\n";
    return;
  }
  out += "<div class=\"scroll\"><table>\n<tr>";
  for (const char* header : headers) out += std::string("<th>") + header + "</th>";
  out += "</tr>\n";
  for (const std::vector<Cell>& row : rows) {
    out += "<tr>";
    for (const Cell& cell : row) {
      out += *cell.kind ? std::string("<td class=\"") + cell.kind + "\">" : std::string("<td>");
      out += cell.html + "</td>";
    }
    out += "</tr>\n";
  }
  out += "</table></div>\n";
  if (more != 0) {
    out += "<p class=\"more\">and " + Number(more) + " more (all of them are in pages.csv)</p>\n";
  }
}

void PageNoteTable(std::string& out, const CappedTable<PageNote>& table, const char* what,
                   const char* emptyText) {
  std::vector<std::vector<Cell>> rows;
  for (const PageNote& note : table.rows()) {
    std::vector<Cell> row{UrlCell(note.url)};
    if (*what) row.push_back(TextCell(note.text));
    rows.push_back(std::move(row));
  }
  std::vector<const char*> headers{"Page"};
  if (*what) headers.push_back(what);
  Table(out, headers, rows, table.more(), emptyText);
}

void Card(std::string& out, const char* id, const char* label, uint64_t count, bool bad = false) {
  out += std::string("<div class=\"card") + (bad && count != 0 ? " bad" : "") +
         "\"><span class=\"label\">" + label + "</span><span class=\"num\" id=\"count-" + id +
         "\">" + std::to_string(count) + "</span></div>\n";
}

void RunSection(std::string& out, const CrawlReport& report, const ReportRun& run) {
  const ReportFacts& facts = report.facts();
  const CrawlSummary& summary = run.summary;
  Heading(out, "run", "The run");
  out += "<div class=\"cards\">\n";
  Card(out, "listed", "pages listed", static_cast<uint64_t>(facts.listed));
  Card(out, "failed", "failed", static_cast<uint64_t>(facts.failed), true);
  Card(out, "too-large", "too large", static_cast<uint64_t>(facts.tooLarge), true);
  Card(out, "robots", "excluded by robots.txt", static_cast<uint64_t>(summary.robotsExcluded));
  Card(out, "off-site", "off the site", static_cast<uint64_t>(summary.offSite));
  Card(out, "warnings", "warnings", summary.warnings.size(), true);
  Card(out, "in-sitemap", "in sitemap.xml", facts.inSitemap);
  Card(out, "redirects", "redirects", facts.redirects.total());
  if (!facts.sitemaps.files.empty())
    Card(out, "orphans", "orphans", facts.sitemaps.orphanCount, true);
  out += "</div>\n";
  out += "<p id=\"summary\">" + HtmlEscape(summary.Text()) + "</p>\n";
  if (!run.xmlSummary.empty()) out += "<p>" + HtmlEscape(run.xmlSummary) + "</p>\n";
  if (const std::string outcome = summary.OutcomeText(); !outcome.empty()) {
    out += "<p class=\"warn\">" + HtmlEscape(outcome) + "</p>\n";
  }
  if (!summary.warnings.empty()) {
    out += "<h3>Warnings</h3>\n<ul>\n";
    for (const CrawlWarningNote& warning : summary.warnings) {
      out += "<li>" + HtmlEscape(warning.Line()) + "</li>\n";
    }
    out += "</ul>\n";
  }
  out += "<h3>Options</h3>\n<ul>\n";
  for (const std::string& line : run.options) out += "<li>" + HtmlEscape(line) + "</li>\n";
  out += "</ul>\n";
}

std::string ChartFigure(const char* title, const std::vector<ChartBar>& bars) {
  std::string alt = title;
  for (const ChartBar& bar : bars) alt += "; " + bar.label + ": " + std::to_string(bar.count);
  return "<div class=\"chart\"><h3>" + HtmlEscape(title) + "</h3>" +
         ImageOfSvg(BarChartSvg(bars), alt) + "</div>\n";
}

std::vector<ChartBar> HistogramBars(const Histogram& histogram, std::string_view unit) {
  std::vector<std::string> labels = HistogramLabels(histogram, unit);
  std::vector<ChartBar> bars;
  for (size_t i = 0; i < labels.size(); ++i) bars.push_back({labels[i], histogram.counts()[i]});
  return bars;
}

void ChartsSection(std::string& out, const ReportFacts& facts) {
  Heading(out, "charts", "At a glance");
  static constexpr const char* kClassNames[] = {"no answer", "1xx", "2xx", "3xx", "4xx", "5xx"};
  std::vector<ChartBar> statuses;
  for (size_t i : {2, 3, 4, 5, 0, 1}) {
    if (i >= 2 && i <= 5) {
      statuses.push_back({kClassNames[i], facts.statusClasses[i]});
    } else if (facts.statusClasses[i] != 0) {
      statuses.push_back({kClassNames[i], facts.statusClasses[i]});
    }
  }
  std::vector<ChartBar> depths;
  size_t deepest = facts.depths.size();
  while (deepest > 1 && facts.depths[deepest - 1] == 0) --deepest;
  for (size_t depth = 0; depth < deepest; ++depth) {
    std::string label = "depth " + std::to_string(depth);
    if (depth == facts.depths.size() - 1) label += "+";
    depths.push_back({label, facts.depths[depth]});
  }
  out += "<div class=\"charts\">\n";
  out += ChartFigure("Answers by status class", statuses);
  out += ChartFigure("Pages by link depth", depths);
  out += ChartFigure("Response times", HistogramBars(facts.answerMs, "ms"));
  out += ChartFigure("Page sizes", HistogramBars(facts.pageBytes, "B"));
  out += "</div>\n";
}

void BrokenSection(std::string& out, const ReportFacts& facts) {
  Heading(out, "broken", "Broken links (" + Number(facts.broken.total()) + ")");
  std::vector<std::vector<Cell>> rows;
  for (const BrokenLink& link : facts.broken.rows()) {
    std::string from;
    for (const std::string& page : link.referrers)
      from += (from.empty() ? "" : "<br>") + Link(page);
    if (link.inlinks > link.referrers.size()) {
      from += "<br><span class=\"more\">" + Number(link.inlinks) + " links in all</span>";
    }
    if (from.empty()) from = "<span class=\"more\">the start address</span>";
    rows.push_back({UrlCell(link.url), TextCell(link.reason), {from, "url"}});
  }
  Table(out, {"Address", "Reason", "Linked from"}, rows, facts.broken.more(),
        "No broken links: every URL the crawl tried answered.");
}

void RedirectSection(std::string& out, const ReportFacts& facts) {
  std::string title = "Redirects (" + Number(facts.redirects.total()) + ")";
  Heading(out, "redirects", title);
  if (facts.redirectChains != 0 || facts.redirectsOffSite != 0) {
    out += "<p>" + Number(facts.redirectChains) + " chains of more than one step, " +
           Number(facts.redirectsOffSite) + " leading off the site.</p>\n";
  }
  std::vector<std::vector<Cell>> rows;
  for (const RedirectRow& row : facts.redirects.rows()) {
    std::string note = row.hops > 1 ? "chain of " + std::to_string(row.hops) : "";
    if (row.offSite) note += std::string(note.empty() ? "" : ", ") + "off the site";
    rows.push_back({UrlCell(row.source), UrlCell(row.target), NumCell(row.status), TextCell(note)});
  }
  Table(out, {"From", "To", "Status", "Note"}, rows, facts.redirects.more(), "No redirects.");
}

void SitemapSection(std::string& out, const ReportFacts& facts) {
  Heading(out, "sitemap", "Left out of sitemap.xml");
  if (!facts.notInSitemapReasons.empty()) {
    out += "<ul>\n";
    for (const auto& [reason, count] : facts.notInSitemapReasons) {
      out += "<li>" + HtmlEscape(reason) + ": " + Number(count) + "</li>\n";
    }
    out += "</ul>\n";
  }
  PageNoteTable(out, facts.notInSitemap, "Why", "Every page the crawl listed is in sitemap.xml.");
}

void DuplicateTable(std::string& out, const Duplicates& duplicates, const char* what,
                    const char* emptyText) {
  std::vector<std::vector<Cell>> rows;
  for (const DuplicateGroup& group : duplicates.groups.rows()) {
    std::string pages;
    for (const std::string& url : group.urls) pages += (pages.empty() ? "" : "<br>") + Link(url);
    if (group.pages > group.urls.size()) {
      pages += "<br><span class=\"more\">and " + Number(group.pages - group.urls.size()) +
               " more</span>";
    }
    rows.push_back({TextCell(group.text), NumCell(group.pages), {pages, "url"}});
  }
  Table(out, {what, "Pages", "Some of them"}, rows, duplicates.groups.more(), emptyText);
}

void ChecksSection(std::string& out, const ReportFacts& facts) {
  Heading(out, "checks", "Page checks");
  out += "<p>On the " + Number(facts.inSitemap) +
         " pages in sitemap.xml: titles and descriptions as search engines show them (titles "
         "over " +
         std::to_string(kTitleCharacterLimit) + " and descriptions over " +
         std::to_string(kDescriptionCharacterLimit) + " characters are cut).</p>\n";
  auto sub = [&out](const char* title, size_t count) {
    out += std::string("<h3>") + title + " (" + Number(count) + ")</h3>\n";
  };
  sub("Missing titles", facts.missingTitle.total());
  PageNoteTable(out, facts.missingTitle, "", "Every page has a title.");
  sub("Duplicate titles", facts.duplicateTitles.pages);
  DuplicateTable(out, facts.duplicateTitles, "Title", "No two pages share a title.");
  sub("Titles over 60 characters", facts.longTitle.total());
  PageNoteTable(out, facts.longTitle, "Title", "No title is too long.");
  sub("Missing descriptions", facts.missingDescription.total());
  PageNoteTable(out, facts.missingDescription, "", "Every page has a description.");
  sub("Duplicate descriptions", facts.duplicateDescriptions.pages);
  DuplicateTable(out, facts.duplicateDescriptions, "Description",
                 "No two pages share a description.");
  sub("Descriptions over 160 characters", facts.longDescription.total());
  PageNoteTable(out, facts.longDescription, "Description", "No description is too long.");
  sub("Pages over the size limit", facts.overSizeLimit.total());
  PageNoteTable(out, facts.overSizeLimit, "Reason", "No page is over the size limit.");
}

void OrphanSection(std::string& out, const ReportFacts& facts) {
  Heading(out, "orphans", "Orphans");
  const SiteSitemapsFound& found = facts.sitemaps;
  if (!facts.sitemapsScanned) {
    out += "<p>The site's own sitemaps were not read: the crawl ended early (stopped or at its "
           "page limit), so its links do not tell an orphan from a page not reached.</p>\n";
    return;
  }
  if (found.files.empty()) {
    out +=
        "<p>The site has no sitemap that could be read (no Sitemap line in robots.txt "
        "and no /sitemap.xml).</p>\n";
    return;
  }
  out += "<p>Addresses in the site's own sitemaps that no crawled page links to. " +
         Number(found.files.size()) + " sitemap files read";
  if (found.filesFailed != 0) out += ", " + Number(found.filesFailed) + " could not be read";
  if (found.filesSkipped != 0) out += ", " + Number(found.filesSkipped) + " past the limits";
  out += "; they list " + Number(found.urlsListed) + " addresses.</p>\n<ul>\n";
  for (const std::string& file : found.files) out += "<li>" + Link(file) + "</li>\n";
  out += "</ul>\n";
  std::vector<std::vector<Cell>> rows;
  for (const std::string& url : found.orphans) rows.push_back({UrlCell(url)});
  Table(out, {"Address"}, rows, found.orphanCount - found.orphans.size(),
        "No orphans: the crawl reached every address the sitemaps list.");
}

void TopSection(std::string& out, const char* id, const char* title, const TopPages& top,
                const char* unit) {
  Heading(out, id, title);
  std::vector<std::vector<Cell>> rows;
  for (const auto& [value, url] : top.rows()) {
    rows.push_back({UrlCell(url), {Number(value) + " " + unit, "num"}});
  }
  Table(out, {"Page", unit}, rows, 0, "No pages.");
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string BarChartSvg(const std::vector<ChartBar>& bars) {
  uint64_t most = 1;
  for (const ChartBar& bar : bars) most = std::max(most, bar.count);
  const int height = static_cast<int>(bars.size()) * kChartRowHeight + 8;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                    std::to_string(kChartWidth) + " " + std::to_string(height) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">";
  int y = 4;
  for (const ChartBar& bar : bars) {
    const int width =
        bar.count == 0 ? 0 : std::max<int>(1, static_cast<int>(bar.count * kChartBarWidth / most));
    const std::string middle = std::to_string(y + kChartRowHeight / 2 + 4);
    svg += "<text x=\"" + std::to_string(kChartLabelWidth - 6) + "\" y=\"" + middle +
           "\" text-anchor=\"end\" fill=\"#1d2330\">" + HtmlEscape(bar.label) + "</text>";
    svg += "<rect x=\"" + std::to_string(kChartLabelWidth) + "\" y=\"" + std::to_string(y + 3) +
           "\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(kChartRowHeight - 6) + "\" fill=\"#3b6fb6\"/>";
    svg += "<text x=\"" + std::to_string(kChartLabelWidth + width + 4) + "\" y=\"" + middle +
           "\" fill=\"#1d2330\">" + std::to_string(bar.count) + "</text>";
    y += kChartRowHeight;
  }
  return svg + "</svg>";
}

std::vector<std::string> HistogramLabels(const Histogram& histogram, std::string_view unit) {
  const bool kilobytes = unit == "B";
  const std::string suffix = kilobytes ? " kB" : " " + std::string(unit);
  auto value = [kilobytes](uint64_t v) { return std::to_string(kilobytes ? v / 1000 : v); };
  const std::vector<uint64_t>& bounds = histogram.bounds();
  std::vector<std::string> labels;
  for (size_t i = 0; i <= bounds.size(); ++i) {
    if (i == 0) {
      labels.push_back("< " + value(bounds[0]) + suffix);
    } else if (i == bounds.size()) {
      labels.push_back(value(bounds[i - 1]) + "+" + suffix);
    } else {
      labels.push_back(value(bounds[i - 1]) + "-" + value(bounds[i]) + suffix);
    }
  }
  return labels;
}

std::string ReportHtml(const CrawlReport& report, const ReportRun& run) {
  const ReportFacts& facts = report.facts();
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Crawl report: " +
      HtmlEscape(run.siteUrl) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n" +
      "<div class=\"page\">\n<h1>Crawl report</h1>\n<p class=\"meta\">" + Link(run.siteUrl) +
      "</p>\n<p class=\"meta\">" + HtmlEscape(run.dateText) + ", " +
      DurationText(report.durationMs()) + "; every URL tried is in <a href=\"pages.csv\">" +
      "pages.csv</a> (" + Number(facts.csvRows) + " rows)</p>\n";
  out +=
      "<p class=\"toc\"><a href=\"#run\">The run</a><a href=\"#charts\">At a glance</a>"
      "<a href=\"#broken\">Broken links</a><a href=\"#redirects\">Redirects</a>"
      "<a href=\"#sitemap\">sitemap.xml</a><a href=\"#checks\">Page checks</a>"
      "<a href=\"#orphans\">Orphans</a><a href=\"#slowest\">Slowest</a>"
      "<a href=\"#largest\">Largest</a></p>\n";
  RunSection(out, report, run);
  ChartsSection(out, facts);
  BrokenSection(out, facts);
  RedirectSection(out, facts);
  SitemapSection(out, facts);
  ChecksSection(out, facts);
  OrphanSection(out, facts);
  TopSection(out, "slowest", "The 20 slowest pages", facts.slowest, "ms");
  TopSection(out, "largest", "The 20 largest pages", facts.largest, "bytes");
  out += "<p class=\"meta\">Made by Tollwick.</p>\n</div>\n</body>\n</html>\n";
  return out;
}

}  // namespace tollwick
