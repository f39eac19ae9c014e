#include "net/schannel.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "base/log_base.h"

namespace quillon {

namespace {

// The name under which the TLS library is reported when it cannot be initialised.
constexpr const char* kSecurityLibraryName = "libssl.so.3";
// SSL_read takes at most one record's plain text per call.
constexpr uint32_t kPlainReadPiece = 16384;
// Writes held up by a renegotiation get this many raw reads before the send gives up.
constexpr int kMaxWriteRetries = 50;

std::once_flag g_libraryOnce;
bool g_libraryLoaded = false;

// The text of the TLS library's first queued error, which the queue then forgets.
void LogOpenSslError(LogBase& log) {
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    log.addTag("openSslError", text);
  }
  ERR_clear_error();
}

bool IsIpLiteral(const char* host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// Lends the log of the running call to the certificate callback, which the TLS engine calls
// inside a handshake (the first one, or a renegotiation during a read or a write).
class LogLend {
 public:
  LogLend(LogBase*& slot, LogBase& log) : slot_(slot), previous_(slot) { slot_ = &log; }
  ~LogLend() { slot_ = previous_; }
  LogLend(const LogLend&) = delete;
  LogLend& operator=(const LogLend&) = delete;

 private:
  LogBase*& slot_;
  LogBase* previous_;
};

// The OpenSSL version number of a one-protocol mask; 0 for masks this build cannot offer.
int VersionOfMask(uint32_t mask) {
  switch (mask) {
    case kProtocolTls10: return TLS1_VERSION;
    case kProtocolTls11: return TLS1_1_VERSION;
    case kProtocolTls12: return TLS1_2_VERSION;
    case kProtocolTls13: return TLS1_3_VERSION;
    default: return 0;
  }
}

}  // namespace

void SChannelInfoCallback(const SSL* ssl, int where, int ret) {
  auto* channel = static_cast<SChannel*>(SSL_get_app_data(ssl));
  if (channel == nullptr) return;
  // For an alert, ret holds its level in the high byte and its description in the low one.
  if ((where & SSL_CB_ALERT) != 0 && (where & SSL_CB_READ) != 0 && (ret >> 8) == SSL3_AL_FATAL) {
    channel->peerFatalAlert_ = static_cast<uint8_t>(ret & 0xFF);
  }
  // A handshake starting after the first one is a renegotiation (TLS 1.2 and older; TLS 1.3
  // post-handshake messages are not).
  if ((where & SSL_CB_HANDSHAKE_START) == 0 || SSL_version(ssl) >= TLS1_3_VERSION) return;
  if (channel->handshakeDone_) channel->renegotiating_ = true;
}

namespace {

// The alerts servers send when they asked for a client certificate and got none:
// handshake_failure (TLS 1.2), certificate_required (TLS 1.3), or one about the certificate.
ClientCertificateProblem ProblemOfAlertWithoutCertificate(uint8_t alert) {
  switch (alert) {
    case SSL_AD_HANDSHAKE_FAILURE:
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_ACCESS_DENIED:
    case SSL_AD_CERTIFICATE_REQUIRED:
      return ClientCertificateProblem::kNotSent;
    default:
      return ClientCertificateProblem::kNone;
  }
}

// The alerts about a peer's certificate, after the client certificate went out.
ClientCertificateProblem ProblemOfAlertAboutCertificate(uint8_t alert) {
  switch (alert) {
    case SSL_AD_CERTIFICATE_EXPIRED:
      return ClientCertificateProblem::kExpired;
    case SSL_AD_UNKNOWN_CA:
      return ClientCertificateProblem::kUnknownIssuer;
    case SSL_AD_CERTIFICATE_REVOKED:
      return ClientCertificateProblem::kRevoked;
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_ACCESS_DENIED:
    case SSL_AD_CERTIFICATE_REQUIRED:
      return ClientCertificateProblem::kRefused;
    default:
      return ClientCertificateProblem::kNone;
  }
}

}  // namespace

ClientCertificateProblem SChannel::ClientCertRefusal() const {
  if (!clientCertRequested_ || peerFatalAlert_ == 0) return ClientCertificateProblem::kNone;
  return clientCertSent_ ? ProblemOfAlertAboutCertificate(peerFatalAlert_)
                         : ProblemOfAlertWithoutCertificate(peerFatalAlert_);
}

void SChannel::LogClientCertRefusal(LogBase& log) const {
  const ClientCertificateProblem problem = ClientCertRefusal();
  if (problem == ClientCertificateProblem::kNone) return;
  log.addError(problem == ClientCertificateProblem::kNotSent
                   ? "The server requires a client certificate; none was sent."
                   : "The server refused the client certificate.");
  log.addTagInt("tlsAlert", peerFatalAlert_);
}

const char* SecurityStatusName(uint32_t status) {
  switch (status) {
    case kSecEOk: return "SEC_E_OK";
    case kSecIContinueNeeded: return "SEC_I_CONTINUE_NEEDED";
    case kSecICompleteNeeded: return "SEC_I_COMPLETE_NEEDED";
    case kSecICompleteAndContinue: return "SEC_I_COMPLETE_AND_CONTINUE";
    case kSecIContextExpired: return "SEC_I_CONTEXT_EXPIRED";
    case kSecEInvalidHandle: return "SEC_E_INVALID_HANDLE";
    case kSecETargetUnknown: return "SEC_E_TARGET_UNKNOWN";
    case kSecEInternalError: return "SEC_E_INTERNAL_ERROR";
    case kSecEInvalidToken: return "SEC_E_INVALID_TOKEN";
    case kSecELogonDenied: return "SEC_E_LOGON_DENIED";
    case kSecEUnknownCredentials: return "SEC_E_UNKNOWN_CREDENTIALS";
    case kSecENoCredentials: return "SEC_E_NO_CREDENTIALS";
    case kSecEMessageAltered: return "SEC_E_MESSAGE_ALTERED";
    case kSecENoAuthenticatingAuthority: return "SEC_E_NO_AUTHENTICATING_AUTHORITY";
    case kSecEIncompleteMessage: return "SEC_E_INCOMPLETE_MESSAGE";
    case kSecEUntrustedRoot: return "SEC_E_UNTRUSTED_ROOT";
    case kSecEDecryptFailure: return "SEC_E_DECRYPT_FAILURE";
    default: return nullptr;
  }
}

void LogSecurityStatus(LogBase& log, uint32_t status) {
  if (const char* name = SecurityStatusName(status)) {
    log.addInfo(name);
  } else {
    log.addTagHex("scRet", status);
  }
}

uint32_t ProtocolMaskOf(const char* text) {
  StringBuffer name;
  if (text == nullptr || !name.assign(text)) return 0;
  name.trim();
  name.toLowerCase();
  // Collapse runs of white space into one space.
  std::string collapsed;
  bool space = false;
  for (char c : name.view()) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = true;
      continue;
    }
    if (space && !collapsed.empty()) collapsed += ' ';
    space = false;
    collapsed += c;
  }
  if (collapsed == "tls 1.0") return kProtocolTls10;
  if (collapsed == "tls 1.1") return kProtocolTls11;
  if (collapsed == "tls 1.2") return kProtocolTls12;
  if (collapsed == "tls 1.3") return kProtocolTls13;
  if (collapsed == "ssl 3.0") return kProtocolSsl3;
  if (collapsed == "ssl 2.0") return kProtocolSsl2;
  if (collapsed == "pct 1.0") return kProtocolPct1;
  return 0;
}

// Network bytes in are received straight into the network half of a BIO pair whose other half
// (input) the engine reads; network bytes out collect in a memory BIO (output). The engine
// owns input and output once it holds them; every handle is owned from the moment it exists.
struct SChannel::Session {
  // The engine goes first, then the network half of its pair.
  BioPtr network;
  SslPtr ssl;
  BIO* input = nullptr;
  BIO* output = nullptr;

  // A client engine for credentials, or null when a handle cannot be had.
  static std::unique_ptr<Session, SessionFree> Create(SSL_CTX* credentials) {
    std::unique_ptr<Session, SessionFree> session(new (std::nothrow) Session);
    if (!session) return nullptr;
    session->ssl.reset(SSL_new(credentials));
    BIO* in = nullptr;
    BIO* network = nullptr;
    if (!session->ssl || BIO_new_bio_pair(&in, kInputRing, &network, kInputRing) != 1) {
      return nullptr;
    }
    BioPtr input(in);
    session->network.reset(network);
    BioPtr output(BIO_new(BIO_s_mem()));
    if (!output) return nullptr;
    // An empty output reads as "nothing yet" rather than the end of the stream.
    BIO_set_mem_eof_return(output.get(), -1);
    session->input = input.release();
    session->output = output.release();
    SSL_set_bio(session->ssl.get(), session->input, session->output);
    return session;
  }
};

void SChannel::SessionFree::operator()(Session* session) const { delete session; }

SChannel::SChannel() = default;

SChannel::~SChannel() { Drop(); }

void SChannel::SetRequiredCertField(const char* name, const char* value) {
  requiredField_.assign(name != nullptr ? name : "");
  requiredValue_.assign(value != nullptr ? value : "");
}

bool SChannel::IsConnected() const {
  return credentials_ != nullptr && session_ != nullptr && socket_.IsConnected();
}

SChannel::CallScope::CallScope(SChannel& channel, uint32_t heartbeatMs,
                               ProgressMonitor* progress)
    : channel_(channel), heartbeatMs_(channel.heartbeatMs_), progress_(channel.progress_) {
  channel_.heartbeatMs_ = heartbeatMs;
  channel_.progress_ = progress;
  channel_.flags_.clear();
}

SChannel::CallScope::~CallScope() {
  channel_.heartbeatMs_ = heartbeatMs_;
  channel_.progress_ = progress_;
}

void SChannel::FreeHandles() {
  session_.reset();
  credentials_.reset();
  handshakeDone_ = false;
  renegotiating_ = false;
}

void SChannel::Drop() {
  FreeHandles();
  // Called from destructors, where no log is at hand; closing reports nothing anyway.
  LogNull quiet;
  socket_.Close(quiet);
}

SChannel::Dropper::~Dropper() {
  if (drop_) channel_.Drop();
}

void SChannel::ForcibleClose(LogBase& log) {
  FreeHandles();
  log.addInfo("Forcibly closing socket.");
  socket_.Close(log);
}

int SChannelCertCallback(SSL* ssl, void*) {
  auto* channel = static_cast<SChannel*>(SSL_get_app_data(ssl));
  if (channel != nullptr) channel->OfferClientCertificate(ssl);
  return 1;
}

namespace {

// Whether the server's list of acceptable issuers names the issuer of the credential's
// certificate or of a CA certificate sent with it (an empty list accepts any).
bool IssuerAccepted(const ClientCredential& credential, const STACK_OF(X509_NAME)* names) {
  if (names == nullptr || sk_X509_NAME_num(names) == 0) return true;
  auto named = [names](X509* cert) {
    for (int i = 0; i < sk_X509_NAME_num(names); ++i) {
      if (X509_NAME_cmp(sk_X509_NAME_value(names, i), X509_get_issuer_name(cert)) == 0) {
        return true;
      }
    }
    return false;
  };
  if (named(credential.certificate().x509())) return true;
  for (int i = 0; i < sk_X509_num(credential.chain()); ++i) {
    if (named(sk_X509_value(credential.chain(), i))) return true;
  }
  return false;
}

// Whether the certificate the server has shown so far verifies for host (chain, dates, usage
// and the name). Quiet: the verification after the handshake logs the reasons.
bool ServerCertificateVerifiesNow(SSL* ssl, const char* host) {
  X509* peer = SSL_get0_peer_certificate(ssl);
  if (peer == nullptr || host == nullptr || *host == '\0') return false;
  bool chainBuilt = false;
  uint32_t status = CertificatePolicyStatus(peer, SSL_get_peer_cert_chain(ssl), host, 0,
                                            chainBuilt);
  return chainBuilt && status == 0;
}

}  // namespace

void SChannel::OfferClientCertificate(SSL* ssl) {
  // Every call that can run a handshake lends its log; the fallback only guards a callback
  // from elsewhere.
  LogNull quiet;
  LogBase& log = handshakeLog_ != nullptr ? *handshakeLog_ : quiet;
  if (verbose_) log.addInfo("Incomplete credentials...");
  clientCertRequested_ = true;
  if (clientCredentials_.isEmpty()) {
    log.addInfo("The server asked for a client certificate; none is configured.");
    return;
  }
  // The server's Certificate has been processed when it asks (TLS 1.2 and 1.3), so an impostor
  // is found out before it can collect the certificate; without the requirement, certificate
  // problems only warn and the certificate goes out as before.
  if (requireVerified_ && !ServerCertificateVerifiesNow(ssl, host_.getString())) {
    log.addInfo("Not sending the client certificate: the server's certificate is not verified.");
    return;
  }
  const STACK_OF(X509_NAME)* issuers = SSL_get_client_CA_list(ssl);
  const ClientCredential* chosen = &clientCredentials_.at(0);
  for (int i = 0; i < clientCredentials_.count(); ++i) {
    if (IssuerAccepted(clientCredentials_.at(i), issuers)) {
      chosen = &clientCredentials_.at(i);
      break;
    }
  }
  log.addTag("ClientCertDN", chosen->certificate().subjectDn().getString());
  if (SSL_use_certificate(ssl, chosen->certificate().x509()) != 1 ||
      SSL_use_PrivateKey(ssl, chosen->key()) != 1 ||
      (chosen->chain() != nullptr && SSL_set1_chain(ssl, chosen->chain()) != 1)) {
    ERR_clear_error();
    LogSecurityStatus(log, kSecENoCredentials);
    log.addError("Failed to acquire credentials handle for new schannel");
    return;
  }
  clientCertSent_ = true;
}

bool SChannel::LoadSecurityLibrary(LogBase& log) {
  std::call_once(g_libraryOnce, [] {
    g_libraryLoaded = OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS, nullptr) == 1;
  });
  if (!g_libraryLoaded) {
    log.addError("Error loading security library");
    log.addTag("securityLib", kSecurityLibraryName);
  }
  return g_libraryLoaded;
}

bool SChannel::CreateCredentials(const ClientCredentialSet* clientCredentials, LogBase& log) {
  credentials_.reset();
  clientCredentials_.clear();
  SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  uint32_t status = kSecEOk;
  if (!ctx) {
    status = kSecEInternalError;
  } else {
    // The certificate is checked by hand after the handshake (manual validation).
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_info_callback(ctx.get(), SChannelInfoCallback);
    bool versionsSet;
    if (enabledProtocols_ == 0) {
      versionsSet = SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) == 1 &&
                    SSL_CTX_set_max_proto_version(ctx.get(), 0) == 1;
    } else {
      int version = VersionOfMask(enabledProtocols_);
      versionsSet = version != 0 && SSL_CTX_set_min_proto_version(ctx.get(), version) == 1 &&
                    SSL_CTX_set_max_proto_version(ctx.get(), version) == 1;
    }
    // A pinned version that this build or its security level cannot offer has no ciphers.
    if (versionsSet) {
      SslPtr probe(SSL_new(ctx.get()));
      CipherListPtr ciphers(probe ? SSL_get1_supported_ciphers(probe.get()) : nullptr);
      versionsSet = ciphers && sk_SSL_CIPHER_num(ciphers.get()) > 0;
    }
    if (!versionsSet) status = kSecEAlgorithmMismatch;
  }
  if (status == kSecEOk && clientCredentials != nullptr && !clientCredentials->isEmpty()) {
    // The certificates wait for the server's request (OfferClientCertificate).
    log.addTag("ClientCertDN", clientCredentials->at(0).certificate().subjectDn().getString());
    clientCredentials_ = *clientCredentials;
  }
  if (status == kSecEOk) SSL_CTX_set_cert_cb(ctx.get(), SChannelCertCallback, nullptr);
  if (status != kSecEOk) {
    ERR_clear_error();
    LogSecurityStatus(log, status);
    log.addError("Error returned by AcquireCredentialsHandle");
    return false;
  }
  credentials_ = std::move(ctx);
  return true;
}

bool SChannel::FlushEngineOutput(LogBase& log) {
  if (!session_) return true;
  char* bytes = nullptr;
  long length = BIO_get_mem_data(session_->output, &bytes);
  if (length <= 0) return true;
  uint32_t count = static_cast<uint32_t>(length);
  bool sent = socket_.SendBytes2(reinterpret_cast<const uint8_t*>(bytes), count,
                                 count < kRawSendChunk ? count : kRawSendChunk, heartbeatMs_,
                                 log, progress_);
  (void)BIO_reset(session_->output);
  return sent;
}

bool SChannel::ReadRaw(uint32_t maxBytes, LogBase& log) {
  char* room = nullptr;
  ossl_ssize_t free = BIO_nwrite0(session_->network.get(), &room);
  if (free <= 0 || room == nullptr) {
    log.addError("No room for received data");
    flags_.error = true;
    return false;
  }
  uint32_t size = static_cast<uint64_t>(free) < maxBytes ? static_cast<uint32_t>(free) : maxBytes;
  // Queued bytes are taken without a wait first; the wait, when needed, is the idle time-out in
  // heartbeat slices (no heartbeat: one wait).
  bool ok = socket_.ReceiveSome(reinterpret_cast<uint8_t*>(room), size, heartbeatMs_, log,
                                progress_, flags_);
  if (!ok) return false;
  if (size > 0) BIO_nwrite(session_->network.get(), &room, static_cast<int>(size));
  return true;
}

bool SChannel::PerformHandshake(LogBase& log) {
  session_ = Session::Create(credentials_.get());
  if (!session_) {
    LogSecurityStatus(log, kSecEInternalError);
    log.addTagHex("initialScRet", kSecEInternalError);
    log.addError("Error initializing security context");
    return false;
  }
  SSL* ssl = session_->ssl.get();
  SSL_set_app_data(ssl, this);
  SSL_set_connect_state(ssl);
  // The host name goes out as the server name indication; address literals are not names.
  if (!host_.isEmpty() && !IsIpLiteral(host_.getString())) {
    SSL_set_tlsext_host_name(ssl, host_.getString());
  }

  if (verbose_) log.addInfo("Calling InitializeSecurityContext (B)");
  int rc = SSL_do_handshake(ssl);
  if (rc != 1 && SSL_get_error(ssl, rc) != SSL_ERROR_WANT_READ) {
    LogOpenSslError(log);
    log.addTagHex("initialScRet", kSecEInternalError);
    log.addError("Error initializing security context");
    return false;
  }
  if (verbose_) {
    LogSecurityStatus(log, kSecIContinueNeeded);
    log.addInfo("Sending handshake data to server (B)");
  }
  if (!FlushEngineOutput(log)) {
    log.addError("Error sending data to server in client handshake");
    return false;
  }
  return ClientHandshakeLoop(true, log);
}

bool SChannel::ClientHandshakeLoop(bool readFirst, LogBase& log) {
  SSL* ssl = session_->ssl.get();
  LogLend lend(handshakeLog_, log);
  for (;;) {
    if (verbose_) log.addInfo("------------------ TOP OF LOOP ------------------");
    if (readFirst) {
      if (verbose_) log.addInfo("Receiving more from server...");
      if (!ReadRaw(kHandshakeArea, log)) {
        log.addTagInt("connectionClosed", flags_.closedByPeer ? 1 : 0);
        log.addTagInt("timedOut", flags_.timedOut ? 1 : 0);
        log.addError("Error reading data from server in handshake loop");
        LogSecurityStatus(log, kSecEInternalError);
            return false;
      }
    }
    readFirst = true;
    if (verbose_) log.addInfo("Calling InitializeSecurityContext (A)");
    int rc = SSL_do_handshake(ssl);
    int error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, rc);
    // Whatever the engine answered goes out, an alert after a failure included.
    if (verbose_ && BIO_ctrl_pending(session_->output) > 0) {
      log.addInfo("Sending handshake data to server. (A)");
    }
    if (!FlushEngineOutput(log)) {
      log.addError("Error sending data to server (2) in handshake loop");
        return false;
    }
    if (error == SSL_ERROR_NONE) {
      if (verbose_) {
        LogSecurityStatus(log, kSecEOk);
        log.addInfo("clientHandshakeLoop returning true.");
      }
      handshakeDone_ = true;
      return true;
    }
    if (error == SSL_ERROR_WANT_READ) {
      if (verbose_) LogSecurityStatus(log, kSecEIncompleteMessage);
      continue;
    }
    // A fatal error: a record that is not TLS is a badly formatted message.
    uint32_t status = kSecEInternalError;
    unsigned long code = ERR_peek_error();
    if (ERR_GET_LIB(code) == ERR_LIB_SSL) {
      status = kSecEIllegalMessage;
      log.addError("The message received was unexpected or badly formatted.");
    }
    LogOpenSslError(log);
    LogSecurityStatus(log, status);
    LogClientCertRefusal(log);
    log.addError("Aborting SSL client handshake because of fatal error");
    if (verbose_) log.addInfo("clientHandshakeLoop returning false.");
    return false;
  }
}

bool SChannel::EstablishChannel(LogBase& log, bool& dnsFailed, uint32_t heartbeatMs,
                                ProgressMonitor* progress,
                                const ClientCredentialSet* clientCredentials) {
  LogContextGuard context(log, "EstablishChannel", verbose_);

  serverCert_.reset();
  serverCertVerified_ = false;
  serverCertStatus_ = 0;
  clientCertRequested_ = false;
  clientCertSent_ = false;
  peerFatalAlert_ = 0;
  failure_ = ChannelFailure::None;
  connectFailure_ = ConnectFailure::None;
  dnsFailed = false;
  protocolName_.clear();
  cipherName_.clear();
  CallScope call(*this, heartbeatMs, progress);

  if (!LoadSecurityLibrary(log)) {
    failure_ = ChannelFailure::SecurityLibrary;
    return false;
  }
  // Every way out before the end frees the session and closes the socket.
  Dropper dropOnFailure(*this);
  if (!CreateCredentials(clientCredentials, log)) {
    log.addError("Error creating credentials");
    failure_ = ChannelFailure::Credentials;
    return false;
  }
  if (!socket_.ConnectDispatch(host_.getString(), port_, heartbeatMs, log, dnsFailed,
                               progress)) {
    failure_ = ChannelFailure::Connect;
    connectFailure_ = socket_.ConnectFailReason();
    if (connectFailure_ == ConnectFailure::None) connectFailure_ = ConnectFailure::Connect;
    return false;
  }
  if (!PerformHandshake(log)) {
    failure_ = ChannelFailure::Handshake;
    log.addError("Error performing handshake");
    return false;
  }

  X509* peer = SSL_get0_peer_certificate(session_->ssl.get());
  if (peer == nullptr) {
    failure_ = ChannelFailure::NoServerCertificate;
    log.addError("Error querying remote certificate");
    return false;
  }
  serverCertVerified_ = VerifyServerCertificate(peer, SSL_get_peer_cert_chain(session_->ssl.get()),
                                                host_.getString(), 0, verbose_, log,
                                                &serverCertStatus_);
  serverCertSelfIssued_ =
      X509_NAME_cmp(X509_get_subject_name(peer), X509_get_issuer_name(peer)) == 0;
  if (serverCertVerified_) {
    log.addInfo("SSL Server Certificate verified");
  } else {
    log.addInfo("(warning) SSL Server Certificate not verified");
    if (requireVerified_) {
      log.addError("Failed to verify server certificate");
      failure_ = ChannelFailure::NotVerified;
      return false;
    }
  }
  serverCert_ = Certificate::FromX509(peer, SSL_get_peer_cert_chain(session_->ssl.get()));
  if (!serverCert_) {
    log.addError("Out of memory");
    failure_ = ChannelFailure::NoServerCertificate;
    return false;
  }
  LogConnectionInfo(log);
  if (!CheckRequiredField(log)) {
    failure_ = ChannelFailure::RequiredField;
    return false;
  }
  dropOnFailure.keep();
  log.addInfo("Secure Channel Established.");
  return true;
}

void SChannel::LogConnectionInfo(LogBase& log) {
  SSL* ssl = session_->ssl.get();
  const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
  if (cipher == nullptr) {
    log.addError("Error querying context attributes");
    return;
  }
  LogContextGuard context(log, "ConnectionInfo");
  protocolName_.assign(SSL_get_version(ssl));
  cipherName_.assign(SSL_CIPHER_get_name(cipher));
  log.addTag("protocol", protocolName_.getString());
  log.addTag("cipher", cipherName_.getString());
  log.addTagInt("cipherStrength", SSL_CIPHER_get_bits(cipher, nullptr));
  const EVP_MD* digest = SSL_CIPHER_get_handshake_digest(cipher);
  log.addTag("hash", digest != nullptr ? EVP_MD_get0_name(digest) : "");
  log.addTagInt("hashStrength", digest != nullptr ? EVP_MD_get_size(digest) * 8 : 0);
  // TLS 1.3 names no key exchange in the suite: the negotiated group says it.
  int kx = SSL_CIPHER_get_kx_nid(cipher);
  const char* kxName = OBJ_nid2sn(kx);
  if (kx == NID_kx_any) {
    const char* group = SSL_group_to_name(ssl, static_cast<int>(SSL_get_negotiated_group(ssl)));
    if (group != nullptr) kxName = group;
  }
  log.addTag("keyExchange", kxName != nullptr ? kxName : "");
  EVP_PKEY* peerKey = nullptr;
  int bits = 0;
  if (SSL_get_peer_tmp_key(ssl, &peerKey) == 1) {
    EvpPkeyPtr key(peerKey);
    if (key) bits = EVP_PKEY_get_bits(key.get());
  }
  log.addTagInt("keyExchangeStrength", bits);
}

bool SChannel::CheckRequiredField(LogBase& log) {
  if (requiredField_.isEmpty() || requiredValue_.isEmpty()) return true;
  StringBuffer value;
  const char* field = requiredField_.getString();
  if (std::strcmp(field, "issuerdn") == 0) {
    value.assign(serverCert_->issuerDn());
  } else if (std::strcmp(field, "issuercn") == 0) {
    serverCert_->issuerPart("CN", value);
  } else if (std::strcmp(field, "subjectdn") == 0) {
    value.assign(serverCert_->subjectDn());
  } else if (std::strcmp(field, "subjectcn") == 0) {
    serverCert_->subjectPart("CN", value);
  } else {
    return true;
  }
  if (value.equals(requiredValue_)) return true;
  log.addError("SSL server certificate fails to match requirement");
  log.addTag("requireName", field);
  log.addTag("requireValue", requiredValue_.getString());
  log.addTag("certValue", value.getString());
  socket_.Close(log);
  serverCert_.reset();
  return false;
}

bool SChannel::SendBytes(const uint8_t* data, uint32_t length, uint32_t heartbeatMs,
                         LogBase& log, ProgressMonitor* progress) {
  if (length == 0) return true;
  CallScope call(*this, heartbeatMs, progress);
  for (uint32_t done = 0; done < length;) {
    uint32_t piece = length - done < kMaxPlainPiece ? length - done : kMaxPlainPiece;
    if (!SendSecure(data + done, piece, log)) return false;
    done += piece;
  }
  return true;
}

bool SChannel::SendSecure(const uint8_t* data, uint32_t length, LogBase& log) {
  LogContextGuard context(log, "SendSecure", verbose_);

  if (!g_libraryLoaded) {
    log.addError("(SendSecure) Cannot send data, security library not loaded");
    return false;
  }
  if (!session_) {
    log.addError("(SendSecure) Cannot send data, not connected.");
    return false;
  }
  if (!credentials_) {
    log.addError("(SendSecure) Cannot send data, no client credentials exist");
    return false;
  }
  if (length > SSL3_RT_MAX_PLAIN_LENGTH) {
    log.addError("Message is too large for secure send");
    return false;
  }
  // A renegotiation may ask for the client certificate meanwhile.
  LogLend lend(handshakeLog_, log);
  for (int attempt = 0;; ++attempt) {
    int rc = SSL_write(session_->ssl.get(), data, static_cast<int>(length));
    if (rc > 0) break;
    // A renegotiation in progress needs the server's answer before the record can go.
    if (SSL_get_error(session_->ssl.get(), rc) == SSL_ERROR_WANT_READ &&
        attempt < kMaxWriteRetries &&
        FlushEngineOutput(log) && ReadRaw(kRawReadBlock, log)) {
      continue;
    }
    LogOpenSslError(log);
    log.addError("Failed to encrypt secure send request");
    return false;
  }
  if (!FlushEngineOutput(log)) {
    log.addError("Failed to send secure");
    return false;
  }
  return true;
}

bool SChannel::ReceiveBytes(DataBuffer& out, uint32_t heartbeatMs, LogBase& log,
                            ProgressMonitor* progress, SocketFlags& flags) {
  CallScope call(*this, heartbeatMs, progress);
  bool endOfSession = false;
  if (verbose_) log.addInfo("s2_ReceiveBytes...");
  bool ok = RecvSecure(out, log, endOfSession);
  flags = flags_;
  flags.endOfSession = endOfSession;
  flags.closedByPeer = flags_.closedByPeer || !socket_.IsConnected();
  if (verbose_) {
    log.addTagInt("s2_ReceiveBytes.RecvSecure.b", ok ? 1 : 0);
    log.addTagInt("s2_ReceiveBytes.RecvSecure.bConnectionClosed", flags.closedByPeer ? 1 : 0);
    log.addTagInt("s2_ReceiveBytes.RecvSecure.bEndOfSession", endOfSession ? 1 : 0);
  }
  return ok;
}

bool SChannel::RecvSecure(DataBuffer& out, LogBase& log, bool& endOfSession) {
  LogContextGuard context(log, "RecvSecure", verbose_);

  if (!g_libraryLoaded) {
    log.addError("(RecvSecure) Cannot send data, security library not loaded");
    flags_.error = true;
    return false;
  }
  if (!session_) {
    log.addError("(RecvSecure) Cannot send data, not connected.");
    flags_.error = true;
    return false;
  }
  if (!credentials_) {
    log.addError("(RecvSecure) Cannot send data, no client credentials exist");
    flags_.error = true;
    return false;
  }
  SSL* ssl = session_->ssl.get();
  // A renegotiation may ask for the client certificate meanwhile.
  LogLend lend(handshakeLog_, log);
  if (verbose_ && BIO_ctrl_pending(session_->input) > 0) {
    log.addTagInt("extraConnectDataSize", static_cast<int32_t>(BIO_ctrl_pending(session_->input)));
  }
  const uint32_t startLength = out.length();
  for (;;) {
    // Every complete record held is decrypted; a partial one stays as pending input.
    for (;;) {
      // Room for at least one record, grown by an eighth so a long body is not moved often.
      if (out.capacity() - out.length() < kPlainReadPiece &&
          !out.reserve(out.length() + kPlainReadPiece + out.length() / 8)) {
        log.addError("Out of memory");
        flags_.error = true;
        return false;
      }
      int n = SSL_read(ssl, out.data() + out.length(), static_cast<int>(kPlainReadPiece));
      if (n > 0) {
        out.setLength(out.length() + static_cast<uint32_t>(n));
        continue;
      }
      int error = SSL_get_error(ssl, n);
      // The engine may have answered a renegotiation request or a key update.
      if (!FlushEngineOutput(log)) {
        log.addError("Failed to read SChannel response (3)");
        flags_.error = true;
        return false;
      }
      if (renegotiating_) {
        renegotiating_ = false;
        log.addInfo("Server requested renegotiate.");
      }
      if (error == SSL_ERROR_WANT_READ) break;
      if (error == SSL_ERROR_ZERO_RETURN) {
        // Data that came before the close-notify is delivered first.
        if (out.length() > startLength) return true;
        log.addError("End of session has been signalled.");
        endOfSession = true;
        ShutdownChannel(true, log);
        if (verbose_) log.addInfo("Returning true (1)");
        return true;
      }
      LogOpenSslError(log);
      log.addTagHex("SysErrorCode", kSecEDecryptFailure);
      log.addError("Error in DecryptMessage (2)");
      LogClientCertRefusal(log);
      flags_.error = true;
      return false;
    }
    if (out.length() > startLength) return true;
    if (verbose_) log.addInfo("Reading more from server...");
    if (!ReadRaw(kRawReadBlock, log)) {
      log.addError("Failed to read SChannel response (3)");
      return false;
    }
  }
}

bool SChannel::ShutdownChannel(bool closeSocket, uint32_t heartbeatMs, LogBase& log,
                               ProgressMonitor* progress) {
  CallScope call(*this, heartbeatMs, progress);
  return ShutdownChannel(closeSocket, log);
}

bool SChannel::ShutdownChannel(bool closeSocket, LogBase& log) {
  LogContextGuard context(log, "ShutdownChannel", verbose_);

  const char* refusal = nullptr;
  if (!session_) {
    refusal = "Cannot shutdown channel, no context exists";
  } else if (!credentials_) {
    refusal = "Cannot shutdown channel, no credentials exist";
  } else if (!g_libraryLoaded) {
    refusal = "Cannot shutdown channel, security library not loaded";
  }
  if (refusal != nullptr) {
    log.addError(refusal);
    ForcibleClose(log);
    return false;
  }
  log.addInfo("Shutting down SChannel");
  if (SSL_shutdown(session_->ssl.get()) < 0 && BIO_ctrl_pending(session_->output) == 0) {
    LogOpenSslError(log);
    log.addError("Error in ApplyControlToken");
    ForcibleClose(log);
    return false;
  }
  ERR_clear_error();
  // A peer that already closed the connection gets no close-notify.
  if (socket_.IsConnected() && !FlushEngineOutput(log)) {
    log.addError("Error sending close notify");
    ForcibleClose(log);
    return false;
  }
  FreeHandles();
  if (closeSocket) {
    log.addInfo("socket shutdown.");
    socket_.Close(log);
  }
  log.addInfo("Secure Channel Shutdown Complete.");
  return true;
}

}  // namespace quillon
