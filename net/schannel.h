// The HTTPS transport: a client TLS channel over one QuillonSocket. OpenSSL runs the protocol
// through memory BIOs, so every byte on the wire still goes through the socket's sliced waits,
// abort checks, throttles and time-outs; the SSPI status codes stay as the channel's own and are
// logged by their names. SSL 2/3 and PCT are not offered (pinning them fails the establish).
#pragma once

#include <cstdint>
#include <memory>

#include "base/data_buffer.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"
#include "net/certificate.h"
#include "net/client_credential.h"
#include "net/fetch_error.h"
#include "net/openssl_owners.h"
#include "net/quillon_socket.h"

namespace quillon {

class LogBase;
class ProgressMonitor;

// Security status codes.
inline constexpr uint32_t kSecEOk = 0;
inline constexpr uint32_t kSecIContinueNeeded = 0x00090312;
inline constexpr uint32_t kSecICompleteNeeded = 0x00090313;
inline constexpr uint32_t kSecICompleteAndContinue = 0x00090314;
inline constexpr uint32_t kSecIContextExpired = 0x00090317;
inline constexpr uint32_t kSecIIncompleteCredentials = 0x00090320;
inline constexpr uint32_t kSecIRenegotiate = 0x00090321;
inline constexpr uint32_t kSecEInvalidHandle = 0x80090301;
inline constexpr uint32_t kSecETargetUnknown = 0x80090303;
inline constexpr uint32_t kSecEInternalError = 0x80090304;
inline constexpr uint32_t kSecEInvalidToken = 0x80090308;
inline constexpr uint32_t kSecELogonDenied = 0x8009030C;
inline constexpr uint32_t kSecEUnknownCredentials = 0x8009030D;
inline constexpr uint32_t kSecENoCredentials = 0x8009030E;
inline constexpr uint32_t kSecEMessageAltered = 0x8009030F;
inline constexpr uint32_t kSecENoAuthenticatingAuthority = 0x80090311;
inline constexpr uint32_t kSecEIncompleteMessage = 0x80090318;
inline constexpr uint32_t kSecEUntrustedRoot = 0x80090325;
inline constexpr uint32_t kSecEIllegalMessage = 0x80090326;
inline constexpr uint32_t kSecEDecryptFailure = 0x80090330;
inline constexpr uint32_t kSecEAlgorithmMismatch = 0x80090331;

// The name of a status ("SEC_E_OK", ...), or null when it has none.
const char* SecurityStatusName(uint32_t status);
// Logs a status as an info line with its name, or as data "scRet" in hexadecimal.
void LogSecurityStatus(LogBase& log, uint32_t status);

// Protocol masks. 0 = the default: TLS 1.2 and 1.3.
inline constexpr uint32_t kProtocolPct1 = 0x03;
inline constexpr uint32_t kProtocolSsl2 = 0x0C;
inline constexpr uint32_t kProtocolSsl3 = 0x30;
inline constexpr uint32_t kProtocolTls10 = 0xC0;
inline constexpr uint32_t kProtocolTls11 = 0x300;
inline constexpr uint32_t kProtocolTls12 = 0xC00;
inline constexpr uint32_t kProtocolTls13 = 0x3000;

// The mask of a protocol text: trimmed, lower-cased, white space collapsed; "tls 1.0" ... "tls
// 1.3", "ssl 3.0", "ssl 2.0", "pct 1.0"; anything else is 0.
uint32_t ProtocolMaskOf(const char* text);

// Why the last EstablishChannel failed: the channel's own steps carry the library's failure
// codes (100-106); Connect means the socket's connect failed, and the channel's
// ConnectFailReason() says why (the codes 1-7).
enum class ChannelFailure : int {
  None = 0,
  Connect = 1,
  SecurityLibrary = 100,
  Credentials = 101,
  Handshake = 103,
  NoServerCertificate = 104,
  NotVerified = 105,    // verification is required and failed
  RequiredField = 106,  // the certificate lacks the required field value
};

class SChannel : public QuillonObject {
 public:
  static constexpr int kDefaultPort = 443;
  // Plain text is encrypted in pieces of at most this many bytes (one record each).
  static constexpr uint32_t kMaxPlainPiece = 16000;
  // Encrypted bytes go to the socket in chunks of at most this many.
  static constexpr uint32_t kRawSendChunk = 8192;
  // One raw read takes at most this many bytes (the whole input ring: large bodies arrive in
  // few reads).
  static constexpr uint32_t kRawReadBlock = 131072;
  // One raw read during the handshake takes at most this many bytes.
  static constexpr uint32_t kHandshakeArea = 65536;
  // Room for received bytes not yet decrypted: a handshake read and a partial record besides.
  static constexpr uint32_t kInputRing = 131072;

  SChannel();
  ~SChannel() override;
  SChannel(const SChannel&) = delete;
  SChannel& operator=(const SChannel&) = delete;

  // ---- Settings

  void SetHost(const char* host) { host_.assign(host != nullptr ? host : ""); }
  const StringBuffer& Host() const { return host_; }
  void SetPort(int port) { port_ = port; }
  int Port() const { return port_; }
  // Protocol text as ProtocolMaskOf reads it.
  void SetProtocol(const char* text) { enabledProtocols_ = ProtocolMaskOf(text); }
  uint32_t EnabledProtocols() const { return enabledProtocols_; }
  void SetConnectTimeoutSec(uint32_t seconds) { socket_.SetConnectTimeoutSec(seconds); }
  void SetIdleTimeoutSec(uint32_t seconds) { socket_.SetIdleTimeoutMs(seconds * 1000); }
  void SetVerbose(bool on) { verbose_ = on; }
  void SetRequireVerified(bool on) { requireVerified_ = on; }
  // A required certificate field ("issuerdn", "issuercn", "subjectdn", "subjectcn") and the
  // exact value it must have; either empty means no requirement.
  void SetRequiredCertField(const char* name, const char* value);
  void SetRateReportsEnabled(bool on) { socket_.SetRateReportsEnabled(on); }
  // The socket, for its time-outs (milliseconds in tests) and state.
  QuillonSocket& Socket() { return socket_; }

  // ---- Operations

  // Connects to the host and port, runs the handshake and checks the server certificate. Always
  // starts from scratch. False with FailureCode() set (and ConnectFailReason() for a failed
  // connect); dnsFailed when the name did not resolve.
  // clientCredentials: the certificates offered when the server asks for one; null (or an
  // empty set) offers none on this connection. With the require-verified flag set, a
  // certificate goes out only to a server whose certificate verified for the host.
  bool EstablishChannel(LogBase& log, bool& dnsFailed, uint32_t heartbeatMs,
                        ProgressMonitor* progress,
                        const ClientCredentialSet* clientCredentials = nullptr);
  // Encrypts and sends length bytes in pieces of at most 16,000; length 0 is true at once.
  bool SendBytes(const uint8_t* data, uint32_t length, uint32_t heartbeatMs, LogBase& log,
                 ProgressMonitor* progress);
  // Appends the plain text of the records that arrive next (every complete record received so
  // far; records without application data are read past). True with nothing appended and
  // flags.endOfSession set when the server ended the session: the channel is then shut down
  // and the socket closed. False with flags telling why (closedByPeer also when the socket is
  // gone).
  bool ReceiveBytes(DataBuffer& out, uint32_t heartbeatMs, LogBase& log,
                    ProgressMonitor* progress, SocketFlags& flags);
  // Sends close-notify, frees the session and optionally closes the socket. False (after a
  // forcible close) when there was no session to shut down.
  bool ShutdownChannel(bool closeSocket, LogBase& log);
  bool ShutdownChannel(bool closeSocket, uint32_t heartbeatMs, LogBase& log,
                       ProgressMonitor* progress);

  // Credentials and a session exist and the socket is connected.
  bool IsConnected() const;
  // A session exists (it may need shutting down even when the socket is gone).
  bool HasSession() const { return session_ != nullptr; }
  ChannelFailure FailureCode() const { return failure_; }
  // Why the connect of the last establish failed; None unless FailureCode() is Connect.
  ConnectFailure ConnectFailReason() const { return connectFailure_; }
  bool ServerCertVerified() const { return serverCertVerified_; }
  // The policy status of the last verification (0 = verified).
  uint32_t ServerCertStatus() const { return serverCertStatus_; }
  // What the last verification found wrong with the server's certificate (kNone: verified).
  CertificateProblem ServerCertProblem() const {
    return CertificateProblemOf(serverCertStatus_, serverCertSelfIssued_);
  }
  // The server certificate of the last handshake, or null.
  const Certificate* ServerCertificate() const { return serverCert_.get(); }
  // Why the server of the last establish refused the client certificate (or its absence) in a
  // fatal alert, during the handshake or at a read after it; kNone when it did not. Kept after
  // the channel is closed, until the next establish.
  ClientCertificateProblem ClientCertRefusal() const;
  // The protocol and cipher names of the established session ("TLSv1.3", ...); empty otherwise.
  const StringBuffer& ProtocolName() const { return protocolName_; }
  const StringBuffer& CipherName() const { return cipherName_; }

 private:
  // The TLS engine of one session with its two BIOs, owned from creation (schannel.cpp).
  struct Session;
  struct SessionFree {
    void operator()(Session* session) const;
  };

  bool LoadSecurityLibrary(LogBase& log);
  bool CreateCredentials(const ClientCredentialSet* clientCredentials, LogBase& log);
  // The server asked for a certificate (the incomplete-credentials path): installs the client
  // credential whose issuer the server named, else the first; none when verification is
  // required and the server's certificate does not verify. Always lets the handshake go on.
  void OfferClientCertificate(ssl_st* ssl);
  bool PerformHandshake(LogBase& log);
  bool ClientHandshakeLoop(bool readFirst, LogBase& log);
  bool SendSecure(const uint8_t* data, uint32_t length, LogBase& log);
  bool RecvSecure(DataBuffer& out, LogBase& log, bool& endOfSession);
  // Sends what the TLS engine wrote (handshake messages, records, alerts) to the socket.
  bool FlushEngineOutput(LogBase& log);
  // One raw read of at most maxBytes into the engine's input; false with the call's flags set.
  bool ReadRaw(uint32_t maxBytes, LogBase& log);
  void LogConnectionInfo(LogBase& log);
  bool CheckRequiredField(LogBase& log);
  // Names a refusal of the client certificate in log, when the failure at hand was one.
  void LogClientCertRefusal(LogBase& log) const;
  void FreeHandles();
  void ForcibleClose(LogBase& log);
  // Frees the session and closes the socket when it goes out of scope, unless kept.
  class Dropper {
   public:
    explicit Dropper(SChannel& channel) : channel_(channel) { channel_.Drop(); }
    ~Dropper();
    Dropper(const Dropper&) = delete;
    Dropper& operator=(const Dropper&) = delete;
    void keep() { drop_ = false; }

   private:
    SChannel& channel_;
    bool drop_ = true;
  };
  // Frees the session and closes the socket: an establish starts from scratch.
  void Drop();
  // Sets the per-call settings for one public operation and clears them at its end, so a
  // progress monitor never outlives the call that lent it.
  class CallScope {
   public:
    CallScope(SChannel& channel, uint32_t heartbeatMs, ProgressMonitor* progress);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

   private:
    SChannel& channel_;
    uint32_t heartbeatMs_;
    ProgressMonitor* progress_;
  };

  StringBuffer host_;
  int port_ = kDefaultPort;
  bool verbose_ = false;
  uint32_t enabledProtocols_ = 0;
  std::unique_ptr<Certificate> serverCert_;
  bool serverCertVerified_ = false;
  uint32_t serverCertStatus_ = 0;
  bool serverCertSelfIssued_ = false;
  SslCtxPtr credentials_;
  std::unique_ptr<Session, SessionFree> session_;
  StringBuffer requiredField_;
  StringBuffer requiredValue_;
  // Per-call settings.
  uint32_t heartbeatMs_ = 0;
  ProgressMonitor* progress_ = nullptr;
  SocketFlags flags_;
  QuillonSocket socket_;
  ChannelFailure failure_ = ChannelFailure::None;
  ConnectFailure connectFailure_ = ConnectFailure::None;
  bool requireVerified_ = false;
  StringBuffer protocolName_;
  StringBuffer cipherName_;
  bool renegotiating_ = false;
  bool handshakeDone_ = false;

  ClientCredentialSet clientCredentials_;
  // The log of the handshake running now (the certificate request is answered inside it).
  LogBase* handshakeLog_ = nullptr;
  // What became of a certificate request in this establish, and the last fatal alert the
  // server sent (0: none), which together tell whether it refused the client certificate.
  bool clientCertRequested_ = false;
  bool clientCertSent_ = false;
  uint8_t peerFatalAlert_ = 0;

  friend void SChannelInfoCallback(const ssl_st* ssl, int where, int ret);
  friend int SChannelCertCallback(ssl_st* ssl, void* arg);
};

}  // namespace quillon
