// Following a redirect answer: the Location is checked and resolved against the URL that was
// asked for, the application may refuse it, and the request driver runs again on the new URL.
#pragma once

#include "base/string_buffer.h"

namespace quillon {

class HttpClient;
class HttpControl;
class HttpResult;
class LogBase;
class Output;
class ProgressMonitor;

// At most this many redirects follow one request (depth counts from 0).
inline constexpr int kMaxRedirectDepth = 7;

// Follows the redirect answer in result, which the driver got for url at depth. With
// followRedirects off the answer stays the result and only redirected and finalUrl are set;
// otherwise the sink is cleared and the driver's outcome on the new URL is the result. False,
// with the answer's head left in result, for a missing, "PageNotFound" or unusable Location,
// too deep a chain, or an application that refused it.
bool FollowRedirect(HttpClient& client, const char* url, int depth, HttpControl& settings,
                    Output& sink, HttpResult& result, LogBase& log, ProgressMonitor* progress);

// Replaces newUrl with location resolved against current: absolute and "//host" locations and
// paths come out percent-encoded for a request line. Empty (and false) when current has no
// "//" for a path location, or the combination fails.
bool ResolveLocation(const char* current, const char* location, StringBuffer& newUrl);

// Whether status is a redirect the driver follows for the verb: 301 and 302 always, 303, 307
// and 308 for GET.
bool IsFollowedRedirect(int status, const StringBuffer& verb);

}  // namespace quillon
