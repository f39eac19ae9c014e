// A real nginx serving a folder on a free loopback port, for end-to-end tests. The server runs
// in the foreground as a child of the test and is stopped with the object.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quillon::testing {

struct NginxOptions {
  bool gzip = true;             // gzip on for text types (answers are then chunked)
  std::string extraServerConfig;  // lines added inside the server block
  // When both are set the server speaks HTTPS with this certificate and key (PEM files).
  std::string sslCertificate;
  std::string sslCertificateKey;
  // Further server blocks over the same root, each on a port of its own (port(1), baseUrl(1),
  // ...); only their TLS and extra lines count.
  std::vector<NginxOptions> moreServers;
};

class NginxServer {
 public:
  // Starts one nginx serving root from every server block; isRunning() tells whether it came up
  // (nginx may be missing).
  explicit NginxServer(const std::string& root, const NginxOptions& options = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool isRunning() const { return pid_ > 0; }
  // The port of server block n (0: the first, then moreServers in order).
  int port(size_t n = 0) const { return ports_.at(n); }
  // "http://127.0.0.1:<port>" ("https://..." for an HTTPS server block)
  std::string baseUrl(size_t n = 0) const;
  // The access log: one line per request, "<connection number> <status> "<request line>"".
  std::string accessLogPath() const { return prefix_ + "access.log"; }
  // Why it did not start, for GTEST_SKIP messages.
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  std::vector<bool> ssl_;
  std::vector<int> ports_;
  std::string prefix_;
  std::string error_;
};

// A free TCP port on 127.0.0.1 (bound and released; good enough for tests).
int FreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:port, waiting at most timeoutMs.
bool WaitForPort(int port, int timeoutMs);

}  // namespace quillon::testing
