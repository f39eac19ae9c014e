// The application's view of the crawl engine: one ClsSpider behind ANSI (or, when asked, UTF-8)
// text, a progress sink forwarded to the HTTP client on each CrawlNext, and the page's URL,
// title, description, keywords and date read on demand. It adds no crawl logic of its own.
#pragma once

#include <cstdint>

#include "base/platform.h"
#include "base/progress.h"
#include "spider/cls_spider.h"
#include "spider/vn_object.h"
#include "spider/vn_string.h"

namespace quillon {

// The per-call progress object: forwards every event to the application's sink when there is
// one, else keeps the harmless defaults.
class VnSpiderCb : public ProgressEvent {
 public:
  explicit VnSpiderCb(ProgressEvent* sink) : sink_(sink) {}

  void PercentUpdate(int percent, bool& abort) override;
  void AbortCheck(bool& abort) override;
  void IntervalTick(int value, bool& abort) override;
  void OnRedirect(const char* oldUrl, const char* newUrl, bool& abort) override;
  void OnChunked() override;
  void OnSendRate(uint64_t bytesPerSec, uint64_t totalBytes) override;
  void OnReceiveRate(uint64_t bytesPerSec, uint64_t totalBytes) override;

 private:
  ProgressEvent* sink_;
};

class VnSpider : public VnObject {
 public:
  VnSpider() = default;
  VnSpider(const VnSpider&) = delete;
  VnSpider& operator=(const VnSpider&) = delete;
  ~VnSpider() override = default;

  // Starts a new site: a text beginning with "http" sets the domain to its host and queues it;
  // any other text becomes the domain and nothing is queued.
  void BeginSite(const char* text);
  // Queues url when it is on the site (see ClsSpider::QueueUrl); true when it was queued.
  bool QueueUrl(const char* url);
  // Fetches the next page that loads; true when one did. False when the queue ran empty (the
  // log then says why). Progress goes to the event sink set below.
  bool CrawlNext();

  // Counts of the engine's lists.
  int PendingCount() const { return spider_.unspideredCount(); }
  int SpideredCount() const { return spider_.spideredCount(); }
  int FailedCount() const { return spider_.failedCount(); }
  int OutboundCount() const { return spider_.outboundCount(); }

  // The text getters fill the facade's own string (cleared first) and return its ANSI text (or
  // UTF-8 with setUtf8(true)), valid until the next getter call; or they fill the caller's.
  // URL of the page last taken from the queue (the last failed one after a failed CrawlNext).
  const char* CurrentUrl();
  void CurrentUrl(VnString& out) const;
  // Title, "description" and "keywords" meta contents of the page last fetched.
  const char* PageTitle();
  void PageTitle(VnString& out) const;
  const char* PageDescription();
  void PageDescription(VnString& out) const;
  const char* PageKeywords();
  void PageKeywords(VnString& out) const;
  // The i-th URL of a list (0 = first); empty when out of range.
  const char* SpideredUrl(int index);
  const char* FailedUrl(int index);
  const char* OutboundUrl(int index);
  const char* UnspideredUrl(int index);

  // The page's Last-Modified date (year, month, day; the rest zero). False, with date left as
  // it was, when the page had no readable date.
  bool PageModifiedDate(SystemTime& date) const;

  // The engine's log of its last operation as text, every line ending in CR LF.
  const char* ErrorLogText();
  void ErrorLogText(VnString& out);
  // The same text (the name the library's other objects use).
  const char* LastErrorText() { return ErrorLogText(); }

  // The application's progress sink (not owned; null for none). Set it before CrawlNext.
  void setEventCallback(ProgressEvent* sink) { eventSink_ = sink; }
  ProgressEvent* eventCallback() const { return eventSink_; }
  // Whether the application's strings are UTF-8 (false: ANSI, the default).
  void setUtf8(bool utf8) { utf8_ = utf8; }
  bool utf8() const { return utf8_; }

  // The engine, for settings the facade does not carry (patterns, limits, test time-outs).
  ClsSpider& engine() { return spider_; }
  const ClsSpider& engine() const { return spider_; }

 private:
  // The application's text as the engine's UTF-8 (pointer valid until the next call).
  const char* toEngine(const char* text);
  // Fills out with engine text (UTF-8).
  static void fill(VnString& out, const char* utf8);
  // Fills result_ and returns it in the application's form.
  const char* give(const char* utf8);

  ClsSpider spider_;
  VnString result_;
  VnString argument_;
  ProgressEvent* eventSink_ = nullptr;
  bool utf8_ = false;
};

}  // namespace quillon
