#include "http/http_control.h"

namespace quillon {

HttpControl::HttpControl()
    : userAgent(kDefaultUserAgent),
      accept("*/*"),
      connection("Keep-Alive"),
      acceptCharset("ISO-8859-1,utf-8;q=0.7,*;q=0.7"),
      acceptLanguage("en-us,en;q=0.5"),
      tlsProtocol("default"),
      memoryCookies(kMemoryCookieBuckets) {}

}  // namespace quillon
