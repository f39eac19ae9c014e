// A short reason, for a person, why a fetch failed ("connection refused", "HTTP 404 Not
// Found"), read from the result's status and the lines the client wrote into its log. The full
// story stays in the log; this is the line a front end shows next to the address.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

class HttpControl;
class HttpResult;

enum class FetchFailureKind {
  Failed,    // the page could not be fetched
  TooLarge,  // the page passed the size limit and was left out
  Stopped,   // the application ended the fetch (a stop request)
};

// Fills reason and returns the kind for a failed fetch of url whose result is result and whose
// log rendered as text is logText; settings give the limits named in the reason.
FetchFailureKind DescribeFetchFailure(const char* url, const HttpResult& result,
                                      const HttpControl& settings, std::string_view logText,
                                      StringBuffer& reason);

}  // namespace quillon
