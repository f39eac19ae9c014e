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

namespace {

template <typename Cache>
bool CopyRoots(const Cache& from, Cache& to) {
  if (to.rootCount() != 0) return true;
  bool ok = true;
  for (int i = 0; i < from.rootCount(); ++i) ok = to.AddRoot(from.rootAt(i)) && ok;
  return ok;
}

}  // namespace

bool HttpControl::CopySettingsFrom(HttpControl& other) {
  cookieHome_ = other.cookieHome_ != nullptr ? other.cookieHome_ : &other;
  useSystemProxy = other.useSystemProxy;
  proxyPort = other.proxyPort;
  cacheRules = other.cacheRules;
  useHttpCache = other.useHttpCache;
  revalidateInEveryTemplate = other.revalidateInEveryTemplate;
  max503Retries = other.max503Retries;
  retryDelayMs = other.retryDelayMs;
  sendHost = other.sendHost;
  rangeStart = other.rangeStart;
  acceptGzip = other.acceptGzip;
  ntlmEnabled = other.ntlmEnabled;
  clientCredential = other.clientCredential;
  requireVerifiedCert = other.requireVerifiedCert;
  autoAddCookies = other.autoAddCookies;
  autoSaveCookies = other.autoSaveCookies;
  maxUrlLen = other.maxUrlLen;
  maxContentLength = other.maxContentLength;
  connectTimeoutSec = other.connectTimeoutSec;
  readTimeout = other.readTimeout;
  abortCheckMs = other.abortCheckMs;
  followRedirects = other.followRedirects;
  composeOnly = other.composeOnly;
  ieTemplate_ = other.ieTemplate_;
  firefoxTemplate_ = other.firefoxTemplate_;
  credentialScope.reachedOverHttps = other.credentialScope.reachedOverHttps;
  return proxyDomain.assign(other.proxyDomain) && userAgent.assign(other.userAgent) &&
         referer.assign(other.referer) && accept.assign(other.accept) &&
         connection.assign(other.connection) && acceptCharset.assign(other.acceptCharset) &&
         acceptLanguage.assign(other.acceptLanguage) &&
         ntlmAuthorization.assign(other.ntlmAuthorization) &&
         extraHeaders.copyFrom(other.extraHeaders) && verb.assign(other.verb) &&
         login.assign(other.login) && password.assign(other.password) &&
         credentialScope.domain.assign(other.credentialScope.domain) &&
         addressCredentials.host.assign(other.addressCredentials.host) &&
         addressCredentials.login.assign(other.addressCredentials.login) &&
         addressCredentials.password.assign(other.addressCredentials.password) &&
         proxyLogin.assign(other.proxyLogin) && proxyPassword.assign(other.proxyPassword) &&
         tlsProtocol.assign(other.tlsProtocol) && cookieDir.assign(other.cookieDir) &&
         requiredContentType.assign(other.requiredContentType) &&
         CopyRoots(other.cache, cache) && CopyRoots(other.httpCache, httpCache);
}

}  // namespace quillon
