#include "http/credential_scope.h"

#include "base/ascii.h"
#include "base/html_help.h"
#include "http/http_control.h"

namespace quillon {

bool IsHostOnSite(std::string_view host, std::string_view domain) {
  if (domain.empty()) return true;
  if (host.size() == domain.size()) return EqualsNoCase(host, domain);
  // 127.5.0.1 is not under 0.1, nor 10.1.0.1 under 0.1: an address names one host only.
  if (HtmlHelp::IsIpAddressHost(host) || host.size() < domain.size() + 1) return false;
  return host[host.size() - domain.size() - 1] == '.' &&
         EqualsNoCase(host.substr(host.size() - domain.size()), domain);
}

bool UrlCredentials::take(const StringBuffer& urlHost, const StringBuffer& user,
                          const StringBuffer& pw) {
  if (user.isEmpty() || pw.isEmpty()) return true;
  if (!host.assign(urlHost) || !login.assign(user) || !password.assign(pw)) {
    clear();
    return false;
  }
  host.toLowerCase();
  return true;
}

RequestCredentials CredentialsForRequest(HttpControl& settings, const UrlCredentials& fromUrl,
                                         const FetchOrigin& origin, std::string_view host,
                                         bool tls) {
  CredentialScope& scope = settings.credentialScope;
  const bool onSite = scope.domain.isEmpty() ? EqualsNoCase(host, origin.host.view())
                                             : IsHostOnSite(host, scope.domain.view());
  if (onSite && tls && !scope.domain.isEmpty()) scope.reachedOverHttps->store(true);
  const bool plainAfterHttps = !tls && (origin.tls || scope.reachedOverHttps->load());
  const bool callerMay = onSite && !plainAfterHttps;

  RequestCredentials credentials;
  credentials.clientCertificate = callerMay;
  const UrlCredentials& written = fromUrl.host.isEmpty() ? settings.addressCredentials : fromUrl;
  if (!written.host.isEmpty()) {
    // A URL's own login stands in for the caller's, for its own host only.
    if (EqualsNoCase(host, written.host.view())) {
      credentials.login = written.login.getString();
      credentials.password = written.password.getString();
    }
  } else if (callerMay) {
    credentials.login = settings.login.getString();
    credentials.password = settings.password.getString();
  }
  return credentials;
}

}  // namespace quillon
