#include "spider/vn_spider.h"

#include <cstdio>
#include <string>

#include "base/html_help.h"
#include "base/logger.h"
#include "http/date_parser.h"

namespace quillon {

void VnSpiderCb::PercentUpdate(int percent, bool& abort) {
  if (sink_ != nullptr) sink_->PercentUpdate(percent, abort);
}

void VnSpiderCb::AbortCheck(bool& abort) {
  if (sink_ != nullptr) sink_->AbortCheck(abort);
}

void VnSpiderCb::IntervalTick(int value, bool& abort) {
  if (sink_ != nullptr) sink_->IntervalTick(value, abort);
}

void VnSpiderCb::OnRedirect(const char* oldUrl, const char* newUrl, bool& abort) {
  if (sink_ != nullptr) sink_->OnRedirect(oldUrl, newUrl, abort);
}

void VnSpiderCb::OnChunked() {
  if (sink_ != nullptr) sink_->OnChunked();
}

void VnSpiderCb::OnSendRate(uint64_t bytesPerSec, uint64_t totalBytes) {
  if (sink_ != nullptr) sink_->OnSendRate(bytesPerSec, totalBytes);
}

void VnSpiderCb::OnReceiveRate(uint64_t bytesPerSec, uint64_t totalBytes) {
  if (sink_ != nullptr) sink_->OnReceiveRate(bytesPerSec, totalBytes);
}

const char* VnSpider::toEngine(const char* text) {
  if (utf8_) return text;
  argument_.setFromAnsi(text);
  return argument_.getUtf8();
}

void VnSpider::fill(VnString& out, const char* utf8) {
  out.clear();
  out.setFromUtf8(utf8);
}

const char* VnSpider::give(const char* utf8) {
  fill(result_, utf8);
  return utf8_ ? result_.getUtf8() : result_.getAnsi();
}

void VnSpider::BeginSite(const char* text) { spider_.BeginSite(toEngine(text)); }

bool VnSpider::QueueUrl(const char* url) { return spider_.QueueUrl(toEngine(url)); }

bool VnSpider::CrawlNext() {
  VnSpiderCb callback(eventSink_);
  return spider_.CrawlNext(&callback);
}

const char* VnSpider::CurrentUrl() { return give(spider_.currentUrl().getString()); }

void VnSpider::CurrentUrl(VnString& out) const { fill(out, spider_.currentUrl().getString()); }

namespace {

// The page's title and its meta elements' content, UTF-8, read from the engine's page text;
// a title or description that the page's scripts changed is read from the rendered document.
std::string TitleText(const ClsSpider& spider) {
  StringBuffer text;
  HtmlHelp::GetTitle(spider.pageText().view(), text);
  StringBuffer rendered;
  if (!spider.renderedText().isEmpty() &&
      HtmlHelp::GetTitle(spider.renderedText().view(), rendered) && !rendered.isEmpty()) {
    return std::string(rendered.view());
  }
  return std::string(text.view());
}

std::string MetaText(const ClsSpider& spider, const char* name, bool renderedCounts = false) {
  StringBuffer text;
  HtmlHelp::GetMetaContent(spider.pageText().view(), name, text);
  StringBuffer rendered;
  if (renderedCounts && !spider.renderedText().isEmpty() &&
      HtmlHelp::GetMetaContent(spider.renderedText().view(), name, rendered) &&
      !rendered.isEmpty()) {
    return std::string(rendered.view());
  }
  return std::string(text.view());
}

const char* TextOf(const char* url) { return url == nullptr ? "" : url; }

}  // namespace

const char* VnSpider::PageTitle() { return give(TitleText(spider_).c_str()); }

void VnSpider::PageTitle(VnString& out) const { fill(out, TitleText(spider_).c_str()); }

const char* VnSpider::PageDescription() {
  return give(MetaText(spider_, "description", true).c_str());
}

void VnSpider::PageDescription(VnString& out) const {
  fill(out, MetaText(spider_, "description", true).c_str());
}

const char* VnSpider::PageKeywords() { return give(MetaText(spider_, "keywords").c_str()); }

void VnSpider::PageKeywords(VnString& out) const {
  fill(out, MetaText(spider_, "keywords").c_str());
}

const char* VnSpider::SpideredUrl(int index) { return give(TextOf(spider_.spideredUrl(index))); }
const char* VnSpider::FailedUrl(int index) { return give(TextOf(spider_.failedUrl(index))); }
const char* VnSpider::OutboundUrl(int index) { return give(TextOf(spider_.outboundUrl(index))); }
const char* VnSpider::UnspideredUrl(int index) {
  return give(TextOf(spider_.unspideredUrl(index)));
}

bool VnSpider::PageModifiedDate(SystemTime& date) const {
  // The engine keeps the date as "YYYY-MM-DD"; read it back directly.
  const StringBuffer& text = spider_.lastModified();
  unsigned year = 0;
  unsigned month = 0;
  unsigned day = 0;
  char extra = 0;
  if (text.length() != 10 ||
      std::sscanf(text.getString(), "%4u-%2u-%2u%c", &year, &month, &day, &extra) != 3) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  date = SystemTime();
  date.year = static_cast<uint16_t>(year);
  date.month = static_cast<uint16_t>(month);
  date.day = static_cast<uint16_t>(day);
  date.dayOfWeek = static_cast<uint16_t>(DateParser::DayOfWeek(
      static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)));
  return true;
}

const char* VnSpider::ErrorLogText() {
  StringBuffer text;
  ErrorReportText(spider_.log(), text);
  return give(text.getString());
}

void VnSpider::ErrorLogText(VnString& out) {
  StringBuffer text;
  ErrorReportText(spider_.log(), text);
  fill(out, text.getString());
}

}  // namespace quillon
