// Composes the request head (request line, header lines, blank line) in one of three fixed
// templates: the generic one fed by the settings, and two that copy the header sets of old IE
// and Firefox releases byte for byte. It sends nothing and does not parse the URL.
#pragma once

#include "base/platform.h"
#include "base/string_buffer.h"
#include "http/parse_url.h"

namespace quillon {

class HttpControl;
class HttpResult;
class LogBase;

// The login and password of one request's "Authorization: Basic" line (no line when either is
// empty).
struct BasicCredentials {
  const char* login = "";
  const char* password = "";
};

// What one request is about.
struct RequestParts {
  const char* url = nullptr;   // as the caller gave it; the request target through a proxy
  const char* host = nullptr;  // as ParseUrl gave it
  int port = kDefaultHttpPort;
  const char* path = nullptr;   // the driver has made an empty path "/"
  const char* query = nullptr;  // null or empty: none
  bool viaProxy = false;        // ChooseProxy chose a proxy
  bool conditional = false;     // revalidating a stale cache entry
  const char* etag = nullptr;
  SystemTime conditionalDate;  // UTC, sent in GMT; year 0: no date
  const BasicCredentials* credentials = nullptr;  // null: the settings' login and password
  bool offerNtlm = true;  // the settings' NTLM token, when set, goes with the request
};

// Replaces head with the request head in the template the settings select (IE-like, else
// Firefox-like, else generic). Writes the verb sent into result.verb and the head without its
// final blank line into result.lastRequest. False, with a log line, when the request target or
// a header value holds a CR or LF (such a request is never sent), or when memory runs out.
bool ComposeRequest(const HttpControl& settings, const RequestParts& parts, HttpResult& result,
                    StringBuffer& head, LogBase& log);

// Appends "Authorization: Basic ..." (login and password set, NTLM off) and
// "Proxy-Authorization: Basic ..." (proxy login and password set). False when memory runs out.
bool AddBasicAuthHeaders(const HttpControl& settings, StringBuffer& head, LogBase& log);
// The same with the request's own credentials in place of the settings' login and password.
bool AddBasicAuthHeaders(const HttpControl& settings, const BasicCredentials& credentials,
                         StringBuffer& head, LogBase& log);

}  // namespace quillon
