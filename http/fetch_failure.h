// What a front end tells a person about a failed fetch: the kind of failure for its lists (left
// out as too large, stopped, failed) and one short line ("connection refused", "HTTP 404 Not
// Found"), both read from the error the client named where the fetch failed.
#pragma once

#include "base/string_buffer.h"

namespace quillon {

class HttpResult;

enum class FetchFailureKind {
  Failed,    // the page could not be fetched
  TooLarge,  // the page passed the size limit and was left out
  Stopped,   // the application ended the fetch (a stop request)
};

// Names the failure of a fetch that the client itself did not fail: an answer of 400 or above
// (a 401 when a login was offered is a refused login). A fetch that failed without a named
// error becomes kFailed. Leaves an error already named as it is.
void NoteAnswerFailure(HttpResult& result);

// Fills reason with the one line for the result's error and returns its kind.
FetchFailureKind DescribeFetchFailure(const HttpResult& result, StringBuffer& reason);

}  // namespace quillon
