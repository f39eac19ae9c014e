// The HTTP cache steps of the request driver: the lookup before connecting, the update after a
// complete response, the expiry of a response, negative entries, the restore after a 304 and
// the host-name failure marks. The store is settings.cache (ClsCache2) unless useHttpCache picks
// settings.httpCache. Cache failures never fail a request: every function here only logs.
// Responses that set cookies, and 401 or 407 answers, are never stored (nor served when an older
// build stored them). With revalidateInEveryTemplate (--revalidate) every entry of either store
// is revalidated, fresh or stale.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/data_buffer.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "http/http_response_header.h"

namespace quillon {

class HttpControl;
class HttpResult;
class LogBase;
class Output;
struct CacheControl;

// What the lookup found.
struct CacheLookupOutcome {
  bool found = false;            // a positive entry (result.cacheState 1)
  bool negative = false;         // a negative entry (result.cacheState 2): the request goes out
  bool fresh = false;            // answered: result.header and the sink hold the cached response
  bool followRedirect = false;   // fresh, and the stored status is 301 or 302: follow it now
  bool revalidate = false;       // stale, or revalidateInEveryTemplate: the request is conditional
  StringBuffer etag;             // If-None-Match when not empty
  SystemTime conditionalDate{};  // If-Modified-Since (UTC) when its year is not 0
  // A stale entry's head and body, put back by CacheRestoreAfter304.
  HttpResponseHeader cachedHeader;
  DataBuffer cachedBody;
};

// Driver step "cache lookup", before the URL is parsed. True when the cache answered (fresh):
// the cached head is in result.header, the body written to sink; set fromCache and succeed (or
// follow the redirect first when outcome.followRedirect). A stale entry, or any entry when
// settings.revalidateInEveryTemplate is set, leaves result and sink alone and sets
// outcome.revalidate: compose the request with conditional = true, etag and conditionalDate.
// Sets result.cacheState. The ClsCache2 store logs its loading into its own log only.
bool CacheLookup(HttpControl& settings, const char* url, Output& sink, HttpResult& result,
                 CacheLookupOutcome& outcome, LogBase& log);

// Driver step "update the cache", after a complete response (gzip decoded, within
// maxContentLength), before redirects are followed. body is this response's body alone. False
// only when an entry was due and could not be written (logged).
bool CacheUpdate(HttpControl& settings, const char* url, const HttpResult& result,
                 std::string_view body, LogBase& log);

// Driver step for a 304 after a conditional request, with the 304's head in result: puts the
// kept entry's head into result and its body into the cleared sink and sets fromCache. The
// ClsCache2 store also logs "Updating cache entry with new expiration." and stores the expiry
// that the 304's fields give (logged as "NewExpiration"); container entries have no expiry.
// False when the sink refuses the body.
bool CacheRestoreAfter304(HttpControl& settings, const char* url, CacheLookupOutcome& outcome,
                          HttpResult& result, Output& sink, LogBase& log);

// After no head could be read, an invalid head was retried in vain, or a redirect failed: stores
// url as a negative entry (useHttpCache, writeToCache and roots required) with header's fields
// as head text and the body as received (may be empty).
void RecordNegative(HttpControl& settings, const char* url, const HttpResponseHeader& header,
                    std::string_view body, LogBase& log);

// The same with the body taken from the sink, from bodyStart on (empty when it cannot be read).
void RecordNegative(HttpControl& settings, const char* url, const HttpResponseHeader& header,
                    Output& sink, uint64_t bodyStart, LogBase& log);

// The sink's bytes from start on (one response's body): viewed in place in a memory sink, read
// back into copy from a file sink. False when they cannot be read or are more than a cache
// entry may hold, with the reason in log; bytes is then empty.
bool SinkBytesFrom(Output& sink, uint64_t start, DataBuffer& copy, std::string_view& bytes,
                   LogBase& log);

// The expiry of a response in local time: Expires (converted from UTC), else max-age, else the
// Last-Modified heuristic, else the default freshness (at least 10 minutes).
SystemTime ComputeExpiry(const HttpControl& settings, const HttpResponseHeader& header);
// The same for a given local time and zone bias (minutes to add to local time to get UTC).
SystemTime ComputeExpiry(const CacheControl& rules, const HttpResponseHeader& header,
                         const SystemTime& nowLocal, int biasMinutes);

// Driver step before connecting: whether the host is remembered as one that did not resolve
// (only with useHttpCache and roots). The driver refuses it when skipFailedDomains is set and
// passes the answer on to NoteConnectOutcome.
bool IsDnsMarkedInvalid(HttpControl& settings, const char* host, LogBase& log);
// How a connect ended, for the host-name marks.
enum class ConnectOutcome { kConnected, kNameNotResolved, kFailed };
// Whether the host was marked as one that did not resolve before the connect.
enum class DnsMark { kNone, kMarkedInvalid };

// Driver step after connecting (useHttpCache, roots and writeToCache required): a failed name
// lookup marks the host; any other outcome clears a mark found before.
void NoteConnectOutcome(HttpControl& settings, const char* host, ConnectOutcome outcome,
                        DnsMark before, LogBase& log);

}  // namespace quillon
