// The system proxy setting for a scheme, read from the environment (http_proxy, https_proxy and
// their upper-case forms). no_proxy and proxy credentials are not read.
#pragma once

namespace quillon {

class LogBase;
class StringBuffer;

// proxyText receives the proxy as host:port for scheme ("http" or "https"); enabled tells
// whether the variable holds a proxy. A value listing schemes ("http=h:1;https=h:2") yields the
// entry of the scheme, or nothing. False, with a log line, when no variable is set.
bool ReadSystemProxy(const char* scheme, StringBuffer& proxyText, bool& enabled, LogBase& log);

}  // namespace quillon
