// A TLS server on 127.0.0.1 for record-level tests, written on OpenSSL: it accepts one
// connection, runs the handshake through memory BIOs and hands a script a session object that
// decides exactly which encrypted bytes go out in which TCP send (records joined, split, stalled,
// close-notify, renegotiation). A script can also skip the handshake and speak raw bytes.
// Header-only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::testing {

// One accepted connection: its descriptor and, after the handshake, the server's TLS session.
class TlsServerSession {
 public:
  TlsServerSession(int fd, SSL* ssl, std::atomic<bool>& stopping)
      : fd_(fd), ssl_(ssl), stopping_(stopping) {
    if (ssl_ != nullptr) {
      in_ = BIO_new(BIO_s_mem());
      out_ = BIO_new(BIO_s_mem());
      BIO_set_mem_eof_return(in_, -1);
      BIO_set_mem_eof_return(out_, -1);
      SSL_set_bio(ssl_, in_, out_);
      SSL_set_accept_state(ssl_);
    }
  }

  int fd() const { return fd_; }
  SSL* ssl() const { return ssl_; }
  bool stopping() const { return stopping_.load(); }

  // Runs the server side of a handshake (the first, or a renegotiation) to its end.
  bool Handshake() {
    for (int guard = 0; guard < 1000; ++guard) {
      int rc = SSL_do_handshake(ssl_);
      if (!SendPending()) return false;
      if (rc == 1) return true;
      if (SSL_get_error(ssl_, rc) != SSL_ERROR_WANT_READ || !ReadRaw()) return false;
    }
    return false;
  }

  // Encrypts text as one record into the pending output (nothing is sent yet).
  void Encrypt(const std::string& text) {
    SSL_write(ssl_, text.data(), static_cast<int>(text.size()));
  }
  // Queues the close-notify alert.
  void EncryptCloseNotify() { SSL_shutdown(ssl_); }
  // Takes the pending encrypted bytes out (they will be sent by hand).
  std::string TakePending() {
    char* bytes = nullptr;
    long length = BIO_get_mem_data(out_, &bytes);
    std::string taken(bytes != nullptr ? bytes : "", length > 0 ? static_cast<size_t>(length) : 0);
    (void)BIO_reset(out_);
    return taken;
  }
  // Sends the pending encrypted bytes in one send.
  bool SendPending() { return SendRaw(TakePending()); }
  bool SendRaw(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // Encrypts and sends text at once.
  bool Send(const std::string& text) {
    Encrypt(text);
    return SendPending();
  }

  // Reads one record's plain text (empty when the peer closed or failed); answers whatever the
  // engine must answer meanwhile.
  std::string ReadRecord() {
    char block[16384];
    for (;;) {
      int n = SSL_read(ssl_, block, sizeof block);
      SendPending();
      if (n > 0) return std::string(block, static_cast<size_t>(n));
      if (SSL_get_error(ssl_, n) != SSL_ERROR_WANT_READ || !ReadRaw()) return "";
    }
  }
  // Reads plain text until it holds the blank line of a request head.
  std::string ReadRequestHead() {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
      std::string record = ReadRecord();
      if (record.empty()) break;
      head += record;
    }
    return head;
  }
  // Waits (up to timeoutMs) until the client closes the connection or sends close-notify.
  void WaitForClientClose(int timeoutMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char block[4096];
    while (!stopping() && std::chrono::steady_clock::now() < deadline) {
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 20) <= 0) continue;
      if (::recv(fd_, block, sizeof block, 0) <= 0) return;
    }
  }
  // One raw read into the engine; false when the peer closed or the server stops.
  bool ReadRaw() {
    char block[16384];
    for (;;) {
      if (stopping()) return false;
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 20) <= 0) continue;
      ssize_t n = ::recv(fd_, block, sizeof block, 0);
      if (n <= 0) return false;
      BIO_write(in_, block, static_cast<int>(n));
      return true;
    }
  }
  static void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  int fd_;
  SSL* ssl_;
  BIO* in_ = nullptr;
  BIO* out_ = nullptr;
  std::atomic<bool>& stopping_;
};

class TlsLoopbackServer {
 public:
  using Script = std::function<void(TlsServerSession&)>;
  using Configure = std::function<void(SSL_CTX*)>;

  // certFile and keyFile: the server's certificate and key (PEM). maxVersion 0 = TLS 1.3.
  // With handshake false the script gets the raw connection (no TLS session). configure, when
  // given, adjusts the server's context before the server listens.
  TlsLoopbackServer(const std::string& certFile, const std::string& keyFile, Script script,
                    bool handshake = true, int maxVersion = 0, const Configure& configure = {})
      : script_(std::move(script)), handshake_(handshake) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx_, certFile.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM);
    if (maxVersion != 0) SSL_CTX_set_max_proto_version(ctx_, maxVersion);
    if (configure) configure(ctx_);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TlsLoopbackServer() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
    SSL_CTX_free(ctx_);
  }
  TlsLoopbackServer(const TlsLoopbackServer&) = delete;
  TlsLoopbackServer& operator=(const TlsLoopbackServer&) = delete;

  int port() const { return port_; }
  // Waits for the script to end; afterwards the script's results may be read.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool handshakeDone() const { return handshakeDone_.load(); }

 private:
  void Serve() {
    int conn = -1;
    while (!stopping_.load()) {
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, 20) > 0) {
        conn = ::accept(fd_, nullptr, nullptr);
        break;
      }
    }
    if (conn < 0) return;
    SSL* ssl = handshake_ ? SSL_new(ctx_) : nullptr;
    {
      TlsServerSession session(conn, ssl, stopping_);
      if (!handshake_ || session.Handshake()) {
        handshakeDone_.store(handshake_);
        script_(session);
      }
    }
    SSL_free(ssl);
    ERR_clear_error();
    ::close(conn);
  }

  Script script_;
  bool handshake_;
  SSL_CTX* ctx_ = nullptr;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> handshakeDone_{false};
  std::thread thread_;
};

}  // namespace quillon::testing
