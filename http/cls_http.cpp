#include "http/cls_http.h"

#include <memory>
#include <new>

#include "base/platform.h"
#include "base/progress.h"
#include "http/date_parser.h"
#include "http/fetch_failure.h"
#include "http/request_driver.h"

namespace quillon {

ClsHttp::ClsHttp() { settings_.cacheRules.writeToCache = false; }

template <typename Fetch>
bool ClsHttp::QuickGet(const char* name, ProgressEvent* callback, Fetch fetch) {
  log_.reset();
  LogContextGuard context(log_, name);
  std::unique_ptr<ProgressMonitor> monitor;
  if (callback != nullptr) {
    monitor.reset(new (std::nothrow) ProgressMonitor(callback, 0));
    if (!monitor) {
      log_.addError("Out of memory");
      return false;
    }
  }
  result_.reset();
  const uint32_t started = TickCount();
  bool ok = fetch(monitor.get());
  result_.answerMs = TickCount() - started;
  if (monitor) monitor->finish();
  if (ok && result_.header.statusCode < 400) return true;
  NoteAnswerFailure(result_);
  return false;
}

bool ClsHttp::QuickGetStr(const char* url, StringBuffer& text, ProgressEvent* callback) {
  return QuickGet("QuickGetStr", callback, [&](ProgressMonitor* monitor) {
    return FetchText(pool_, url, settings_, text, result_, log_, monitor);
  });
}

bool ClsHttp::QuickGetBytes(const char* url, DataBuffer& bytes, ProgressEvent* callback) {
  return QuickGet("QuickGetBytes", callback, [&](ProgressMonitor* monitor) {
    return FetchBytes(pool_, url, settings_, bytes, result_, log_, monitor);
  });
}

bool ClsHttp::ModifiedDateText(StringBuffer& out) const {
  StringBuffer lastModified;
  if (!result_.header.getField("Last-Modified", lastModified)) {
    out.clear();
    return false;
  }
  return DateParser::ModifiedDateText(lastModified.getString(), out);
}

}  // namespace quillon
