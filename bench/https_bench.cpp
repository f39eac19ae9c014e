// HTTPS throughput against nginx on loopback, beside curl in the same run (same OpenSSL): one
// 50 MB body through FetchBytes into memory against curl -o /dev/null, both trusting the
// server's self-signed certificate (ours through the trust file, curl through --cacert), gzip off.
// The certificate is made with the openssl command. Run the Release build:
// build-<name>-rel/bench/https_bench
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
#include "net/certificate.h"

namespace {

namespace fs = std::filesystem;

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

constexpr const char* kOpenssl = "/usr/bin/openssl";

// Runs program with args and waits for it; false when it did not exit 0.
bool Run(const char* program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execv(program, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// nginx with TLS over a folder holding the large body, for the whole program.
class Site {
 public:
  Site() {
    dir_ = fs::temp_directory_path() / ("https_bench." + std::to_string(getpid()));
    fs::create_directories(dir_ / "root");
    {
      std::ofstream big(dir_ / "root" / "big.bin", std::ios::binary);
      std::string block(1 << 20, 'b');
      for (size_t done = 0; done < kLargeBody; done += block.size()) big << block;
    }
    const std::string prefix = dir_.string() + "/";
    cert_ = prefix + "cert.pem";
    const std::string key = prefix + "key.pem";
    if (!Run(kOpenssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-nodes", "-keyout", key, "-out", cert_, "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})) {
      std::fprintf(stderr, "openssl could not make the certificate\n");
      std::exit(1);
    }
    port_ = FreePort();
    std::ofstream(prefix + "nginx.conf")
        << (geteuid() == 0 ? "user root root;\n" : "") << "worker_processes 1;\n"
        << "error_log " << prefix << "error.log warn;\npid " << prefix << "nginx.pid;\n"
        << "events { worker_connections 1024; }\nhttp {\n  include /etc/nginx/mime.types;\n"
        << "  access_log off;\n  client_body_temp_path " << prefix << "body;\n"
        << "  proxy_temp_path " << prefix << "proxy;\n  fastcgi_temp_path " << prefix
        << "fastcgi;\n  uwsgi_temp_path " << prefix << "uwsgi;\n  scgi_temp_path " << prefix
        << "scgi;\n  gzip off;\n  server {\n    listen 127.0.0.1:" << port_ << " ssl;\n"
        << "    ssl_certificate " << cert_ << ";\n    ssl_certificate_key " << key << ";\n"
        << "    ssl_protocols TLSv1.2 TLSv1.3;\n    root " << prefix << "root;\n  }\n}\n";
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
    quillon::SetTrustFile(cert_.c_str());
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
    return "https://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }
  const std::string& certFile() const { return cert_; }

 private:
  fs::path dir_;
  std::string cert_;
  int port_ = 0;
  pid_t pid_ = -1;
};

Site& TheSite() {
  static Site site;
  return site;
}

void BM_HttpsFetchBytesLargeBody(benchmark::State& state) {
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
BENCHMARK(BM_HttpsFetchBytesLargeBody)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_CurlHttpsLargeBody(benchmark::State& state) {
  const std::vector<std::string> args = {"-s", "--cacert", TheSite().certFile(), "-o",
                                         "/dev/null", TheSite().url("big.bin")};
  for (auto _ : state) {
    if (!Run(kCurl, args)) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}
BENCHMARK(BM_CurlHttpsLargeBody)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
