// The HTTP client against nginx on loopback, each figure beside curl's in the same run:
//  - FetchBytes of 1,000 small pages through one pool (requests per second), against one curl
//    process fetching the same 1,000 URLs with "Connection: close";
//  - one 50 MB body through FetchBytes into memory (bytes per second), against curl -o /dev/null.
// nginx is started here on a free port over a folder of generated pages, gzip off so both
// clients receive the same bytes. Run the Release build: build-<name>-rel/bench/http_client_bench
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "http/http_conn_pool.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/request_driver.h"
#include "tests/support/nginx_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSmallPages = 1000;
constexpr size_t kLargeBody = 50u << 20;
constexpr const char* kCurl = "/usr/bin/curl";

// The page name built step by step: GCC 12 warns falsely (-Wrestrict) on "p" + to_string(i).
std::string PageName(int i) {
  std::string name = "p";
  name += std::to_string(i);
  name += ".html";
  return name;
}

// nginx over a generated folder, for the whole program.
class Site {
 public:
  Site() {
    dir_ = fs::temp_directory_path() / ("http_client_bench." + std::to_string(getpid()));
    fs::create_directories(dir_ / "root");
    for (int i = 0; i < kSmallPages; ++i) {
      std::ofstream page(dir_ / "root" / PageName(i));
      page << "<html><head><title>Page " << i << "</title></head><body>";
      for (int j = 0; j < 12; ++j) page << "<p>Line " << j << " of a small page.</p>";
      page << "</body></html>\n";
    }
    {
      std::ofstream big(dir_ / "root" / "big.bin", std::ios::binary);
      std::string block(1 << 20, 'b');
      for (size_t done = 0; done < kLargeBody; done += block.size()) big << block;
    }
    // nginx keeps its files in $TMPDIR; ours, so they go with the folder.
    setenv("TMPDIR", dir_.c_str(), 1);
    quillon::testing::NginxOptions options;
    options.gzip = false;
    options.extraServerConfig = "    access_log off;";
    nginx_ = std::make_unique<quillon::testing::NginxServer>((dir_ / "root").string(), options);
    if (!nginx_->isRunning()) {
      std::fprintf(stderr, "%s\n", nginx_->error().c_str());
      std::exit(1);
    }
  }
  ~Site() {
    nginx_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string url(const std::string& path) const { return nginx_->baseUrl() + "/" + path; }

 private:
  fs::path dir_;
  std::unique_ptr<quillon::testing::NginxServer> nginx_;
};

Site& TheSite() {
  static Site site;
  return site;
}

std::vector<std::string> SmallUrls() {
  std::vector<std::string> urls;
  for (int i = 0; i < kSmallPages; ++i) urls.push_back(TheSite().url(PageName(i)));
  return urls;
}

// Runs curl with args and waits for it; false when it did not exit 0.
bool RunCurl(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kCurl));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execv(kCurl, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_FetchBytesSmallPages(benchmark::State& state) {
  const std::vector<std::string> urls = SmallUrls();
  quillon::HttpControl settings;
  quillon::HttpConnPool pool;
  quillon::HttpResult result;
  quillon::LogNull log;
  quillon::DataBuffer body;
  for (auto _ : state) {
    for (const std::string& url : urls) {
      body.clear();
      if (!quillon::FetchBytes(pool, url.c_str(), settings, body, result, log, nullptr) ||
          result.header.statusCode != 200) {
        state.SkipWithError("fetch failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kSmallPages);
}
BENCHMARK(BM_FetchBytesSmallPages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_CurlSmallPages(benchmark::State& state) {
  std::vector<std::string> args = {"-s", "-H", "Connection: close"};
  for (const std::string& url : SmallUrls()) {
    args.push_back("-o");
    args.push_back("/dev/null");
    args.push_back(url);
  }
  for (auto _ : state) {
    if (!RunCurl(args)) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kSmallPages);
}
BENCHMARK(BM_CurlSmallPages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_FetchBytesLargeBody(benchmark::State& state) {
  const std::string url = TheSite().url("big.bin");
  quillon::HttpControl settings;
  quillon::HttpConnPool pool;
  quillon::HttpResult result;
  quillon::LogNull log;
  // Argument 1: the body goes into the same buffer every time (its memory already mapped, as
  // curl's receive buffer is); 0: into a new buffer each time.
  const bool reuse = state.range(0) == 1;
  quillon::DataBuffer reused;
  for (auto _ : state) {
    quillon::DataBuffer fresh;
    quillon::DataBuffer& body = reuse ? reused : fresh;
    body.clear();
    if (!quillon::FetchBytes(pool, url.c_str(), settings, body, result, log, nullptr) ||
        body.length() != kLargeBody) {
      state.SkipWithError("fetch failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}
BENCHMARK(BM_FetchBytesLargeBody)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_CurlLargeBody(benchmark::State& state) {
  const std::vector<std::string> args = {"-s", "-o", "/dev/null", TheSite().url("big.bin")};
  for (auto _ : state) {
    if (!RunCurl(args)) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}
BENCHMARK(BM_CurlLargeBody)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
