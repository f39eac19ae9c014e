// HTTPS throughput against nginx on loopback, beside curl in the same run (same OpenSSL): one
// 50 MB body through FetchBytes into memory against curl -o /dev/null, both trusting the test CA
// that issued the server's certificate (ours through the trust file, curl through --cacert),
// gzip off. Run the Release build: build-<name>-rel/bench/https_bench
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
#include "net/certificate.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/tls_test_pki.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kLargeBody = 50u << 20;
constexpr const char* kCurl = "/usr/bin/curl";

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
    quillon::testing::TestPki pki(dir_.string() + "/");
    caFile_ = pki.caFile();
    quillon::testing::CertOptions certOptions;
    certOptions.subject = {{"CN", "127.0.0.1"}};
    certOptions.ips = {"127.0.0.1"};
    const quillon::testing::IssuedCert cert = pki.Issue("server", certOptions);
    // nginx keeps its files in $TMPDIR; ours, so they go with the folder.
    setenv("TMPDIR", dir_.c_str(), 1);
    quillon::testing::NginxOptions options;
    options.gzip = false;
    options.extraServerConfig = "    access_log off;";
    options.sslCertificate = cert.certFile;
    options.sslCertificateKey = cert.keyFile;
    nginx_ = std::make_unique<quillon::testing::NginxServer>((dir_ / "root").string(), options);
    if (!nginx_->isRunning()) {
      std::fprintf(stderr, "%s\n", nginx_->error().c_str());
      std::exit(1);
    }
    quillon::SetTrustFile(caFile_.c_str());
  }
  ~Site() {
    nginx_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string url(const std::string& path) const { return nginx_->baseUrl() + "/" + path; }
  const std::string& caFile() const { return caFile_; }

 private:
  fs::path dir_;
  std::string caFile_;
  std::unique_ptr<quillon::testing::NginxServer> nginx_;
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
BENCHMARK(BM_HttpsFetchBytesLargeBody)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_CurlHttpsLargeBody(benchmark::State& state) {
  const std::vector<std::string> args = {"-s", "--cacert", TheSite().caFile(), "-o",
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
