// The cookie store: one XML document per base domain ("cookies" root, one "cookie" element per
// domain and path, one child element per name, marked secure="yes" when it goes over https
// only), kept as files in the settings' cookie folder or, when that folder is "memory", as texts
// in the settings' memory table. Nothing is cached between requests: each request reads the
// document, each response's cookies update and rewrite it once, under a lock file in the folder
// that other runs on the same folder take too. A cookie failure never fails the request that
// caused it.
#pragma once

#include <memory>
#include <span>

#include "base/hash_map.h"
#include "base/string_buffer.h"
#include "http/cookie.h"

namespace quillon {

class HttpControl;
class HttpResult;
class LogBase;

// A document keeps at most this many names (pairs, over all its domains and paths): a site that
// sets a new name per page cannot grow its file without end, and every name kept is sent. Past
// it the oldest names go (the first in the document, the ones set by the response being saved
// counted newest), logged.
inline constexpr int kMaxCookiesPerDomain = 1000;

// Whether cookieDir selects the memory table ("" or "memory", any case) rather than files.
bool IsMemoryCookieStore(const StringBuffer& cookieDir);

// Stores cookie in host's document: the element of the same domain and path is updated in place
// (attributes not written this time keep their values), else added; a name already there
// (exactly) takes the new value in its place, a new one is added, both under the name as sent;
// "secure" is kept per name. A cookie whose domain does not cover host (CookieDomainCoversHost)
// is refused (logged).
enum class CookieSaveOutcome { kSaved, kRefused, kNotStored };
CookieSaveOutcome SaveCookie(const StringBuffer& cookieDir, HashMap& memoryCookies,
                             const char* host, const Cookie& cookie, LogBase& log);
// SaveCookie for each of cookies with one read and one write of the document (none when nothing
// changes). kRefused when every cookie was refused (nothing touched), kNotStored when the
// document could not be named, read (it is left as it is) or written.
CookieSaveOutcome SaveCookies(const StringBuffer& cookieDir, HashMap& memoryCookies,
                              const char* host, std::span<const Cookie* const> cookies,
                              LogBase& log);

// The cookies of host's document (for path: every cookie is loaded, matching happens when the
// Cookie line is built), an element's secure and plain names as separate cookies; null when
// there is none or it cannot be read (logged).
std::unique_ptr<CookieJar> LoadCookieJar(const StringBuffer& cookieDir,
                                         const HashMap& memoryCookies, const char* host,
                                         const char* path, LogBase& log);

// Appends "Cookie: ...\r\n" for host and path to head when a cookie folder is set and
// autoAddCookies is on; secureRequest says whether the request goes over https. False only when
// memory runs out.
bool AddCookieHeader(const HttpControl& settings, const char* host, const char* path,
                     bool secureRequest, StringBuffer& head, LogBase& log);

// Stores the cookies of result's head (default domain "." + the base domain of host, the host
// the client talked to) with SaveCookies when a cookie folder is set, autoSaveCookies is on and
// the head has a Set-Cookie field. True when it did so: such a response is not cached. Cookies
// that could not be stored add the kCookieNotSaved warning to result.
bool SaveResponseCookies(HttpControl& settings, HttpResult& result, const char* host, LogBase& log);

}  // namespace quillon
