#include "http/redirect.h"

#include <cstring>

#include "base/log_base.h"
#include "base/output.h"
#include "base/parse_engine.h"
#include "base/progress.h"
#include "http/cache_rules.h"
#include "http/http_client.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/parse_url.h"
#include "http/request_driver.h"
#include "http/url_combiner.h"

namespace quillon {

bool IsFollowedRedirect(int status, const StringBuffer& verb) {
  if (status == 301 || status == 302) return true;
  const bool get = verb.isEmpty() || verb.equalsIgnoreCase("GET");
  return get && (status == 303 || status == 307 || status == 308);
}

bool ResolveLocation(const char* current, const char* location, StringBuffer& newUrl) {
  newUrl.clear();
  if (current == nullptr || location == nullptr) return false;
  // A path needs a current URL whose first "/" opens "//host".
  if (location[0] == '/' && location[1] != '/') {
    const char* slash = std::strchr(current, '/');
    if (slash == nullptr || slash[1] != '/') return false;
  }
  // Everything goes through the combiner: absolute locations and "//host" ones come out encoded
  // for a request line, and a path replaces the current one whatever query the URL had.
  return CombineUrl(current, location, newUrl);
}

bool FollowRedirect(HttpClient& client, const char* url, int depth, HttpControl& settings,
                    Output& sink, HttpResult& result, LogBase& log, ProgressMonitor* progress) {
  if (depth > kMaxRedirectDepth) {
    log.addError("Aborted to avoid infinite redirects.");
    return result.error.set(FetchErrorKind::kTooManyRedirects);
  }
  StringBuffer location;
  result.header.getField("Location", location);
  location.trim();
  if (location.isEmpty()) {
    log.addError("Got 301/302 redirect, but no new location.");
    return result.error.set(FetchErrorKind::kRedirectWithoutLocation);
  }
  log.addTag("redirectUrl", location.getString());
  if (FindNoCase(location.getString(), "PageNotFound") != nullptr) {
    log.addError("This is actually a page-not-found error.");
    return result.error.set(FetchErrorKind::kRedirectToNotFound);
  }
  StringBuffer newUrl;
  if (!ResolveLocation(url, location.getString(), newUrl) || newUrl.isEmpty()) {
    log.addError("Failed to construct new URL");
    log.addTag("location", location.getString());
    log.addTag("url", url);
    return result.error.set(FetchErrorKind::kAddressUnusable);
  }
  if (!IsHttpAddress(newUrl.view())) {
    log.addError("Redirect to an address that is not http or https.");
    log.addTag("location", location.getString());
    return result.error.set(FetchErrorKind::kAddressUnusable);
  }
  if (progress != nullptr && progress->applicationSink() != nullptr) {
    bool abort = false;
    progress->applicationSink()->OnRedirect(url, newUrl.getString(), abort);
    if (abort) {
      log.addError("Aborted by application.");
      return result.error.set(FetchErrorKind::kStopped);
    }
  }
  // The redirect answer's cookies were stored by the driver as it read the answer's head (the
  // host that set them names their document), so they are not stored a second time here.

  if (!settings.followRedirects) {
    result.redirected = true;
    return result.finalUrl.assign(newUrl);
  }

  if (depth == 0) result.redirectStatus = result.header.statusCode;
  result.redirectHops = depth + 1;
  result.header.reset();
  if (!sink.clear(log)) return false;
  result.redirected = true;
  if (!result.finalUrl.assign(newUrl)) return false;

  ParsedUrl from;
  ParsedUrl to;
  const bool sameHost = ParseUrl(url, from) && ParseUrl(newUrl.getString(), to) &&
                        from.host.equals(to.host);
  // The driver sends credentials that came in a URL to that URL's host only.
  const bool ok = DriveRequest(client, newUrl.getString(), depth + 1,
                               sameHost ? ConnectionUse::kPooled : ConnectionUse::kOwn, settings,
                               sink, result, log, progress);
  // The sink holds only what the failed target sent.
  if (!ok) RecordNegative(settings, url, result.header, sink, 0, log);
  return ok;
}

}  // namespace quillon
