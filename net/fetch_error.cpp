#include "net/fetch_error.h"

#include <string>

#include "net/certificate.h"
#include "net/quillon_socket.h"
#include "net/schannel.h"
#include "net/socket_errors.h"

namespace quillon {

bool FetchError::set(FetchErrorKind found) {
  if (kind == FetchErrorKind::kNone) kind = found;
  return false;
}

void FetchError::clear() {
  kind = FetchErrorKind::kNone;
  certificate = CertificateProblem::kNone;
  login = LoginProblem::kNone;
  clientCertificate = ClientCertificateProblem::kNone;
  systemError = 0;
  status = 0;
  limit = 0;
  host.clear();
  port = 0;
  statusText.clear();
}

CertificateProblem CertificateProblemOf(uint32_t policyStatus, bool selfIssued) {
  switch (policyStatus) {
    case 0:
      return CertificateProblem::kNone;
    case kCertEUntrustedRoot:
    case kCertEChaining:
    case kCertEUntrustedTestRoot:
      return selfIssued ? CertificateProblem::kSelfSigned : CertificateProblem::kUntrustedRoot;
    case kCertEExpired:
    case kCertEValidityPeriodNesting:
      return CertificateProblem::kExpired;
    case kCertECnNoMatch:
      return CertificateProblem::kWrongHost;
    default:
      return CertificateProblem::kOther;
  }
}

namespace {

FetchErrorKind KindOfConnectError(int winsockCode) {
  switch (winsockCode) {
    case kWsaEConnRefused:
      return FetchErrorKind::kConnectRefused;
    case kWsaEConnReset:
    case kWsaEConnAborted:
      return FetchErrorKind::kConnectReset;
    case kWsaETimedOut:
      return FetchErrorKind::kConnectTimedOut;
    case kWsaENetUnreach:
    case kWsaENetDown:
      return FetchErrorKind::kNetworkUnreachable;
    case kWsaEHostUnreach:
    case kWsaEHostDown:
      return FetchErrorKind::kHostUnreachable;
    default:
      return FetchErrorKind::kConnectFailed;
  }
}

FetchErrorKind KindOfSocketConnect(const QuillonSocket& socket) {
  switch (socket.ConnectFailReason()) {
    case ConnectFailure::NoHost:
      return FetchErrorKind::kAddressUnusable;
    case ConnectFailure::Lookup:
    case ConnectFailure::LookupTimeout:
      return FetchErrorKind::kNameNotResolved;
    case ConnectFailure::Aborted:
      return FetchErrorKind::kStopped;
    case ConnectFailure::ConnectTimeout:
      return FetchErrorKind::kConnectTimedOut;
    case ConnectFailure::NoSocket:
    case ConnectFailure::None:
      return FetchErrorKind::kConnectFailed;
    case ConnectFailure::Connect:
      return KindOfConnectError(socket.ConnectSystemError());
  }
  return FetchErrorKind::kConnectFailed;
}

FetchErrorKind KindOfChannelFailure(const SChannel& channel) {
  switch (channel.FailureCode()) {
    case ChannelFailure::NotVerified:
      return FetchErrorKind::kCertificateNotTrusted;
    case ChannelFailure::RequiredField:
      return FetchErrorKind::kCertificateRefused;
    case ChannelFailure::Handshake:
      return channel.ClientCertRefusal() != ClientCertificateProblem::kNone
                 ? FetchErrorKind::kClientCertificateRefused
                 : FetchErrorKind::kTlsHandshakeFailed;
    default:
      return FetchErrorKind::kTlsHandshakeFailed;
  }
}

void AssignText(StringBuffer& text, const std::string& value) {
  text.assign(value.data(), static_cast<uint32_t>(value.size()));
}

const char* CertificateProblemText(CertificateProblem problem) {
  switch (problem) {
    case CertificateProblem::kSelfSigned:
      return ": self-signed";
    case CertificateProblem::kUntrustedRoot:
      return ": issued by an unknown authority";
    case CertificateProblem::kExpired:
      return ": expired or not yet valid";
    case CertificateProblem::kWrongHost:
      return ": it names another host";
    case CertificateProblem::kOther:
    case CertificateProblem::kNone:
      break;
  }
  return "";
}

const char* ClientCertificateProblemText(ClientCertificateProblem problem) {
  switch (problem) {
    case ClientCertificateProblem::kNotSent:
      return "client certificate required: none was sent";
    case ClientCertificateProblem::kExpired:
      return "client certificate refused: expired or not yet valid";
    case ClientCertificateProblem::kUnknownIssuer:
      return "client certificate refused: issued by an authority the server does not trust";
    case ClientCertificateProblem::kRevoked:
      return "client certificate refused: revoked";
    case ClientCertificateProblem::kRefused:
    case ClientCertificateProblem::kNone:
      break;
  }
  return "client certificate refused by the server";
}

}  // namespace

void SetConnectError(const QuillonSocket& socket, const SChannel* channel, const char* host,
                     int port, bool viaProxy, FetchError& error) {
  if (error.failed()) return;
  const bool tlsFailed = channel != nullptr && channel->FailureCode() != ChannelFailure::Connect &&
                         channel->FailureCode() != ChannelFailure::None;
  FetchErrorKind kind = tlsFailed ? KindOfChannelFailure(*channel) : KindOfSocketConnect(socket);
  if (viaProxy && kind != FetchErrorKind::kStopped) kind = FetchErrorKind::kProxyFailed;
  error.set(kind);
  error.host.assign(host != nullptr ? host : "");
  error.port = port;
  error.systemError = socket.ConnectSystemError();
  if (kind == FetchErrorKind::kCertificateNotTrusted) error.certificate = channel->ServerCertProblem();
  if (kind == FetchErrorKind::kClientCertificateRefused) {
    error.clientCertificate = channel->ClientCertRefusal();
  }
}

bool NoteClientCertificateAlert(const SChannel* channel, FetchError& error) {
  if (channel == nullptr || channel->ClientCertRefusal() == ClientCertificateProblem::kNone) {
    return false;
  }
  // The alert is the cause; the read failure it produced is only its symptom.
  error.kind = FetchErrorKind::kClientCertificateRefused;
  error.clientCertificate = channel->ClientCertRefusal();
  return true;
}

void DescribeFetchError(const FetchError& error, StringBuffer& text) {
  text.clear();
  switch (error.kind) {
    case FetchErrorKind::kNone:
      return;
    case FetchErrorKind::kAddressUnusable:
      text.assign("not a usable address");
      return;
    case FetchErrorKind::kUrlTooLong:
      AssignText(text, "address longer than " + std::to_string(error.limit) + " characters");
      return;
    case FetchErrorKind::kNameNotResolved:
      text.assign("could not resolve host ");
      text.append(error.host);
      return;
    case FetchErrorKind::kConnectRefused:
      text.assign("connection refused");
      return;
    case FetchErrorKind::kConnectReset:
      text.assign("connection reset by the server");
      return;
    case FetchErrorKind::kConnectTimedOut:
      text.assign("connection timed out");
      return;
    case FetchErrorKind::kNetworkUnreachable:
      text.assign("network unreachable");
      return;
    case FetchErrorKind::kHostUnreachable:
      text.assign("host unreachable");
      return;
    case FetchErrorKind::kConnectFailed:
      text.assign("could not connect to the server");
      return;
    case FetchErrorKind::kProxyFailed:
      AssignText(text, "could not connect to the proxy " + std::string(error.host.view()) + ":" +
                           std::to_string(error.port));
      return;
    case FetchErrorKind::kTlsHandshakeFailed:
      text.assign("TLS handshake failed");
      return;
    case FetchErrorKind::kCertificateNotTrusted:
      text.assign("certificate not trusted");
      text.append(CertificateProblemText(error.certificate));
      return;
    case FetchErrorKind::kCertificateRefused:
      text.assign("the server's certificate was refused");
      return;
    case FetchErrorKind::kClientCertificateRefused:
      text.assign(ClientCertificateProblemText(error.clientCertificate));
      return;
    case FetchErrorKind::kSendFailed:
      text.assign("the request could not be sent");
      return;
    case FetchErrorKind::kHeadTooLarge:
      text.assign("response header too large");
      return;
    case FetchErrorKind::kHeadInvalid:
    case FetchErrorKind::kBodyInvalid:
      text.assign("invalid response from the server");
      return;
    case FetchErrorKind::kHeadCutOff:
      text.assign("the server closed the connection before answering");
      return;
    case FetchErrorKind::kHeadTimedOut:
    case FetchErrorKind::kBodyTimedOut:
      text.assign("timed out waiting for the server");
      return;
    case FetchErrorKind::kBodyTooLarge:
      AssignText(text, "larger than the page size limit of " + std::to_string(error.limit) +
                           " bytes");
      return;
    case FetchErrorKind::kBodyCutOff:
      text.assign("the server closed the connection");
      return;
    case FetchErrorKind::kContentDecoding:
      text.assign("the compressed body could not be decoded");
      return;
    case FetchErrorKind::kContentTypeRefused:
      text.assign("not of the required content type");
      return;
    case FetchErrorKind::kTooManyRedirects:
      text.assign("too many redirects");
      return;
    case FetchErrorKind::kRedirectWithoutLocation:
      text.assign("redirect without a location");
      return;
    case FetchErrorKind::kRedirectToNotFound:
      text.assign("redirected to a page-not-found page");
      return;
    case FetchErrorKind::kLoginRefused:
      text.assign(error.login == LoginProblem::kNtlmNeedsDomain
                      ? "login refused: NTLM needs DOMAIN\\NAME"
                      : "login refused");
      return;
    case FetchErrorKind::kHttpStatus:
      AssignText(text, "HTTP " + std::to_string(error.status));
      if (!error.statusText.isEmpty()) {
        text.appendChar(' ');
        text.append(error.statusText);
      }
      return;
    case FetchErrorKind::kStopped:
      text.assign("stopped");
      return;
    case FetchErrorKind::kOutOfMemory:
      text.assign("out of memory");
      return;
    case FetchErrorKind::kFailed:
      text.assign("the fetch failed");
      return;
  }
}

void DescribeFetchWarning(FetchWarningKind kind, const FetchWarnings& warnings,
                          StringBuffer& text) {
  text.clear();
  switch (kind) {
    case FetchWarningKind::kCertificateNotVerified:
      text.assign("certificate not trusted");
      text.append(CertificateProblemText(warnings.certificate));
      return;
    case FetchWarningKind::kCookieNotSaved:
      text.assign("cookies could not be saved");
      return;
    case FetchWarningKind::kCacheNotWritten:
      text.assign("a cache entry could not be written");
      return;
    case FetchWarningKind::kCharsetUnknown:
      text.assign("a page names a charset this program does not know; its bytes were kept");
      return;
    case FetchWarningKind::kScriptBuiltLinks:
      text.assign("this page may build its links with JavaScript; try --render-js");
      return;
    case FetchWarningKind::kNotRendered:
      text.assign("not rendered; its raw links were kept");
      return;
  }
}

}  // namespace quillon
