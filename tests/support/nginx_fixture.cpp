#include "tests/support/nginx_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/test_support.h"

namespace quillon::testing {

namespace {

constexpr const char* kNginxBinary = "/usr/sbin/nginx";
constexpr int kStartTimeoutMs = 5000;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool SpeaksTls(const NginxOptions& options) {
  return !options.sslCertificate.empty() && !options.sslCertificateKey.empty();
}

// The first server block and its moreServers, in port order.
std::vector<const NginxOptions*> ServerBlocks(const NginxOptions& options) {
  std::vector<const NginxOptions*> blocks{&options};
  for (const NginxOptions& more : options.moreServers) blocks.push_back(&more);
  return blocks;
}

std::string ServerBlock(const std::string& root, int port, const NginxOptions& options) {
  const bool ssl = SpeaksTls(options);
  std::string config = "  server {\n    listen 127.0.0.1:" + std::to_string(port) +
                       (ssl ? " ssl" : "") + ";\n    root " + root + ";\n";
  if (ssl) {
    config += "    ssl_certificate " + options.sslCertificate + ";\n    ssl_certificate_key " +
              options.sslCertificateKey + ";\n    ssl_protocols TLSv1.2 TLSv1.3;\n";
  }
  return config + options.extraServerConfig + "\n  }\n";
}

std::string Config(const std::string& prefix, const std::string& root,
                   const std::vector<int>& ports, const NginxOptions& options) {
  std::string config;
  if (geteuid() == 0) config += "user root root;\n";
  config += "worker_processes 1;\nerror_log " + prefix + "error.log warn;\npid " + prefix +
            "nginx.pid;\nevents { worker_connections 256; }\nhttp {\n"
            "  include /etc/nginx/mime.types;\n  default_type application/octet-stream;\n"
            // Each line names the connection that carried the request, so tests count them.
            "  log_format withconnection '$connection $status \"$request\"';\n"
            "  access_log " + prefix + "access.log withconnection;\n"
            "  client_body_temp_path " + prefix + "body;\n  proxy_temp_path " + prefix + "proxy;\n"
            "  fastcgi_temp_path " + prefix + "fastcgi;\n  uwsgi_temp_path " + prefix + "uwsgi;\n"
            "  scgi_temp_path " + prefix + "scgi;\n  keepalive_requests 100000;\n";
  if (options.gzip) {
    config += "  gzip on;\n  gzip_min_length 20;\n  gzip_types text/plain text/css text/xml "
              "application/xml application/javascript;\n";
  }
  std::vector<const NginxOptions*> blocks = ServerBlocks(options);
  for (size_t i = 0; i < blocks.size(); ++i) config += ServerBlock(root, ports[i], *blocks[i]);
  return config + "}\n";
}

bool AllPortsUp(const std::vector<int>& ports) {
  for (int port : ports) {
    if (!WaitForPort(port, kStartTimeoutMs)) return false;
  }
  return true;
}

}  // namespace

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool WaitForPort(int port, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

NginxServer::NginxServer(const std::string& root, const NginxOptions& options) {
  for (const NginxOptions* block : ServerBlocks(options)) ssl_.push_back(SpeaksTls(*block));
  if (access(kNginxBinary, X_OK) != 0) {
    error_ = "nginx is not installed (tools/install-deps.sh installs nginx-light)";
    return;
  }
  // A few tries: the free port may be taken between choosing and binding it.
  for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
    ports_.clear();
    for (size_t i = 0; i < ssl_.size(); ++i) ports_.push_back(FreeLoopbackPort());
    std::string prefix = FreshDir("nginx-" + std::to_string(ports_[0]));
    std::ofstream(prefix + "nginx.conf")
        << Config(prefix, std::filesystem::absolute(root), ports_, options);
    pid_t pid = fork();
    if (pid == 0) {
      execl(kNginxBinary, kNginxBinary, "-p", prefix.c_str(), "-c", (prefix + "nginx.conf").c_str(),
            "-g", "daemon off;", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0 && AllPortsUp(ports_)) {
      pid_ = pid;
      prefix_ = prefix;
    } else if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      error_ = "nginx did not start; see " + prefix + "error.log";
    }
  }
}

NginxServer::~NginxServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGQUIT);
  waitpid(pid_, nullptr, 0);
}

std::string NginxServer::baseUrl(size_t n) const {
  return (ssl_.at(n) ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port(n));
}

}  // namespace quillon::testing
