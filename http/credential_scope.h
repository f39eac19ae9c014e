// Which hosts a request's credentials may reach. The caller's own login (Basic or NTLM) and
// client certificate go to the site being fetched only: never to a host a redirect leads off
// it, and never in plain text once the site was reached over https. Credentials written in a
// URL go to that URL's host only. The decision is made here, once, for every request path.
#pragma once

#include <atomic>
#include <memory>

#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

class HttpControl;

// True when host equals domain or ends with "." + domain (ASCII case ignored). An IP-address
// host is a site of its own and matches only itself. An empty domain matches every host.
bool IsHostOnSite(std::string_view host, std::string_view domain);

// A login and password that came in a URL, with the host they were given for.
struct UrlCredentials {
  StringBuffer host;  // lower-cased; empty while there are none
  StringBuffer login;
  StringBuffer password;

  // Takes the host, user and password (when both user and password are set); false when memory
  // runs out (nothing is kept then).
  bool take(const StringBuffer& urlHost, const StringBuffer& user, const StringBuffer& pw);
  void clear() {
    host.clear();
    login.clear();
    password.clear();
  }
};

// The site the caller's credentials belong to. The crawl names its domain; a client used on
// its own leaves it empty, and each fetch's credentials then serve that fetch's own host.
struct CredentialScope {
  StringBuffer domain;
  // Set once an on-site request went over https: from then on, none goes with credentials in
  // plain text. The clients that crawl one site together share it (copies of the scope do).
  std::shared_ptr<std::atomic<bool>> reachedOverHttps = std::make_shared<std::atomic<bool>>(false);
};

// Where the current fetch started (the URL its caller asked for), set for the fetch's length.
struct FetchOrigin {
  StringBuffer host;  // lower-cased
  bool tls = false;
};

// The login and password one request carries; empty when it carries none.
struct RequestCredentials {
  const char* login = "";
  const char* password = "";
  // The caller's client certificate may be offered on the request's connection.
  bool clientCertificate = false;
};

// The credentials a request to host (over TLS or not) may carry: those of the fetch's URL
// (fromUrl), else of the site's address (settings.addressCredentials), each for its own host
// only; else the caller's login. The caller's login and client certificate go to the scope's
// site (without one, the fetch's origin host), never in plain text after https. Marks the scope
// as reached over https when an on-site request goes over TLS. The strings stay owned by
// settings and fromUrl.
RequestCredentials CredentialsForRequest(HttpControl& settings, const UrlCredentials& fromUrl,
                                         const FetchOrigin& origin, std::string_view host,
                                         bool tls);

}  // namespace quillon
