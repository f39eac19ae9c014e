// The outcome of one HTTP exchange (the response head, redirect and cache state, what was sent)
// and the charset rules that turn a finished text body into UTF-8. It performs no I/O.
#pragma once

#include <string_view>

#include "base/data_buffer.h"
#include "base/string_buffer.h"
#include "http/http_response_header.h"
#include "net/fetch_error.h"
#include "net/quillon_socket.h"

namespace quillon {

class HttpResult {
 public:
  HttpResult() = default;
  HttpResult(const HttpResult&) = delete;
  HttpResult& operator=(const HttpResult&) = delete;

  // Clears the flags, finalUrl, cacheState, the header, the error and needsReconnect before an
  // attempt.
  void reset();

  bool redirected = false;
  StringBuffer finalUrl;
  // The status of the first redirect answer followed, and how many were followed.
  int redirectStatus = 0;
  int redirectHops = 0;
  // From the start of the fetch to the end of its body, retries and redirects included (ms);
  // set when the fetch ends.
  uint32_t answerMs = 0;
  int cacheState = 0;
  bool fromCache = false;
  bool needsReconnect = false;
  // The last request sent carried a login (Basic or an NTLM token): a 401 then refused it.
  bool loginOffered = false;
  HttpResponseHeader header;
  StringBuffer verb;
  StringBuffer lastRequest;
  // The socket layer's report on the last read (net's flags, passed to every socket read).
  SocketFlags socketFlags;
  // Why the attempt failed, named where it failed; kNone while nothing failed.
  FetchError error;
  // A body over the size limit was read to its end and dropped: the connection is fit for the
  // next request.
  bool bodyDropped = false;
  // How many 429 and 503 answers the fetch met, the last one included (each attempt sets it).
  uint32_t busyAnswers = 0;
  // What went wrong beside success during the whole fetch (reset() keeps them).
  FetchWarnings warnings;
};

// The "charset" attribute of the response's Content-Type, appended to charset; empty when
// there is none.
bool CharsetOfResponse(const HttpResult& result, StringBuffer& charset);

// Appends body to text as UTF-8: the charset of Content-Type, else (8-bit body served as
// text/html) the page's own meta charset, else windows-1252. UTF-8 and US-ASCII bodies are
// taken as they are; a conversion that yields nothing (unknown charset) keeps the raw bytes and
// adds the kCharsetUnknown warning. False only when memory runs out.
bool DecodeTextBody(HttpResult& result, const DataBuffer& body, StringBuffer& text);

}  // namespace quillon
