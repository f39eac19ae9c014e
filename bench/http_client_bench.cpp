// The HTTP client against nginx on loopback, each figure beside curl's in the same run:
//  - FetchBytes of 1,000 small pages through one pool (requests per second), against one curl
//    process fetching the same 1,000 URLs with "Connection: close";
//  - one 50 MB body through FetchBytes into memory (bytes per second), against curl -o /dev/null.
// nginx is started here on a free port over a folder of generated pages, gzip off so both
// clients receive the same bytes. Run the Release build: build-<name>-rel/bench/http_client_bench
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "http/http_conn_pool.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/request_driver.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSmallPages = 1000;
constexpr size_t kLargeBody = 50u << 20;
constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kCurl = "/usr/bin/curl";

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool PortUp(int port) {
  for (int i = 0; i < 500; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

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
    port_ = FreePort();
    const std::string prefix = dir_.string() + "/";
    std::ofstream(prefix + "nginx.conf")
        << (geteuid() == 0 ? "user root root;\n" : "") << "worker_processes 1;\n"
        << "error_log " << prefix << "error.log warn;\npid " << prefix << "nginx.pid;\n"
        << "events { worker_connections 1024; }\nhttp {\n  include /etc/nginx/mime.types;\n"
        << "  access_log off;\n  client_body_temp_path " << prefix << "body;\n"
        << "  proxy_temp_path " << prefix << "proxy;\n  fastcgi_temp_path " << prefix
        << "fastcgi;\n  uwsgi_temp_path " << prefix << "uwsgi;\n  scgi_temp_path " << prefix
        << "scgi;\n  keepalive_requests 100000;\n  gzip off;\n  server {\n    listen 127.0.0.1:"
        << port_ << ";\n    root " << prefix << "root;\n  }\n}\n";
    pid_ = fork();
    if (pid_ == 0) {
      execl(kNginx, kNginx, "-p", prefix.c_str(), "-c", (prefix + "nginx.conf").c_str(), "-g",
            "daemon off;", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!PortUp(port_)) {
      std::fprintf(stderr, "nginx did not start\n");
      std::exit(1);
    }
  }
  ~Site() {
    if (pid_ > 0) {
      kill(pid_, SIGQUIT);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }

 private:
  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
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
  for (auto _ : state) {
    quillon::DataBuffer body;
    if (!quillon::FetchBytes(pool, url.c_str(), settings, body, result, log, nullptr) ||
        body.length() != kLargeBody) {
      state.SkipWithError("fetch failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}
BENCHMARK(BM_FetchBytesLargeBody)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

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
