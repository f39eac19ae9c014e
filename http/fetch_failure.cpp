#include "http/fetch_failure.h"

#include "http/http_result.h"

namespace quillon {

void NoteAnswerFailure(HttpResult& result) {
  FetchError& error = result.error;
  if (error.failed()) return;
  const int status = result.header.statusCode;
  // A 401 refuses a login only where one was offered (a host off the site gets none).
  if (status == 401 && result.loginOffered) {
    error.set(FetchErrorKind::kLoginRefused);
    error.login = LoginProblem::kRefused;
  } else if (status >= 400) {
    error.set(FetchErrorKind::kHttpStatus);
    error.status = status;
    error.statusText.assign(result.header.reasonText);
  } else {
    error.set(FetchErrorKind::kFailed);
  }
}

FetchFailureKind DescribeFetchFailure(const HttpResult& result, StringBuffer& reason) {
  if (!result.error.failed()) {
    reason.assign("the fetch failed");
    return FetchFailureKind::Failed;
  }
  DescribeFetchError(result.error, reason);
  switch (result.error.kind) {
    case FetchErrorKind::kBodyTooLarge:
      return FetchFailureKind::TooLarge;
    case FetchErrorKind::kStopped:
      return FetchFailureKind::Stopped;
    default:
      return FetchFailureKind::Failed;
  }
}

}  // namespace quillon
