// Loopback peers for the socket tests: a listener on 127.0.0.1 whose thread accepts one
// connection and runs a script on it, plus small helpers for plain sockets and logs.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "base/logger.h"
#include "base/string_buffer.h"
#include "tests/support/test_support.h"

namespace quillon::testing {

inline bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads until the other side closes (or fails); returns what arrived.
inline std::string ReadUntilClosed(int fd) {
  std::string all;
  char block[65536];
  for (;;) {
    ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n <= 0) return all;
    all.append(block, static_cast<size_t>(n));
  }
}

// Blocks until the other side closes the connection.
inline void WaitForClose(int fd) {
  char byte;
  while (::recv(fd, &byte, 1, 0) > 0) {
  }
}

// Closes with a reset instead of an orderly close.
inline void ResetAndClose(int fd) {
  linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

// A listening socket on 127.0.0.1 and an ephemeral port.
class Listener {
 public:
  explicit Listener(int backlog = 8) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, backlog);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int fd() const { return fd_; }
  int port() const { return port_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Accepts one connection on its own thread and runs script on it; the connection is closed
// when the script returns. The destructor waits for the script, so a script that waits for the
// client to close needs the client gone first (declare the peer before the socket).
class LoopbackPeer {
 public:
  // With scriptCloses the script closes (or resets) the descriptor itself.
  explicit LoopbackPeer(std::function<void(int)> script, bool scriptCloses = false)
      : script_(std::move(script)), scriptCloses_(scriptCloses) {
    thread_ = std::thread([this] {
      // A connection already queued is always taken, even once the test is ending.
      for (;;) {
        pollfd entry{listener_.fd(), POLLIN, 0};
        if (::poll(&entry, 1, 20) > 0) break;
        if (stopping_.load()) return;
      }
      int fd = ::accept(listener_.fd(), nullptr, nullptr);
      if (fd < 0) return;
      script_(fd);
      if (!scriptCloses_) ::close(fd);
    });
  }
  ~LoopbackPeer() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return listener_.port(); }

 private:
  Listener listener_;
  std::function<void(int)> script_;
  bool scriptCloses_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// A plain blocking client connection to 127.0.0.1:port; -1 on failure.
inline int PlainConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace quillon::testing
