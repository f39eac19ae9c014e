// Shared pieces of the request driver's tests: short time-outs and recorded pauses, one fetch
// with its log and result, and a one-connection server on a fixed loopback address and port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/logger.h"
#include "base/string_buffer.h"
#include "http/http_client.h"
#include "http/http_conn_pool.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/request_driver.h"
#include "tests/support/test_support.h"

namespace quillon::testing {

inline std::vector<uint32_t>& RecordedPauses() {
  static std::vector<uint32_t> pauses;
  return pauses;
}

inline void RecordPause(uint32_t ms) { RecordedPauses().push_back(ms); }

// Millisecond time-outs and recorded (not slept) 503 pauses for the lifetime of the object.
class ShortTimeouts {
 public:
  explicit ShortTimeouts(uint32_t connectMs = 1000, uint32_t readMs = 1000) {
    HttpTestOverrides overrides;
    overrides.connectTimeoutMs = connectMs;
    overrides.readTimeoutMs = readMs;
    overrides.pause = &RecordPause;
    SetHttpOverridesForTests(overrides);
    RecordedPauses().clear();
  }
  ~ShortTimeouts() { SetHttpOverridesForTests(HttpTestOverrides{}); }
  ShortTimeouts(const ShortTimeouts&) = delete;
  ShortTimeouts& operator=(const ShortTimeouts&) = delete;
};

// One client stack: settings, pool, result and log, with FetchBytes over them.
struct Fetcher {
  HttpControl settings;
  HttpConnPool pool;
  HttpResult result;
  Logger log;
  DataBuffer body;

  Fetcher() { settings.readTimeout = 1; }

  bool fetch(const std::string& url, ProgressMonitor* progress = nullptr) {
    log.reset();
    body.clear();
    return FetchBytes(pool, url.c_str(), settings, body, result, log, progress);
  }
  std::string bodyText() const { return std::string(body.view()); }
  std::string logText() { return LogText(log); }
  int status() const { return result.header.statusCode; }
};

// Counts the occurrences of needle in text.
inline int CountOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// Accepts one connection on address:port, records the request head, sends answer and closes.
// isListening() is false when the address could not be bound (port in use, no privilege).
class FixedAddressPeer {
 public:
  FixedAddressPeer(const char* address, int port, std::string answer)
      : answer_(std::move(answer)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = inet_addr(address);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 4) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~FixedAddressPeer() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  FixedAddressPeer(const FixedAddressPeer&) = delete;
  FixedAddressPeer& operator=(const FixedAddressPeer&) = delete;

  bool isListening() const { return fd_ >= 0; }
  // The head received; valid once the fetch has returned.
  std::string head() {
    if (thread_.joinable()) thread_.join();
    return head_;
  }

 private:
  void Serve() {
    for (;;) {
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 20) > 0) break;
      if (stopping_.load()) return;
    }
    int conn = ::accept(fd_, nullptr, nullptr);
    if (conn < 0) return;
    char block[4096];
    while (head_.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(conn, block, sizeof block, 0);
      if (n <= 0) break;
      head_.append(block, static_cast<size_t>(n));
    }
    ::send(conn, answer_.data(), answer_.size(), MSG_NOSIGNAL);
    ::close(conn);
  }

  int fd_ = -1;
  std::string answer_;
  std::string head_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quillon::testing
