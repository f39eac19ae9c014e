// One HTTP client of the connection pool: the host and port it serves, its pooled connection
// (a plain socket, or the TLS channel once HTTPS exists) and the opening of that connection.
// Running a request over it is the request driver's business (http/request_driver.h).
// HTTPS is not available yet: the channel never opens and every TLS connect fails.
#pragma once

#include <cstdint>

#include "base/quillon_object.h"
#include "base/string_buffer.h"
#include "net/quillon_socket.h"
#include "http/parse_url.h"

namespace quillon {

class HttpControl;
class LogBase;
class ProgressMonitor;

// Stands in for the TLS channel until the HTTPS work replaces it: it is never open, and
// establishing it fails with reason 100 and "Error loading security library".
class TlsChannelPlaceholder {
 public:
  static constexpr int kFailSecurityLibrary = 100;

  bool IsOpen() const { return false; }
  void SetServerName(const char*) {}
  void SetProtocol(const char*) {}
  // Logs "Error loading security library" and fails with reason 100.
  bool EstablishChannel(const char* host, int port, uint32_t heartbeatMs, LogBase& log,
                        ProgressMonitor* progress);
  void ShutdownChannel(LogBase&) {}
  int FailReason() const { return failReason_; }

 private:
  int failReason_ = 0;
};

// Tests only: millisecond time-outs that replace connectTimeoutSec and readTimeout (0 keeps the
// setting), and the pause of the 503 retries (null pauses for real).
struct HttpTestOverrides {
  uint32_t connectTimeoutMs = 0;
  uint32_t readTimeoutMs = 0;
  void (*pause)(uint32_t ms) = nullptr;
};
void SetHttpOverridesForTests(const HttpTestOverrides& overrides);
const HttpTestOverrides& HttpOverrides();

class HttpClient : public QuillonObject {
 public:
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  ~HttpClient() override;

  // Replaces out with host lower-cased, "http://" and "https://" removed, every "/" removed,
  // trimmed. False when memory runs out.
  static bool NormaliseHost(const char* host, StringBuffer& out);
  // Records host in normalised form.
  bool recordHost(const char* host) { return NormaliseHost(host, host_); }

  const StringBuffer& host() const { return host_; }
  int port() const { return port_; }
  void setPort(int port) { port_ = port; }
  bool tls() const { return tls_; }
  void setTls(bool tls) { tls_ = tls; }

  QuillonSocket& socket() { return socket_; }
  TlsChannelPlaceholder& channel() { return channel_; }
  // Whether the pooled connection of that kind is open.
  bool isOpen(bool tls) const { return tls ? channel_.IsOpen() : socket_.IsConnected(); }

  // Shuts the TLS channel down, closes the socket and forgets the recorded host.
  void CloseClientConnection(LogBase& log);

  // The host whose URL supplied the login and password of the current fetch (empty when the
  // caller's own credentials, or none, are in use): they are sent to that host only.
  StringBuffer& credentialHost() { return credentialHost_; }

 private:
  StringBuffer host_;
  int port_ = kDefaultHttpPort;
  bool tls_ = false;
  QuillonSocket socket_;
  TlsChannelPlaceholder channel_;
  StringBuffer credentialHost_;
};

// Gives a socket the connect time-out (connectTimeoutSec) and the idle time-out (readTimeout
// seconds as milliseconds), or the test overrides.
void ApplySocketTimeouts(QuillonSocket& socket, const HttpControl& settings);

// Opens the client's pooled connection to host and port (through the chosen proxy, if any)
// unless it is open already, and records host, port and tls in the client. connectedNow tells
// whether a connection was made. False, with "Failed to connect." logged, when it could not be
// opened. Logs inside the context "httpConnect".
bool HttpConnect(HttpClient& client, HttpControl& settings, const char* host, int port, bool tls,
                 LogBase& log, ProgressMonitor* progress, bool& connectedNow);

}  // namespace quillon
