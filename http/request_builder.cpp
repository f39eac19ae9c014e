#include "http/request_builder.h"

#include <string_view>

#include "base/ascii.h"
#include "base/content_coding.h"
#include "base/log_base.h"
#include "http/cookie_mgr.h"
#include "http/date_parser.h"
#include "http/http_control.h"
#include "http/http_result.h"

namespace quillon {

namespace {

constexpr const char* kIeAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
    "application/msword, application/x-shockwave-flash, */*\r\n";
constexpr const char* kIeUserAgent =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.0.3705; "
    ".NET CLR 1.1.4322)\r\n";
constexpr const char* kFirefoxUserAgent =
    "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.7.7) Gecko/20050414 "
    "Firefox/1.0.3\r\n";
constexpr const char* kFirefoxAccept =
    "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,"
    "image/png,*/*;q=0.5\r\n";

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string_view ViewOf(const char* text) { return text ? std::string_view(text) : ""; }

// Appends header lines, refusing any value that holds a CR or LF: it would end the line early
// and let the rest pass as header lines of its own.
class HeadWriter {
 public:
  HeadWriter(StringBuffer& head, LogBase& log) : head_(head), log_(log) {}

  bool ok() const { return ok_; }
  void fail() { ok_ = false; }

  void raw(std::string_view text) {
    if (ok_ && !head_.append(text)) ok_ = false;
  }
  void line(std::string_view name, std::string_view value) {
    if (!ok_) return;
    if (HoldsLineBreak(value)) {
      log_.addError("Header field holds a CR or LF character.");
      StringBuffer field;
      field.append(name);
      log_.addTag("fieldName", field.getString());
      ok_ = false;
      return;
    }
    raw(name);
    raw(": ");
    raw(value);
    raw("\r\n");
  }
  void lineIfSet(std::string_view name, const StringBuffer& value) {
    if (!value.isEmpty()) line(name, value.view());
  }
  void extraHeaders(const HttpControl& settings) {
    if (ok_ && !settings.extraHeaders.appendRequestLines(head_, log_)) ok_ = false;
  }
  void rangeLine(const HttpControl& settings) {
    if (settings.rangeStart == 0) return;
    raw("Range: bytes=");
    if (ok_ && !head_.appendInt64(static_cast<int64_t>(settings.rangeStart))) ok_ = false;
    raw("-\r\n");
  }
  void acceptEncoding(const HttpControl& settings) {
    raw(settings.acceptGzip ? "Accept-Encoding: gzip\r\n" : "Accept-Encoding: \r\n");
  }
  void ntlmLine(const HttpControl& settings, const RequestParts& parts) {
    if (settings.ntlmAuthorization.isEmpty() || !parts.offerNtlm) return;
    StringBuffer value;
    if (!value.append("NTLM ") || !value.append(settings.ntlmAuthorization)) ok_ = false;
    line("Authorization", value.view());
  }
  void cookieAndBasic(const HttpControl& settings, const RequestParts& parts) {
    const bool secure = StartsWithNoCase(ViewOf(parts.url), "https:");
    if (ok_ && !AddCookieHeader(settings, parts.host, parts.path, secure, head_, log_)) {
      ok_ = false;
    }
    if (!ok_) return;
    const bool added = parts.credentials != nullptr
                           ? AddBasicAuthHeaders(settings, *parts.credentials, head_, log_)
                           : AddBasicAuthHeaders(settings, head_, log_);
    if (!added) ok_ = false;
  }

 private:
  StringBuffer& head_;
  LogBase& log_;
  bool ok_ = true;
};

// The Host value: the host, with ":port" only off the scheme's default port so that requests on
// default ports stay byte-identical to the templates.
bool HostValue(const RequestParts& parts, bool lowerCase, StringBuffer& out) {
  if (!out.assign(ViewOf(parts.host))) return false;
  if (lowerCase) out.toLowerCase();
  const bool https = StartsWithNoCase(ViewOf(parts.url), "https:");
  const int defaultPort = https ? kDefaultHttpsPort : kDefaultHttpPort;
  if (parts.port != defaultPort) return out.appendChar(':') && out.appendInt(parts.port);
  return true;
}

// If-None-Match (the entry's ETag) or If-Modified-Since when a stale entry is revalidated.
void ConditionalLines(const RequestParts& parts, HeadWriter& w) {
  if (!parts.conditional) return;
  if (parts.etag != nullptr && *parts.etag != '\0') {
    w.line("If-None-Match", parts.etag);
  } else if (parts.conditionalDate.year != 0) {
    StringBuffer date;
    if (!DateParser::FormatHttpDate(parts.conditionalDate, date)) w.fail();
    w.line("If-Modified-Since", date.view());
  }
}

void GenericTemplate(const HttpControl& settings, const RequestParts& parts, HeadWriter& w) {
  ConditionalLines(parts, w);
  w.extraHeaders(settings);
  w.rangeLine(settings);
  w.lineIfSet("Accept", settings.accept);
  w.ntlmLine(settings, parts);
  if (!settings.extraHeaders.hasField("Accept-Encoding")) w.acceptEncoding(settings);
  w.lineIfSet("Accept-Charset", settings.acceptCharset);
  w.lineIfSet("Accept-Language", settings.acceptLanguage);
  w.lineIfSet("Referer", settings.referer);
  w.lineIfSet("User-Agent", settings.userAgent);
  w.cookieAndBasic(settings, parts);
  if (settings.sendHost) {
    StringBuffer host;
    if (!HostValue(parts, true, host)) w.fail();
    w.line("Host", host.view());
  }
  w.lineIfSet("Connection", settings.connection);
}

void IeTemplate(const HttpControl& settings, const RequestParts& parts, HeadWriter& w) {
  if (settings.revalidateInEveryTemplate) ConditionalLines(parts, w);
  w.extraHeaders(settings);
  w.rangeLine(settings);
  w.raw(kIeAccept);
  w.lineIfSet("Referer", settings.referer);
  if (settings.acceptLanguage.isEmpty()) {
    w.raw("Accept-Language: en-us\r\n");
  } else {
    w.line("Accept-Language", settings.acceptLanguage.view());
  }
  w.ntlmLine(settings, parts);
  w.acceptEncoding(settings);
  w.raw(kIeUserAgent);
  w.cookieAndBasic(settings, parts);
  w.raw("Connection: Keep-Alive\r\n");
  StringBuffer host;
  if (!HostValue(parts, false, host)) w.fail();
  w.line("Host", host.view());
}

void FirefoxTemplate(const HttpControl& settings, const RequestParts& parts, HeadWriter& w) {
  StringBuffer host;
  if (!HostValue(parts, false, host)) w.fail();
  w.line("Host", host.view());
  w.raw(kFirefoxUserAgent);
  if (settings.revalidateInEveryTemplate) ConditionalLines(parts, w);
  w.extraHeaders(settings);
  w.rangeLine(settings);
  w.raw(kFirefoxAccept);
  if (settings.acceptCharset.isEmpty()) {
    w.raw("Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n");
  } else {
    w.line("Accept-Charset", settings.acceptCharset.view());
  }
  w.acceptEncoding(settings);
  if (settings.acceptLanguage.isEmpty()) {
    w.raw("Accept-Language: en-us,en;q=0.5\r\n");
  } else {
    w.line("Accept-Language", settings.acceptLanguage.view());
  }
  w.raw("Keep-Alive: 300\r\n");
  w.raw("Connection: keep-alive\r\n");
  w.ntlmLine(settings, parts);
  w.lineIfSet("Referer", settings.referer);
  w.cookieAndBasic(settings, parts);
}

bool AppendBasicLine(const char* name, const char* user, const char* secret,
                     StringBuffer& head) {
  StringBuffer pair;
  StringBuffer encoded;
  if (!pair.append(user) || !pair.appendChar(':') || !pair.append(secret) ||
      !ContentCoding::encodeBase64(pair.getString(), pair.length(), encoded)) {
    return false;
  }
  return head.append(name) && head.append(": Basic ") && head.append(encoded) &&
         head.append("\r\n");
}

}  // namespace

bool ComposeRequest(const HttpControl& settings, const RequestParts& parts, HttpResult& result,
                    StringBuffer& head, LogBase& log) {
  head.clear();
  StringBuffer target;
  bool ok;
  if (parts.viaProxy) {
    ok = target.append(ViewOf(parts.url));
  } else {
    ok = target.append(ViewOf(parts.path));
    if (ok && parts.query != nullptr && *parts.query != '\0') {
      ok = target.appendChar('?') && target.append(parts.query);
    }
  }
  if (!ok) return false;
  if (HoldsLineBreak(target.view())) {
    log.addError("The request target holds a CR or LF character.");
    log.addTag("url", parts.url ? parts.url : "");
    return false;
  }
  const StringBuffer& verb = settings.verb;
  if (HoldsLineBreak(verb.view())) {
    log.addError("The verb holds a CR or LF character.");
    return false;
  }
  if (!result.verb.assign(verb.isEmpty() ? "GET" : verb.getString())) return false;

  HeadWriter w(head, log);
  w.raw(result.verb.view());
  w.raw(" ");
  w.raw(target.view());
  w.raw(" HTTP/1.1\r\n");
  if (settings.ieTemplate()) {
    IeTemplate(settings, parts, w);
  } else if (settings.firefoxTemplate()) {
    FirefoxTemplate(settings, parts, w);
  } else {
    GenericTemplate(settings, parts, w);
  }
  if (!w.ok() || !result.lastRequest.assign(head) || !head.append("\r\n")) {
    head.clear();
    return false;
  }
  return true;
}

bool AddBasicAuthHeaders(const HttpControl& settings, StringBuffer& head, LogBase& log) {
  const BasicCredentials own{settings.login.getString(), settings.password.getString()};
  return AddBasicAuthHeaders(settings, own, head, log);
}

bool AddBasicAuthHeaders(const HttpControl& settings, const BasicCredentials& credentials,
                         StringBuffer& head, LogBase& log) {
  if (*credentials.login != '\0' && *credentials.password != '\0' && !settings.ntlmEnabled) {
    log.addError("Adding Basic Authentication Header");
    log.addTag("login", credentials.login);
    if (!AppendBasicLine("Authorization", credentials.login, credentials.password, head)) {
      return false;
    }
  }
  if (!settings.proxyLogin.isEmpty() && !settings.proxyPassword.isEmpty()) {
    log.addError("Adding Basic Proxy Authentication Header");
    log.addTag("login", settings.proxyLogin.getString());
    if (!AppendBasicLine("Proxy-Authorization", settings.proxyLogin.getString(),
                         settings.proxyPassword.getString(), head)) {
      return false;
    }
  }
  return true;
}

}  // namespace quillon
