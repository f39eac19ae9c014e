// One HTTP client of the connection pool: the host and port it serves, its pooled connection
// (a plain socket, or a TLS channel) and the opening of that connection. Running a request over
// it is the request driver's business (http/request_driver.h).
#pragma once

#include <cstdint>

#include "base/quillon_object.h"
#include "base/string_buffer.h"
#include "http/credential_scope.h"
#include "http/parse_url.h"
#include "net/byte_stream.h"
#include "net/quillon_socket.h"
#include "net/schannel.h"

namespace quillon {

class HttpControl;
class LogBase;
class ProgressMonitor;

// Tests only: millisecond time-outs that replace connectTimeoutSec and readTimeout (0 keeps the
// setting), the pause of the 503 retries (null pauses for real), and a call with the descriptor
// of a plain connection just before a request head goes out on it (so a test can let its
// server's reset arrive first).
struct HttpTestOverrides {
  uint32_t connectTimeoutMs = 0;
  uint32_t readTimeoutMs = 0;
  void (*pause)(uint32_t ms) = nullptr;
  void (*beforeSend)(int fd) = nullptr;
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
  SChannel& channel() { return channel_; }
  // The buffered stream over the pooled connection of that kind.
  ByteStream& stream(bool tls) { return tls ? channelStream_ : socketStream_; }
  // Whether the pooled connection of that kind is open.
  bool isOpen(bool tls) const { return tls ? channel_.IsConnected() : socket_.IsConnected(); }

  // Records that the pooled connection of that kind was just opened to host and port (the
  // proxy's when it goes through one): it starts with nothing buffered.
  void noteOpened(bool tls, const char* host, int port);
  // Whether the pooled connection of that kind is open to host and port (ASCII case ignored).
  bool isOpenTo(bool tls, const char* host, int port) const;

  // Shuts the TLS channel down, closes the socket and forgets the recorded host.
  void CloseClientConnection(LogBase& log);

  // The credentials of the current fetch's URL: while their host is set they stand in for the
  // settings' login and password and go to that host only (http/credential_scope.h decides).
  UrlCredentials& urlCredentials() { return urlCredentials_; }
  const UrlCredentials& urlCredentials() const { return urlCredentials_; }
  // Where the current fetch started: without a crawl's site, the caller's credentials serve
  // that host only.
  FetchOrigin& fetchOrigin() { return fetchOrigin_; }
  const FetchOrigin& fetchOrigin() const { return fetchOrigin_; }

 private:
  StringBuffer host_;
  int port_ = kDefaultHttpPort;
  bool tls_ = false;
  QuillonSocket socket_;
  SChannel channel_;
  ByteStream socketStream_{socket_};
  ByteStream channelStream_{channel_};
  // Where each pooled connection was opened to: [0] plain, [1] TLS.
  StringBuffer peerHost_[2];
  int peerPort_[2] = {0, 0};
  UrlCredentials urlCredentials_;
  FetchOrigin fetchOrigin_;
};

// Gives a socket the connect time-out (connectTimeoutSec) and the idle time-out (readTimeout
// seconds as milliseconds), or the test overrides.
void ApplySocketTimeouts(QuillonSocket& socket, const HttpControl& settings);

// Closes a TLS channel: a session is shut down with close-notify, a bare socket just closed.
void ResetChannel(SChannel& channel, LogBase& log);

// Whether a TLS connection offers the caller's client certificate when the server asks.
enum class ClientCertificateUse { kOffer, kWithhold };

// Gives a TLS channel its target, protocol and time-outs and establishes it (abortCheckMs as
// heartbeat). False with the channel's failure code set; dnsFailed when the name did not
// resolve.
bool ConnectChannel(SChannel& channel, const HttpControl& settings, const char* host, int port,
                    ClientCertificateUse certificate, LogBase& log, ProgressMonitor* progress,
                    bool& dnsFailed);

}  // namespace quillon
