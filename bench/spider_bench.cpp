// Crawl engine costs without the network: memory per queued URL (queue plus seen set) for a
// million synthetic URLs, link extraction throughput on a large page, and robots questions
// against a large rule list.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <string>

#include "base/ext_ptr_array.h"
#include "spider/cls_spider.h"

namespace quillon {
namespace {

// Small blocks and the mmapped large ones (bucket and queue arrays) alike.
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

std::string SyntheticUrl(int i) {
  char url[128];
  std::snprintf(url, sizeof url, "http://www.site.example/section%d/page-%07d.html?id=%d", i % 97,
                i, i);
  return url;
}

void BM_MemoryPerQueuedUrl(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    ClsSpider spider;
    spider.BeginSite("site.example");
    size_t before = HeapInUse();
    for (int i = 0; i < count; ++i) spider.QueueUrl(SyntheticUrl(i).c_str());
    size_t after = HeapInUse();
    state.counters["urls"] = spider.unspideredCount();
    state.counters["bytes_per_url"] = static_cast<double>(after - before) / count;
    state.counters["url_length"] = static_cast<double>(SyntheticUrl(count / 2).size());
    state.counters["heap_MB"] = static_cast<double>(after - before) / (1024.0 * 1024.0);
  }
}
// Three sizes: the time per URL stays flat when queueing is linear.
BENCHMARK(BM_MemoryPerQueuedUrl)
    ->Arg(250000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A 300 KB page: text, relative and absolute anchors, repeated links, references in hrefs.
std::string LargePage() {
  std::string page = "<html><head><title>Large</title></head><body>\n";
  for (int i = 0; page.size() < 300000; ++i) {
    page += "<p>Some paragraph text number " + std::to_string(i) +
            " with <b>markup</b> and words.</p>\n<a href=\"/dir" + std::to_string(i % 40) +
            "/page" + std::to_string(i) + ".html?a=1&amp;b=2\" class=\"link\">Page " +
            std::to_string(i) + "</a>\n<A HREF=http://other.example/x" + std::to_string(i % 7) +
            ">x</A>\n";
  }
  return page + "</body></html>";
}

// Runs ExtractLinks over page once per iteration.
void ExtractLinksOf(const std::string& page, benchmark::State& state) {
  ClsSpider spider;
  for (auto _ : state) {
    OwningPtrArray links;
    spider.ExtractLinks(page, links);
    benchmark::DoNotOptimize(links.count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}

void BM_ExtractLinks(benchmark::State& state) {
  std::string page = LargePage();
  ExtractLinksOf(page, state);
}
BENCHMARK(BM_ExtractLinks)->Unit(benchmark::kMillisecond);

// ExtractLinks on the pathological page: 27,000 anchors without "</a>" in about 300 KB.
void BM_ExtractLinksWithoutClosingTags(benchmark::State& state) {
  std::string page;
  for (int i = 0; page.size() < 300000; ++i) page += "<a href=" + std::to_string(i) + ">";
  ExtractLinksOf(page, state);
}
BENCHMARK(BM_ExtractLinksWithoutClosingTags)->Unit(benchmark::kMillisecond);

// ExtractLinks on 295 KB of "<a '>'": every ">" of the page sits inside quotes, so the search
// for the end of each anchor's tag finds none and falls back to the first ">".
void BM_ExtractLinksQuoteHiddenTagEnds(benchmark::State& state) {
  std::string page;
  while (page.size() < 295000) page += "<a '>'";
  ExtractLinksOf(page, state);
}
BENCHMARK(BM_ExtractLinksQuoteHiddenTagEnds)->Unit(benchmark::kMillisecond);

// ProcessPage of the large page into an engine that has seen nothing: resolution, filtering,
// seen set and queueing (robots off: no network).
void BM_ProcessPage(benchmark::State& state) {
  std::string page = LargePage();
  for (auto _ : state) {
    ClsSpider spider;
    spider.setObeyRobots(false);
    spider.BeginSite("site.example");
    spider.ProcessPage("http://site.example/index.html", page, nullptr);
    benchmark::DoNotOptimize(spider.unspideredCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ProcessPage)->Unit(benchmark::kMillisecond);

void BM_RobotsQuestionLargeFile(benchmark::State& state) {
  std::string robots = "User-agent: *\n";
  for (int n = 0; robots.size() < 299000; ++n) {
    robots += "Disallow: /folder" + std::to_string(n) + "/\n";
  }
  RobotsRules rules;
  rules.parse(robots, "Quillon");
  StringBuffer path;
  RobotsPathOf("http://site.example/Other/Page.html", path);
  for (auto _ : state) benchmark::DoNotOptimize(rules.disallows(path.view()));
  state.counters["rules"] = rules.count();
}
BENCHMARK(BM_RobotsQuestionLargeFile);

}  // namespace
}  // namespace quillon
