// Splits an absolute URL into host, port, user information, path, query and fragment, and
// chooses the proxy for a request. Lenient by design: almost any text parses to something; it
// does not validate hosts, decode escapes or resolve relative references.
#pragma once

#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

class HttpControl;
class LogBase;

inline constexpr int kDefaultHttpPort = 80;
inline constexpr int kDefaultHttpsPort = 443;
inline constexpr int kMaxPort = 65535;

struct ParsedUrl {
  StringBuffer host;  // lower-cased
  int port = kDefaultHttpPort;
  StringBuffer user;
  StringBuffer password;
  StringBuffer path;      // empty when the URL has none (requests send "/")
  StringBuffer query;     // without the "?"
  StringBuffer fragment;  // without the "#"
};

// True when url begins with "http://" or "https://" (any case): the only addresses fetched.
bool IsHttpAddress(std::string_view url);

// Fills out from url ("\" read as "/"; schemes http, https, file and ftp recognised). False for
// a null url, for a port above 65535 and when memory runs out; out is then incomplete.
bool ParseUrl(const char* url, ParsedUrl& out);

// Why a proxy is chosen: only a request logs the system proxy it read.
enum class ProxyPurpose { Request, PoolLookup, Compose };

// The proxy for url: proxyDomain when set, else (useSystemProxy) the system proxy for the
// URL's scheme when it is enabled. proxyHost empty means a direct connection; proxyPort is then
// settings.proxyPort.
void ChooseProxy(const HttpControl& settings, const char* url, ProxyPurpose purpose,
                 StringBuffer& proxyHost, int& proxyPort, LogBase& log);

}  // namespace quillon
