// Reading a page: FindNoCase over a real 290 KB page for patterns it does not hold, the four
// getters the sitemap needs per page (title, description, keywords, charset), and hostile pages
// that must stay linear ("<meta " repeated, and meta elements whose quotes hide every ">").
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/html_help.h"
#include "base/parse_engine.h"

namespace {

using quillon::HtmlHelp;
using quillon::StringBuffer;

std::string SourceDir() {
  if (const char* dir = std::getenv("QUILLON_SOURCE_DIR")) return dir;
  std::string file = __FILE__;  // <source>/bench/page_reading_bench.cpp
  return file.substr(0, file.rfind("/bench/"));
}

const std::string& RealPage() {
  static const std::string page = [] {
    std::ifstream in(SourceDir() + "/tests/data/pages/debian-reference-en_ch01.en.html",
                     std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }();
  return page;
}

bool HavePage(benchmark::State& state) {
  if (!RealPage().empty()) return true;
  state.SkipWithError("test page not found: set QUILLON_SOURCE_DIR");
  return false;
}

void FindAbsent(benchmark::State& state, const char* pattern) {
  if (!HavePage(state)) return;
  const std::string& page = RealPage();
  for (auto _ : state) benchmark::DoNotOptimize(quillon::FindNoCase(page, pattern));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
// A tag-shaped pattern whose first and last bytes ("<", ">") are everywhere in HTML.
void BM_FindNoCaseAbsentTag(benchmark::State& state) { FindAbsent(state, "<frameset>"); }
BENCHMARK(BM_FindNoCaseAbsentTag);
// The meta readers' own search.
void BM_FindNoCaseAbsentMetaStart(benchmark::State& state) {
  FindAbsent(state, "<meta name=\"robots\"");
}
BENCHMARK(BM_FindNoCaseAbsentMetaStart);
void BM_FindNoCaseAbsentWord(benchmark::State& state) { FindAbsent(state, "quillon"); }
BENCHMARK(BM_FindNoCaseAbsentWord);

void BM_GetTitle(benchmark::State& state) {
  if (!HavePage(state)) return;
  StringBuffer out;
  for (auto _ : state) HtmlHelp::GetTitle(RealPage(), out);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RealPage().size()));
}
BENCHMARK(BM_GetTitle);

void BM_GetMetaDescription(benchmark::State& state) {
  if (!HavePage(state)) return;
  StringBuffer out;
  for (auto _ : state) HtmlHelp::GetMetaContent(RealPage(), "description", out);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RealPage().size()));
}
BENCHMARK(BM_GetMetaDescription);

void BM_GetMetaKeywords(benchmark::State& state) {
  if (!HavePage(state)) return;
  StringBuffer out;
  for (auto _ : state) HtmlHelp::GetMetaContent(RealPage(), "keywords", out);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RealPage().size()));
}
BENCHMARK(BM_GetMetaKeywords);

void BM_GetMetaCharset(benchmark::State& state) {
  if (!HavePage(state)) return;
  StringBuffer out;
  for (auto _ : state) {
    out.clear();
    HtmlHelp::GetMetaCharset(RealPage(), out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RealPage().size()));
}
BENCHMARK(BM_GetMetaCharset);

// What one crawled page costs: the page counted once for the four readers together.
void BM_FourReadersTogether(benchmark::State& state) {
  if (!HavePage(state)) return;
  StringBuffer title, description, keywords, charset;
  for (auto _ : state) {
    HtmlHelp::GetTitle(RealPage(), title);
    HtmlHelp::GetMetaContent(RealPage(), "description", description);
    HtmlHelp::GetMetaContent(RealPage(), "keywords", keywords);
    charset.clear();
    HtmlHelp::GetMetaCharset(RealPage(), charset);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RealPage().size()));
}
BENCHMARK(BM_FourReadersTogether);

std::string Repeated(const std::string& piece, size_t size) {
  std::string page;
  while (page.size() < size) page += piece;
  return page;
}

// 1 MB of "<meta " and no ">": all four readers.
void BM_MegabyteOfMetaOpenings(benchmark::State& state) {
  const std::string page = Repeated("<meta ", 1 << 20);
  StringBuffer out;
  for (auto _ : state) {
    HtmlHelp::GetTitle(page, out);
    HtmlHelp::GetMetaContent(page, "description", out);
    HtmlHelp::GetMetaContent(page, "keywords", out);
    HtmlHelp::GetMetaCharset(page, out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_MegabyteOfMetaOpenings)->Unit(benchmark::kMillisecond);

// N elements "<meta '>'" and a lone quote at the end: from every element each later ">" is
// inside quotes, so a quoted copy from each element runs to the end of the page.
std::string QuoteMaze(int64_t elements) {
  std::string page;
  for (int64_t i = 0; i < elements; ++i) page += "<meta '>'";
  return page + "'";
}

void BM_QuoteMazeGetMetaContent(benchmark::State& state) {
  const std::string page = QuoteMaze(state.range(0));
  StringBuffer out;
  for (auto _ : state) HtmlHelp::GetMetaContent(page, "description", out);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_QuoteMazeGetMetaContent)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Unit(benchmark::kMillisecond);

// The same elements walked one by one with copy until quoted, without the tag clean-up.
void BM_QuoteMazePlainWalk(benchmark::State& state) {
  const std::string page = QuoteMaze(state.range(0));
  quillon::ParseEngine engine;
  StringBuffer tag;
  for (auto _ : state) {
    engine.load(page);
    while (engine.seek("<meta")) {
      tag.clear();
      engine.copyUntilQuoted('>', tag);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_QuoteMazePlainWalk)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 14)
    ->Unit(benchmark::kMillisecond);

}  // namespace
