#include "http/ntlm_auth.h"

#include <cstring>

#include "base/ascii.h"
#include "base/content_coding.h"
#include "base/data_buffer.h"
#include "base/log_base.h"
#include "base/string_buffer.h"
#include "http/http_client.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/output.h"
#include "http/request_driver.h"
#include "net/quillon_sspi.h"

namespace quillon {

namespace {

// Logs the answer's fields as "name: value" lines under tag.
void LogFields(const HttpResponseHeader& header, const char* tag, LogBase& log) {
  StringBuffer lines;
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField* field = header.fields.fieldAt(i);
    lines.append(field->name);
    lines.append(": ");
    lines.append(field->value);
    lines.append("\r\n");
  }
  log.addTag(tag, lines.getString());
}

// The token of the first WWW-Authenticate field that carries one after "NTLM ", decoded.
bool ChallengeToken(const HttpResponseHeader& header, DataBuffer& token) {
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField* field = header.fields.fieldAt(i);
    if (!field->name.equalsIgnoreCase("WWW-Authenticate")) continue;
    StringBuffer value;
    if (!value.assign(field->value)) return false;
    value.trim();
    if (!StartsWithNoCase(value.view(), "NTLM ")) continue;
    value.removeRange(0, 5);
    value.trim();
    token.clear();
    return ContentCoding::decodeBase64(value.getString(), value.length(), token);
  }
  return false;
}

// The client in its exchange role: carries the package's tokens over HTTP for one login.
class NtlmHttpExchange : public PackageExchange {
 public:
  NtlmHttpExchange(HttpClient& client, const char* url, HttpControl& settings, DataBuffer& out,
                   HttpResult& result, ProgressMonitor* progress)
      : client_(client), url_(url), settings_(settings), out_(out), result_(result),
        progress_(progress) {}

  bool ExchangePackage(const DataBuffer& outgoing, DataBuffer& incoming, LogBase& log) override {
    if (!RunLeg(outgoing, log)) return false;
    if (result_.header.statusCode == 401 && ChallengeToken(result_.header, incoming)) return true;
    log.addTagInt("exchangePackageResponseStatus", result_.header.statusCode);
    LogFields(result_.header, "exchangePackageResponseHeader", log);
    return false;
  }

  bool SendFinalResponse(const DataBuffer& outgoing, LogBase& log) override {
    // A refused challenge leaves no token: a request without one could only be refused.
    if (outgoing.isEmpty()) {
      log.addError("NTLM Authentication failed, no response to the server's challenge.");
      return false;
    }
    if (!RunLeg(outgoing, log)) return false;
    if (result_.header.statusCode == 200) return true;
    log.addTagInt("SendFinalResponseStatus", result_.header.statusCode);
    LogFields(result_.header, "SendFinalResponseHeader", log);
    return false;
  }

 private:
  // One request carrying token in "Authorization: NTLM", on the pooled connection.
  bool RunLeg(const DataBuffer& token, LogBase& log) {
    settings_.ntlmAuthorization.clear();
    if (!ContentCoding::encodeBase64(token.data(), token.length(), settings_.ntlmAuthorization)) {
      log.addError("Out of memory");
      return false;
    }
    result_.reset();
    out_.clear();
    OutputDataBuffer sink(out_);
    const bool ok = DriveRequest(client_, url_, 0, ConnectionUse::kPooled, settings_, sink,
                                 result_, log, progress_);
    settings_.ntlmAuthorization.clear();
    return ok;
  }

  HttpClient& client_;
  const char* url_;
  HttpControl& settings_;
  DataBuffer& out_;
  HttpResult& result_;
  ProgressMonitor* progress_;
};

// A login without its domain cannot be offered over NTLM.
bool NeedsDomain(HttpResult& result) {
  result.error.set(FetchErrorKind::kLoginRefused);
  result.error.login = LoginProblem::kNtlmNeedsDomain;
  return false;
}

}  // namespace

bool NtlmAuthenticate(HttpClient& client, const char* url, const BasicCredentials& credentials,
                      HttpControl& settings, DataBuffer& out, HttpResult& result, LogBase& log,
                      ProgressMonitor* progress) {
  log.addError("Doing NTLM Authentication...");
  QuillonSSPI sspi;
  const int package = sspi.FindPackage("NTLM");
  if (package < 0) {
    log.addError("Failed to load NTLM security package");
    return false;
  }
  StringBuffer login;
  login.assign(credentials.login);
  login.trim();
  if (login.isEmpty()) {
    log.addError("NTLM Authentication failed, not domain\\login");
    return NeedsDomain(result);
  }
  login.replaceChar('/', '\\');
  const char* backslash = std::strchr(login.getString(), '\\');
  if (backslash == nullptr) {
    log.addError("NTLM Authentication failed, no domain.");
    return NeedsDomain(result);
  }
  StringBuffer domain;
  domain.assign(login.getString(), static_cast<uint32_t>(backslash - login.getString()));
  StringBuffer user;
  user.assign(backslash + 1);
  log.addTag("NtlmDomain", domain.getString());
  log.addTag("NtlmLogin", user.getString());

  NtlmHttpExchange exchange(client, url, settings, out, result, progress);
  sspi.SetPackageExchange(&exchange);
  const bool authenticated = sspi.authenticate(package, domain.getString(), user.getString(),
                                               credentials.password, log);
  sspi.SetPackageExchange(nullptr);
  settings.ntlmAuthorization.clear();
  log.addTagInt("Authenticated", authenticated ? 1 : 0);
  return authenticated;
}

}  // namespace quillon
