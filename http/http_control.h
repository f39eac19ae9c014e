// The settings of one HTTP client: what goes into the request head, how to connect, the cache
// switches and stores, and the cookie store. Plain data with defaults; nothing here validates or
// acts.
#pragma once

#include <cstdint>
#include <mutex>

#include "base/hash_map.h"
#include "base/string_buffer.h"
#include "http/cls_cache2.h"
#include "http/credential_scope.h"
#include "http/http_cache.h"
#include "http/mime_header.h"
#include "net/client_credential.h"

namespace quillon {

// The cache switches and freshness limits.
struct CacheControl {
  bool skipFailedDomains = true;
  bool quietNegative = false;
  bool writeToCache = true;
  bool readFromCache = true;
  bool ignoreNoCache = false;
  uint32_t defaultFreshnessMinutes = 10080;
  int lastModifiedHeuristic = 1;
  uint32_t lastModifiedPercent = 25;
};

class HttpControl {
 public:
  // The generic template's User-Agent unless the caller sets another.
  static constexpr const char* kDefaultUserAgent =
      "Quillon/1.0.0 (+https://brindlewood.example/quillon/agent.html)";
  static constexpr uint32_t kMemoryCookieBuckets = 400;

  HttpControl();
  HttpControl(const HttpControl&) = delete;
  HttpControl& operator=(const HttpControl&) = delete;

  // Takes every setting of other for a client that fetches beside other's client: the same
  // cache roots and cookie folder, the same credential scope (whose https mark they share) and
  // other's memory cookie store. other must outlive this client's fetches. False when memory
  // runs out.
  bool CopySettingsFrom(HttpControl& other);

  bool useSystemProxy = false;
  int proxyPort = 80;
  StringBuffer proxyDomain;
  CacheControl cacheRules;
  bool useHttpCache = false;
  // The cache store used when useHttpCache is false; no roots until the owner adds some.
  ClsCache2 cache;
  // The store used when useHttpCache is true, with the host-name failure marks.
  HttpCache httpCache;
  // Every cached entry, fresh or stale, is asked about with a conditional request (in every
  // template, and in the container store too); off, only stale one-file entries are, and the
  // IE-like and Firefox-like templates stay byte for byte as they are.
  bool revalidateInEveryTemplate = false;
  uint32_t max503Retries = 0;
  uint32_t retryDelayMs = 2000;
  bool sendHost = true;
  StringBuffer userAgent;
  StringBuffer referer;
  StringBuffer accept;
  StringBuffer connection;
  StringBuffer acceptCharset;
  StringBuffer acceptLanguage;
  StringBuffer ntlmAuthorization;
  uint64_t rangeStart = 0;
  MimeHeader extraHeaders;
  bool acceptGzip = true;
  StringBuffer verb;
  // The caller's login and password (Basic or NTLM) and client certificate go only to the
  // hosts of credentialScope (http/credential_scope.h).
  StringBuffer login;
  StringBuffer password;
  CredentialScope credentialScope;
  // Credentials that came in the site's address: they serve requests to their host only, like
  // those in a fetched URL, while the addresses listed and logged carry none.
  UrlCredentials addressCredentials;
  StringBuffer proxyLogin;
  StringBuffer proxyPassword;
  bool ntlmEnabled = false;
  StringBuffer tlsProtocol;
  // Up to three client certificates, offered when an HTTPS server asks for one.
  ClientCredentialSet clientCredential;
  // An HTTPS server whose certificate is not verified fails the connection instead of a
  // warning.
  bool requireVerifiedCert = false;
  StringBuffer cookieDir;
  HashMap memoryCookies;
  // The memory cookie store in use (this client's, or the one it shares) and the lock held
  // while it is read or changed.
  HashMap& cookieStore() { return cookieHome_ != nullptr ? cookieHome_->memoryCookies : memoryCookies; }
  const HashMap& cookieStore() const {
    return cookieHome_ != nullptr ? cookieHome_->memoryCookies : memoryCookies;
  }
  std::mutex& cookieLock() const {
    return cookieHome_ != nullptr ? cookieHome_->cookieLock_ : cookieLock_;
  }
  bool autoAddCookies = true;
  bool autoSaveCookies = true;
  uint32_t maxUrlLen = 2000;
  uint64_t maxContentLength = 0;
  uint32_t connectTimeoutSec = 10;
  uint32_t readTimeout = 20;
  uint32_t abortCheckMs = 0;
  bool followRedirects = true;
  StringBuffer requiredContentType;
  bool composeOnly = false;
  StringBuffer lastComposedRequest;

  bool ieTemplate() const { return ieTemplate_; }
  bool firefoxTemplate() const { return firefoxTemplate_; }
  void setIeTemplate(bool on) { ieTemplate_ = on; }
  // Choosing the Firefox-like template turns the IE-like one off.
  void setFirefoxTemplate(bool on) {
    firefoxTemplate_ = on;
    if (on) ieTemplate_ = false;
  }

 private:
  HttpControl* cookieHome_ = nullptr;
  mutable std::mutex cookieLock_;
  bool ieTemplate_ = false;
  bool firefoxTemplate_ = false;
};

}  // namespace quillon
