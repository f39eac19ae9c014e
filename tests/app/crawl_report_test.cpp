// The crawl report's tricky parts: CSV quoting, the scratch file of rows across its blocks,
// capped tables, histogram buckets and the top pages, and what the page shows of them.
#include "app/crawl_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/report_html.h"
#include "tests/app/fake_page_source.h"
#include "tests/support/test_support.h"

namespace tollwick {
namespace {

TEST(PagesCsvTest, FieldsAreQuotedOnlyWhenRfc4180NeedsIt) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"line\nbreak", "\"line\nbreak\""},
      {" padded", "\" padded\""},
      {"café; naïve", "café; naïve"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << c.in;
}

TEST(PagesCsvTest, SpooledRowsComeBackWholeInOrderAcrossBlocks) {
  const std::string path = quillon::testing::FreshDir("spool") + "/rows";
  PageSpool spool;
  std::string error;
  ASSERT_TRUE(spool.Open(path, error)) << error;
  // Titles holding the spool's own separator and digits, long enough to cross 1 MB blocks.
  const int kRows = 3000;
  for (int i = 0; i < kRows; ++i) {
    PageRow row;
    row.url = "http://h/" + std::to_string(i);
    row.status = 200 + i % 3;
    row.title = std::to_string(i) + ":" + std::string(static_cast<size_t>(i % 700), 't');
    row.description = i % 2 ? "12:34\r\n" : "";
    row.bytes = 1ull << 40;
    row.inSitemap = i % 5 == 0;
    ASSERT_TRUE(spool.Add(row));
  }
  int seen = 0;
  ASSERT_TRUE(spool.Replay([&](PageRow& row) {
    const int i = seen++;
    EXPECT_EQ(row.url, "http://h/" + std::to_string(i));
    EXPECT_EQ(row.status, 200 + i % 3);
    EXPECT_EQ(row.title.size(), std::to_string(i).size() + 1 + static_cast<size_t>(i % 700));
    EXPECT_EQ(row.description, i % 2 ? "12:34\r\n" : "");
    EXPECT_EQ(row.bytes, 1ull << 40);
    EXPECT_EQ(row.inSitemap, i % 5 == 0);
  })) << spool.error();
  EXPECT_EQ(seen, kRows);
}

TEST(CrawlReportTest, HistogramsTopPagesAndCharactersCountAsShown) {
  Histogram ms({50, 100});
  for (uint64_t value : {0, 49, 50, 99, 100, 5000}) ms.Add(value);
  EXPECT_EQ(ms.counts(), (std::vector<uint64_t>{2, 2, 2}));
  EXPECT_EQ(HistogramLabels(ms, "ms"),
            (std::vector<std::string>{"< 50 ms", "50-100 ms", "100+ ms"}));
  EXPECT_EQ(HistogramLabels(Histogram({5000}), "B"), (std::vector<std::string>{"< 5 kB", "5+ kB"}));

  TopPages top(3);
  for (uint64_t value : {5, 9, 1, 9, 7, 2}) top.Add(value, "p" + std::to_string(value));
  std::vector<uint64_t> values;
  for (const auto& row : top.rows()) values.push_back(row.first);
  EXPECT_EQ(values, (std::vector<uint64_t>{9, 9, 7}));

  EXPECT_EQ(CharacterCount("Grüße"), 5u);
  EXPECT_EQ(StatusClassOf(404), StatusClass::k4xx);
  EXPECT_EQ(StatusClassOf(0), StatusClass::kNone);
}

TEST(CrawlReportTest, TablesKeepAThousandRowsAndTheReportCountsTheRest) {
  testing::FakeScript script;
  testing::FakePageSource source(script);
  CrawlReport report;
  std::string error;
  const std::string folder = quillon::testing::FreshDir("report");
  ASSERT_TRUE(report.Begin(folder, error)) << error;
  const size_t kBroken = kReportRowLimit + 3;
  for (size_t i = 0; i < kBroken; ++i) {
    report.AddLeftOut(source,
                      {"http://h/<" + std::to_string(i) + ">", "HTTP 404 Not Found", false, 404});
  }
  ASSERT_TRUE(report.CrawlEnded(source, false, error)) << error;
  EXPECT_EQ(report.facts().broken.rows().size(), kReportRowLimit);
  EXPECT_EQ(report.facts().broken.total(), kBroken);

  ReportRun run;
  run.siteUrl = "http://h/?a=1&b=<2>";
  const std::string html = ReportHtml(report, run);
  EXPECT_NE(html.find("Broken links (1,003)"), std::string::npos);
  EXPECT_NE(html.find("and 3 more"), std::string::npos);
  EXPECT_NE(html.find("id=\"count-failed\">1003<"), std::string::npos);
  EXPECT_NE(html.find("http://h/?a=1&amp;b=&lt;2&gt;"), std::string::npos);
  EXPECT_EQ(html.find("<2>"), std::string::npos);
  // pages.csv has them all, and the scratch file of the rows is gone.
  const std::string csv = quillon::testing::ReadFileBytes(folder + "/pages.csv");
  EXPECT_EQ(static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')), kBroken + 1);
  auto files = std::filesystem::directory_iterator(folder);
  EXPECT_EQ(std::distance(begin(files), end(files)), 1);
}

}  // namespace
}  // namespace tollwick
