// The two cache stores on their own, per page of about 8 KB of HTML (pages per second):
//  - ClsCache2: CacheUpdate of a 200 response, and the fresh CacheLookup that answers a re-crawl;
//  - HttpCache: the same through bzip2-compressed container records.
// A warm re-crawl costs one fresh lookup per page instead of one request; compare the lookup
// figures with http_client_bench's FetchBytesSmallPages in the same run. Run the Release build.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/log_base.h"
#include "http/cache_rules.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/output.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 500;

std::string PageBody(int i) {
  std::string html = "<html><head><title>Page " + std::to_string(i) + "</title></head><body>";
  while (html.size() < 8000) {
    html += "<p>Section " + std::to_string(html.size()) + " of page " + std::to_string(i) +
            ": <a href=\"/s/" + std::to_string(html.size() % 97) + ".html\">more</a></p>\r\n";
  }
  return html + "</body></html>";
}

// A cache folder with kPages pages, removed afterwards.
class CacheFolder {
 public:
  explicit CacheFolder(bool httpCache) {
    dir_ = fs::temp_directory_path() / ("http_cache_bench." + std::to_string(getpid()));
    fs::remove_all(dir_);
    settings.useHttpCache = httpCache;
    settings.cache.AddRoot(dir_.c_str());
    settings.httpCache.AddRoot(dir_.c_str());
    result.header.parse(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nLast-Modified: Mon, 01 Jan 2024 "
        "00:00:00 GMT\r\nETag: \"abc\"\r\n\r\n");
    for (int i = 0; i < kPages; ++i) {
      urls.push_back("http://127.0.0.1:8080/page" + std::to_string(i) + ".html");
      bodies.push_back(PageBody(i));
    }
  }
  ~CacheFolder() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void storeAll() {
    for (int i = 0; i < kPages; ++i)
      quillon::CacheUpdate(settings, urls[i].c_str(), result, bodies[i], log);
  }

  quillon::HttpControl settings;
  quillon::HttpResult result;
  quillon::LogNull log;
  std::vector<std::string> urls;
  std::vector<std::string> bodies;

 private:
  fs::path dir_;
};

void Update(benchmark::State& state, bool httpCache) {
  CacheFolder folder(httpCache);
  for (auto _ : state) folder.storeAll();
  state.SetItemsProcessed(state.iterations() * kPages);
}

void Lookup(benchmark::State& state, bool httpCache) {
  CacheFolder folder(httpCache);
  folder.storeAll();
  quillon::DataBuffer body;
  for (auto _ : state) {
    for (const std::string& url : folder.urls) {
      body.clear();
      quillon::OutputDataBuffer sink(body);
      quillon::HttpResult result;
      quillon::CacheLookupOutcome outcome;
      if (!quillon::CacheLookup(folder.settings, url.c_str(), sink, result, outcome, folder.log)) {
        state.SkipWithError("cache miss");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}

void BM_ClsCache2Update(benchmark::State& state) { Update(state, false); }
void BM_ClsCache2FreshLookup(benchmark::State& state) { Lookup(state, false); }
void BM_HttpCacheUpdate(benchmark::State& state) { Update(state, true); }
void BM_HttpCacheLookup(benchmark::State& state) { Lookup(state, true); }
BENCHMARK(BM_ClsCache2Update)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClsCache2FreshLookup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HttpCacheUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HttpCacheLookup)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
