// The one list of ways a fetch can fail, from the address and the name lookup to the HTTP
// answer, each with its one-line text for people, and the warnings a fetch can bring beside
// success. A failure is named where it is found, as a value with its details, and carried up
// unchanged; the error log keeps the whole story for people and nothing reads it back.
#pragma once

#include <cstdint>

#include "base/string_buffer.h"

namespace quillon {

class QuillonSocket;
class SChannel;

enum class FetchErrorKind : uint8_t {
  kNone,
  kAddressUnusable,   // not an address the client can request (parse, port, CR or LF)
  kUrlTooLong,        // limit: the longest address allowed
  kNameNotResolved,   // host
  kConnectRefused,    // host, port
  kConnectReset,
  kConnectTimedOut,
  kNetworkUnreachable,
  kHostUnreachable,
  kConnectFailed,     // systemError: the Winsock code
  kProxyFailed,       // host, port: the proxy's
  kTlsHandshakeFailed,
  kCertificateNotTrusted,  // certificate: why (only when a verified certificate is required)
  kCertificateRefused,     // the certificate lacks a required field value
  kClientCertificateRefused,  // clientCertificate: none was sent, or why it was refused
  kSendFailed,
  kHeadTooLarge,      // limit
  kHeadInvalid,       // no status line and not HTML, or a length that does not fit
  kHeadCutOff,        // the server closed the connection before the head was complete
  kHeadTimedOut,
  kBodyTooLarge,      // limit
  kBodyCutOff,
  kBodyTimedOut,
  kBodyInvalid,       // chunked framing that cannot be read
  kContentDecoding,   // the gzip body could not be inflated
  kContentTypeRefused,
  kTooManyRedirects,
  kRedirectWithoutLocation,
  kRedirectToNotFound,
  kLoginRefused,      // login: why
  kHttpStatus,        // status, statusText
  kStopped,           // the application ended the fetch
  kOutOfMemory,
  kFailed,            // none of the above; the log tells
};

// Why a server certificate did not verify.
enum class CertificateProblem : uint8_t {
  kNone,
  kSelfSigned,     // signed by itself, not by an authority the trust store holds
  kUntrustedRoot,  // issued by an authority the trust store does not hold
  kExpired,        // expired or not yet valid
  kWrongHost,      // issued for another host name
  kOther,          // usage, chain or signature
};

// Why a server refused the client certificate (or its absence), from its TLS alert or its page.
enum class ClientCertificateProblem : uint8_t {
  kNone,
  kNotSent,        // the server requires one and none was sent
  kExpired,        // expired or not yet valid
  kUnknownIssuer,  // issued by an authority the server does not trust
  kRevoked,
  kRefused,        // refused without a reason
};

// Why a login was refused.
enum class LoginProblem : uint8_t { kNone, kRefused, kNtlmNeedsDomain };

struct FetchError {
  FetchErrorKind kind = FetchErrorKind::kNone;
  CertificateProblem certificate = CertificateProblem::kNone;
  LoginProblem login = LoginProblem::kNone;
  ClientCertificateProblem clientCertificate = ClientCertificateProblem::kNone;
  int systemError = 0;
  int status = 0;
  uint64_t limit = 0;
  StringBuffer host;
  int port = 0;
  StringBuffer statusText;

  bool failed() const { return kind != FetchErrorKind::kNone; }
  // Names the failure unless one was named already: the first, innermost finding stands.
  // Returns false, so a failing step can end with "return error.set(...)".
  bool set(FetchErrorKind found);
  void clear();
};

// What went wrong beside a fetch that succeeded. A fetch collects each kind once.
enum class FetchWarningKind : uint8_t {
  kCertificateNotVerified,  // certificate holds the problem
  kCookieNotSaved,
  kCacheNotWritten,
  kCharsetUnknown,
  // Told by the crawl engine about a page, never by a fetch.
  kScriptBuiltLinks,  // a page with scripts and no link: rendering may find its links
  kNotRendered,       // a page the browser could not render; its own links were kept
};

struct FetchWarnings {
  uint32_t kinds = 0;  // one bit per FetchWarningKind
  CertificateProblem certificate = CertificateProblem::kNone;

  void add(FetchWarningKind kind) { kinds |= 1u << static_cast<unsigned>(kind); }
  bool has(FetchWarningKind kind) const { return (kinds & (1u << static_cast<unsigned>(kind))) != 0; }
  bool any() const { return kinds != 0; }
  void clear() { *this = FetchWarnings{}; }
};

// The problem a certificate policy status (a CERT_E_* code; 0 when verified) stands for; an
// untrusted root that issued itself is self-signed.
CertificateProblem CertificateProblemOf(uint32_t policyStatus, bool selfIssued);

// The connect failure of socket (and, over TLS, of channel, which may be null) as a kind with
// its details: host and port as dialled, the system error. viaProxy names a proxy failure.
void SetConnectError(const QuillonSocket& socket, const SChannel* channel, const char* host,
                     int port, bool viaProxy, FetchError& error);

// A TLS read on channel (null: not TLS) that failed because the server refused the client
// certificate: TLS 1.3 servers send that alert after the handshake, so it arrives at the first
// read. Names the refusal in place of the read failure named already and returns true; false,
// error untouched, when the channel saw no such refusal.
bool NoteClientCertificateAlert(const SChannel* channel, FetchError& error);

// The one line a person is told: "connection refused", "certificate not trusted: expired or
// not yet valid", "HTTP 404 Not Found". Replaces text.
void DescribeFetchError(const FetchError& error, StringBuffer& text);

// The warning for people: "certificate not trusted: self-signed or issued by an unknown
// authority", "cookie file not saved". Replaces text.
void DescribeFetchWarning(FetchWarningKind kind, const FetchWarnings& warnings,
                          StringBuffer& text);

}  // namespace quillon
