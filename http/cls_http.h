// The HTTP client object the application and the spider hold: its settings, its connection pool,
// the result of the last fetch and the log of the last operation. Fetches are GETs of one URL
// as text; other verbs, uploads and asynchronous use are not offered.
#pragma once

#include "base/cls_base.h"
#include "base/data_buffer.h"
#include "base/string_buffer.h"
#include "http/http_conn_pool.h"
#include "http/http_control.h"
#include "http/http_result.h"

namespace quillon {

class ProgressEvent;

class ClsHttp : public ClsBase {
 public:
  // Writing to the cache is off; every other setting keeps its default.
  ClsHttp();
  ClsHttp(const ClsHttp&) = delete;
  ClsHttp& operator=(const ClsHttp&) = delete;
  ~ClsHttp() override = default;

  // Fetches url and appends its body to text as UTF-8. True only when the fetch succeeded and
  // the final status is below 400. callback (may be null) hears progress and may abort. Resets
  // the log and records the story under "QuickGetStr".
  bool QuickGetStr(const char* url, StringBuffer& text, ProgressEvent* callback = nullptr);
  // The same, the body appended to bytes as it came (after any Content-Encoding), no charset
  // conversion.
  bool QuickGetBytes(const char* url, DataBuffer& bytes, ProgressEvent* callback = nullptr);

  // The Last-Modified date of the last response as "YYYY-MM-DD"; empty when it has none that
  // reads. Replaces out; false when out is empty.
  bool ModifiedDateText(StringBuffer& out) const;

  HttpControl& settings() { return settings_; }
  HttpConnPool& pool() { return pool_; }
  HttpResult& result() { return result_; }
  const HttpResult& result() const { return result_; }

 private:
  // Runs one fetch (text or bytes) with the log context, the monitor and the status check.
  template <typename Fetch>
  bool QuickGet(const char* name, ProgressEvent* callback, Fetch fetch);

  HttpControl settings_;
  HttpConnPool pool_;
  HttpResult result_;
};

}  // namespace quillon
