#include "http/fetch_failure.h"

#include <string>

#include "http/http_control.h"
#include "http/http_result.h"
#include "http/parse_url.h"

namespace quillon {
namespace {

struct LogClue {
  std::string_view line;    // a text the client logs on this failure
  std::string_view reason;  // what the user is told
};

// The most telling line first: a failed connect also logs the generic connect lines.
constexpr LogClue kClues[] = {
    {"WSAECONNREFUSED", "connection refused"},
    {"WSAECONNRESET", "connection reset by the server"},
    {"WSAETIMEDOUT", "connection timed out"},
    {"WSAENETUNREACH", "network unreachable"},
    {"WSAEHOSTUNREACH", "host unreachable"},
    {"Failed to verify server certificate", "certificate not trusted"},
    {"SSL server certificate fails to match requirement", "the server's certificate was refused"},
    {"Error initializing security context", "TLS handshake failed"},
    {"The message received was unexpected or badly formatted.", "TLS handshake failed"},
    {"Response header too large.", "response header too large"},
    {"HTTP server closed the connection before the response head could be read.",
     "the server closed the connection before answering"},
    {"The peer has closed the socket (TCP) connection", "the server closed the connection"},
    {"Timeout trying to read HTTP response header", "timed out waiting for the server"},
    {"WaitForData timed out.", "timed out waiting for the server"},
    {"Timeout waiting to read socket", "timed out waiting for the server"},
    {"Socket send idle timeout", "timed out sending the request"},
    {"Got 301/302 redirect, but no new location.", "redirect without a location"},
    {"This is actually a page-not-found error.", "redirected to a page-not-found page"},
    {"Invalid response header received", "invalid response from the server"},
    {"Invalid Content-Length.", "invalid response from the server"},
    {"Invalid port number", "invalid port number"},
    {"Failed to parse URL", "not a usable address"},
    {"The request target holds a CR or LF character.", "not a usable address"},
    {"Out of memory", "out of memory"},
    {"Failed to connect to HTTP server.", "could not connect to the server"},
};

constexpr std::string_view kTooLargeLines[] = {"Content length more than the maximum allowed",
                                               "Chunked response is too large."};
constexpr std::string_view kStopLines[] = {"aborted by app", "Application aborted",
                                           "aborted by application"};
constexpr std::string_view kLookupFailedLines[] = {"Domain name lookup failed",
                                                   "Cannot get host by name."};
constexpr std::string_view kUrlTooLong = "URL is longer than the maximum allowed length.";
constexpr std::string_view kNotVerified = "Failed to verify server certificate";
constexpr std::string_view kNtlmNoDomain = "NTLM Authentication failed, no domain.";

// Why a certificate that had to be verified was not, as the verification logged it.
struct CertClue {
  std::string_view line;
  std::string_view detail;
};
constexpr CertClue kCertClues[] = {
    {"WinVerifyTrustWarning: CERT_E_CN_NO_MATCH", ": it names another host"},
    {"WinVerifyTrustWarning: CERT_E_EXPIRED", ": expired or not yet valid"},
    {"WinVerifyTrustWarning", ""},
};
// An untrusted root is the one refusal the verification does not name.
constexpr std::string_view kUnknownIssuer = ": issued by an unknown authority";

bool Holds(std::string_view text, std::string_view line) {
  return text.find(line) != std::string_view::npos;
}

template <size_t N>
bool HoldsAny(std::string_view text, const std::string_view (&lines)[N]) {
  for (std::string_view line : lines) {
    if (Holds(text, line)) return true;
  }
  return false;
}

void SetReason(StringBuffer& reason, const std::string& text) {
  reason.assign(text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

FetchFailureKind DescribeFetchFailure(const char* url, const HttpResult& result,
                                      const HttpControl& settings, std::string_view logText,
                                      StringBuffer& reason) {
  reason.clear();
  if (HoldsAny(logText, kStopLines)) {
    reason.assign("stopped");
    return FetchFailureKind::Stopped;
  }
  if (HoldsAny(logText, kTooLargeLines)) {
    SetReason(reason, "larger than the page size limit of " +
                          std::to_string(settings.maxContentLength) + " bytes");
    return FetchFailureKind::TooLarge;
  }
  const int status = result.header.statusCode;
  if (Holds(logText, kNotVerified)) {
    reason.assign("certificate not trusted");
    std::string_view detail = kUnknownIssuer;
    for (const CertClue& clue : kCertClues) {
      if (Holds(logText, clue.line)) {
        detail = clue.detail;
        break;
      }
    }
    reason.append(detail);
    return FetchFailureKind::Failed;
  }
  if (status == 401 && !settings.login.isEmpty()) {
    reason.assign(Holds(logText, kNtlmNoDomain) ? "login refused: NTLM needs DOMAIN\\NAME"
                                                : "login refused");
    return FetchFailureKind::Failed;
  }
  if (status >= 400) {
    std::string text = "HTTP " + std::to_string(status);
    if (!result.header.reasonText.isEmpty()) {
      text += " " + std::string(result.header.reasonText.view());
    }
    SetReason(reason, text);
    return FetchFailureKind::Failed;
  }
  if (Holds(logText, kUrlTooLong)) {
    SetReason(reason, "address longer than " + std::to_string(settings.maxUrlLen) + " characters");
    return FetchFailureKind::Failed;
  }
  if (HoldsAny(logText, kLookupFailedLines)) {
    ParsedUrl parsed;
    ParseUrl(url, parsed);
    reason.append("could not resolve host ");
    reason.append(parsed.host.view());
    return FetchFailureKind::Failed;
  }
  for (const LogClue& clue : kClues) {
    if (Holds(logText, clue.line)) {
      reason.append(clue.reason);
      return FetchFailureKind::Failed;
    }
  }
  reason.append("the fetch failed");
  return FetchFailureKind::Failed;
}

}  // namespace quillon
