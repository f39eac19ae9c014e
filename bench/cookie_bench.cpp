// Storing the cookies of one response head of 3,000 Set-Cookie lines (distinct names, new values
// each time, so that every head changes the document; the store keeps kMaxCookiesPerDomain of
// them): SaveResponseCookies into a cookie folder and into the memory table, and for comparison
// SaveCookie once per line, as a store that writes per line would. The counters give the write
// calls and bytes per head from /proc/self/io: one file write per head, not one per line. Run
// the Release build from a folder on the disk the cookies would live on (TMPDIR).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/log_base.h"
#include "http/cookie_mgr.h"
#include "http/http_control.h"
#include "http/http_result.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLines = 3000;

// The head of a response setting kLines cookies with values of round.
std::string Head(int64_t round) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < kLines; ++i) {
    head += "Set-Cookie: session_part_" + std::to_string(i) + "=" + std::to_string(round) +
            "; path=/\r\n";
  }
  return head + "\r\n";
}

// This process's write calls and bytes written so far ("syscw" and "wchar" of /proc/self/io).
struct WriteCounts {
  int64_t calls = 0;
  int64_t bytes = 0;
};

WriteCounts ReadWriteCounts() {
  std::ifstream io("/proc/self/io");
  WriteCounts counts;
  std::string name;
  int64_t value = 0;
  while (io >> name >> value) {
    if (name == "syscw:") counts.calls = value;
    if (name == "wchar:") counts.bytes = value;
  }
  return counts;
}

// A fresh cookie folder in TMPDIR, removed afterwards; "memory" for the table.
class CookieStore {
 public:
  explicit CookieStore(bool memory) {
    dir_ = fs::temp_directory_path() / ("cookie_bench." + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    settings.cookieDir.assign(memory ? "memory" : dir_.c_str());
  }
  ~CookieStore() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  quillon::HttpControl settings;
  quillon::LogNull log;

 private:
  fs::path dir_;
};

void ReportWrites(benchmark::State& state, const WriteCounts& before) {
  const WriteCounts after = ReadWriteCounts();
  const double heads = static_cast<double>(state.iterations());
  state.counters["writes_per_head"] = static_cast<double>(after.calls - before.calls) / heads;
  state.counters["bytes_per_head"] = static_cast<double>(after.bytes - before.bytes) / heads;
  state.SetItemsProcessed(state.iterations() * kLines);
}

void SaveOneHead(benchmark::State& state, bool memory) {
  CookieStore store(memory);
  int64_t round = 0;
  const WriteCounts before = ReadWriteCounts();
  for (auto _ : state) {
    state.PauseTiming();
    quillon::HttpResult result;
    result.header.parse(Head(++round));
    state.ResumeTiming();
    if (!quillon::SaveResponseCookies(store.settings, result, "shop.acme.test", store.log) ||
        result.warnings.any()) {
      state.SkipWithError("cookies not stored");
      return;
    }
  }
  ReportWrites(state, before);
}

void SaveLineByLine(benchmark::State& state) {
  CookieStore store(false);
  quillon::HttpResult result;
  result.header.parse(Head(1));
  quillon::OwningPtrArray cookies;
  quillon::ParseSetCookies(result.header, ".acme.test", cookies);
  const WriteCounts before = ReadWriteCounts();
  for (auto _ : state) {
    for (int i = 0; i < cookies.count(); ++i) {
      quillon::SaveCookie(store.settings.cookieDir, store.settings.memoryCookies,
                          "shop.acme.test", *cookies.at<quillon::Cookie>(i), store.log);
    }
  }
  ReportWrites(state, before);
}

BENCHMARK_CAPTURE(SaveOneHead, Folder, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SaveOneHead, Memory, true)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveLineByLine)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
