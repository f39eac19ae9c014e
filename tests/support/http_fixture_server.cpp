#include "tests/support/http_fixture_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace quillon::testing {

namespace {

// A request head larger than this ends the connection (the tests never send one).
constexpr size_t kMaxRequestHead = 1024 * 1024;
constexpr int kPollSliceMs = 20;

// The value of the first header line named name (case-insensitive), or empty.
std::string HeaderValue(const std::string& head, const char* name) {
  size_t nameLength = std::strlen(name);
  size_t at = head.find("\r\n");
  while (at != std::string::npos && at + 2 < head.size()) {
    size_t start = at + 2;
    size_t end = head.find("\r\n", start);
    if (end == std::string::npos) break;
    if (end - start > nameLength && head[start + nameLength] == ':' &&
        ::strncasecmp(head.c_str() + start, name, nameLength) == 0) {
      size_t value = start + nameLength + 1;
      while (value < end && (head[value] == ' ' || head[value] == '\t')) ++value;
      return head.substr(value, end - value);
    }
    at = end;
  }
  return {};
}

std::string PathOfTarget(const std::string& target) {
  size_t scheme = target.find("://");
  if (scheme == std::string::npos || target.compare(0, 1, "/") == 0) return target;
  size_t slash = target.find('/', scheme + 3);
  return slash == std::string::npos ? std::string("/") : target.substr(slash);
}

}  // namespace

HttpFixtureServer::HttpFixtureServer(const std::string& host) : host_(host) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, host_.c_str(), &address.sin_addr);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    std::perror("HttpFixtureServer: bind/listen");
    std::abort();
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpFixtureServer::~HttpFixtureServer() { Stop(); }

std::string HttpFixtureServer::Url(const std::string& path) const {
  return "http://" + host_ + ":" + std::to_string(port_) + path;
}

void HttpFixtureServer::AddResponse(const std::string& path, std::string rawResponse,
                                    After after) {
  std::lock_guard<std::mutex> lock(mutex_);
  Answer answer;
  answer.raw = std::move(rawResponse);
  answer.after = after;
  routes_[path].answers.push_back(std::move(answer));
}

void HttpFixtureServer::AddHandler(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  Answer answer;
  answer.handler = std::move(handler);
  routes_[path].answers.push_back(std::move(answer));
}

void HttpFixtureServer::ClearResponses(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path.empty()) {
    routes_.clear();
  } else {
    routes_.erase(path);
  }
}

void HttpFixtureServer::HoldNextConnections(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  holdsLeft_ = count;
}

void HttpFixtureServer::ResetHeldConnections() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int fd : heldFds_) ResetAndClose(fd);
  heldFds_.clear();
}

std::vector<HttpFixtureServer::Request> HttpFixtureServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t HttpFixtureServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

size_t HttpFixtureServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(connections_);
}

bool HttpFixtureServer::WaitForRequests(size_t count, uint32_t timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= count; });
}

bool HttpFixtureServer::SleepUnlessStopping(uint32_t ms) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stopping()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    auto step = std::min<std::chrono::steady_clock::duration>(until - now,
                                                              std::chrono::milliseconds(10));
    std::this_thread::sleep_for(step);
  }
  return false;
}

void HttpFixtureServer::Stop() {
  if (stopping_.exchange(true)) return;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Wakes every connection thread blocked in a read or send.
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(connectionThreads_);
  }
  for (auto& thread : threads) thread.join();
  ResetHeldConnections();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
}

bool HttpFixtureServer::SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool HttpFixtureServer::Trickle(int fd, const std::string& bytes, size_t pieceSize,
                                uint32_t pauseMs) const {
  if (pieceSize == 0) pieceSize = 1;
  for (size_t at = 0; at < bytes.size(); at += pieceSize) {
    if (at > 0 && !SleepUnlessStopping(pauseMs)) return false;
    if (!SendAll(fd, bytes.substr(at, pieceSize))) return false;
  }
  return true;
}

void HttpFixtureServer::ResetAndClose(int fd) {
  linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

std::string HttpFixtureServer::Response(int status, const std::string& reason,
                                        const std::string& body,
                                        const std::string& extraHeaders) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string HttpFixtureServer::Chunked(const std::string& body, size_t chunkSize,
                                       const std::string& trailers) {
  if (chunkSize == 0) chunkSize = 1;
  std::string out;
  char size[32];
  for (size_t at = 0; at < body.size(); at += chunkSize) {
    size_t n = std::min(chunkSize, body.size() - at);
    std::snprintf(size, sizeof size, "%zx\r\n", n);
    out += size;
    out.append(body, at, n);
    out += "\r\n";
  }
  out += "0\r\n" + trailers + "\r\n";
  return out;
}

void HttpFixtureServer::AcceptLoop() {
  while (!stopping()) {
    pollfd entry{listenFd_, POLLIN, 0};
    if (::poll(&entry, 1, kPollSliceMs) <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping()) {
      ::close(fd);
      break;
    }
    int connection = ++connections_;
    if (holdsLeft_ > 0) {
      --holdsLeft_;
      heldFds_.push_back(fd);
      continue;
    }
    openFds_.push_back(fd);
    connectionThreads_.emplace_back([this, fd, connection] { Serve(fd, connection); });
  }
}

bool HttpFixtureServer::ReadMore(int fd, std::string& pending) {
  char block[16384];
  while (!stopping()) {
    pollfd entry{fd, POLLIN, 0};
    int ready = ::poll(&entry, 1, kPollSliceMs);
    if (ready < 0) return false;
    if (ready == 0) continue;
    ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n <= 0) return false;
    pending.append(block, static_cast<size_t>(n));
    return true;
  }
  return false;
}

bool HttpFixtureServer::ReadRequest(int fd, std::string& pending, Request& request) {
  size_t end;
  while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
    if (pending.size() > kMaxRequestHead || !ReadMore(fd, pending)) return false;
  }
  request.head = pending.substr(0, end + 4);
  pending.erase(0, end + 4);
  size_t space = request.head.find(' ');
  size_t space2 = space == std::string::npos ? space : request.head.find(' ', space + 1);
  if (space2 != std::string::npos)
    request.target = request.head.substr(space + 1, space2 - space - 1);
  request.path = PathOfTarget(request.target);
  std::string length = HeaderValue(request.head, "Content-Length");
  size_t bodyLength = length.empty() ? 0 : std::strtoull(length.c_str(), nullptr, 10);
  if (bodyLength > kMaxRequestHead) return false;
  while (pending.size() < bodyLength) {
    if (!ReadMore(fd, pending)) return false;
  }
  request.body = pending.substr(0, bodyLength);
  pending.erase(0, bodyLength);
  return true;
}

bool HttpFixtureServer::PickAnswer(const std::string& path, Answer& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto route = routes_.find(path);
  if (route == routes_.end() || route->second.answers.empty()) route = routes_.find("*");
  if (route == routes_.end() || route->second.answers.empty()) return false;
  Route& r = route->second;
  answer = r.answers[std::min(r.next, r.answers.size() - 1)];
  if (r.next < r.answers.size()) ++r.next;
  return true;
}

void HttpFixtureServer::Serve(int fd, int connection) {
  std::string pending;
  After after = After::kClose;
  for (;;) {
    Request request;
    request.connection = connection;
    if (!ReadRequest(fd, pending, request)) {
      after = After::kClose;
      break;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    arrived_.notify_all();
    Answer answer;
    if (!PickAnswer(request.path, answer)) {
      answer.raw = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
      answer.after = After::kClose;
    }
    if (answer.handler) {
      after = answer.handler(fd, request);
    } else {
      after = SendAll(fd, answer.raw) ? answer.after : After::kClose;
    }
    if (after != After::kKeepAlive) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  if (after == After::kReset) {
    ResetAndClose(fd);
  } else {
    ::close(fd);
  }
}

}  // namespace quillon::testing
