// A real nginx serving a folder on a free loopback port, for end-to-end tests. The server runs
// in the foreground as a child of the test and is stopped with the object.
#pragma once

#include <sys/types.h>

#include <string>

namespace quillon::testing {

struct NginxOptions {
  bool gzip = true;             // gzip on for text types (answers are then chunked)
  std::string extraServerConfig;  // lines added inside the server block
  // When both are set the server speaks HTTPS with this certificate and key (PEM files).
  std::string sslCertificate;
  std::string sslCertificateKey;
};

class NginxServer {
 public:
  // Starts nginx serving root; isRunning() tells whether it came up (nginx may be missing).
  explicit NginxServer(const std::string& root, const NginxOptions& options = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool isRunning() const { return pid_ > 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" ("https://..." for an HTTPS server)
  std::string baseUrl() const;
  // The access log: one line per request, "<connection number> <status> "<request line>"".
  std::string accessLogPath() const { return prefix_ + "access.log"; }
  // Why it did not start, for GTEST_SKIP messages.
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  bool ssl_ = false;
  int port_ = 0;
  std::string prefix_;
  std::string error_;
};

// A free TCP port on 127.0.0.1 (bound and released; good enough for tests).
int FreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:port, waiting at most timeoutMs.
bool WaitForPort(int port, int timeoutMs);

}  // namespace quillon::testing
