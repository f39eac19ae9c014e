// The request driver: one GET from URL checks to finished body over a pooled client (the cache
// lookup, connect or reuse the kept-alive connection, send the composed head, read the head and
// store its cookies, read the body, gzip, update the cache, redirects, the NTLM answer to a 401,
// the retries after an invalid head, a broken connection or a 503), and the fetches built on it,
// into bytes or text.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/string_buffer.h"

namespace quillon {

class HttpClient;
class HttpConnPool;
class HttpControl;
class HttpResult;
class LogBase;
class Output;
class ProgressMonitor;

// Invalid heads are retried on a new connection while the depth is at most this (six answers).
inline constexpr int kMaxInvalidHeadDepth = 4;
// The head is sent in pieces of this many bytes.
inline constexpr uint32_t kSendPiece = 4000;
// A new connection must become writable within this long.
inline constexpr uint32_t kWritableWaitSec = 1;
// At most this many informational (1xx) heads are skipped before the final one.
inline constexpr int kMaxInformationalHeads = 10;
// A busy server's Retry-After is kept up to this long.
inline constexpr uint32_t kMaxRetryAfterMs = 120000;
// The wait before a retry is cut in slices of this long to hear a stop.
inline constexpr uint32_t kRetryPauseSliceMs = 100;
// How much of an answer without a status line is logged.
inline constexpr uint32_t kInvalidHeadLogBytes = 500;

// How a request gets its connection. kPooled: the client's pooled connection, used again while
// the server keeps it open (a connection to another host or port stays alone and the request
// gets one of its own), opened when closed. kOwn: a connection of the request's own, closed
// when the request ends (the retries after an invalid head, redirects to another host).
// kReconnect: the pooled connection, closed after a failed send and opened anew for this
// request.
enum class ConnectionUse { kPooled, kOwn, kReconnect };

// Runs one request for url through client into sink, leaving the outcome in result. Outside
// callers pass depth 0 and kPooled. False with the story in log; result keeps the status and
// head read so far. A kept-alive connection that fails before any byte of the answer is
// replaced and the request sent once more; needsReconnect asks the caller to do the same after
// a send on a new connection failed.
bool DriveRequest(HttpClient& client, const char* url, int depth, ConnectionUse use,
                  HttpControl& settings, Output& sink, HttpResult& result, LogBase& log,
                  ProgressMonitor* progress);

// DriveRequest with the retries: a broken connection is re-opened once, and a 503 or 429 is
// asked again up to max503Retries times after its Retry-After seconds (at most two minutes),
// else retryDelayMs. The last answer is the result.
bool FetchWithRetry(HttpClient& client, const char* url, HttpControl& settings, Output& sink,
                    HttpResult& result, LogBase& log, ProgressMonitor* progress);

// Fetches url into out (appended) through the pool's client for its host and port. Credentials
// in the URL serve this fetch and redirects to the same host only.
bool FetchBytes(HttpConnPool& pool, const char* url, HttpControl& settings, DataBuffer& out,
                HttpResult& result, LogBase& log, ProgressMonitor* progress);

// FetchBytes, then the body decoded by its charset and appended to text as UTF-8.
bool FetchText(HttpConnPool& pool, const char* url, HttpControl& settings, StringBuffer& text,
               HttpResult& result, LogBase& log, ProgressMonitor* progress);

}  // namespace quillon
