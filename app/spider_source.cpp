// The Generate run's page source over the spider facade.
#include "app/generate_run.h"
#include "base/progress.h"
#include "spider/vn_spider.h"

namespace tollwick {
namespace {

// Lets a stop request end a fetch that is waiting on the network.
class StopSink : public quillon::ProgressEvent {
 public:
  explicit StopSink(FrontEndHooks& hooks) : hooks_(hooks) {}
  void PercentUpdate(int /*percent*/, bool& abort) override { check(abort); }
  void AbortCheck(bool& abort) override { check(abort); }
  void IntervalTick(int /*value*/, bool& abort) override { check(abort); }

 private:
  void check(bool& abort) {
    if (hooks_.StopRequested()) abort = true;
  }
  FrontEndHooks& hooks_;
};

class SpiderSource : public PageSource {
 public:
  explicit SpiderSource(FrontEndHooks& hooks) : sink_(hooks) { spider_.setEventCallback(&sink_); }

  void BeginSite(const std::string& domain) override { spider_.BeginSite(domain.c_str()); }
  void QueueUrl(const std::string& url) override { spider_.QueueUrl(url.c_str()); }
  bool CrawlNext() override { return spider_.CrawlNext(); }
  int PendingCount() override { return spider_.PendingCount(); }
  std::string CurrentUrl() override { return spider_.CurrentUrl(); }
  std::string PageTitle() override { return spider_.PageTitle(); }
  std::string PageKeywords() override { return spider_.PageKeywords(); }
  std::string PageDescription() override { return spider_.PageDescription(); }
  bool PageModifiedDate(quillon::SystemTime& when) override {
    return spider_.PageModifiedDate(when);
  }
  std::string ErrorLogText() override { return spider_.ErrorLogText(); }

 private:
  StopSink sink_;
  quillon::VnSpider spider_;
};

}  // namespace

std::unique_ptr<PageSource> MakeSpiderSource(FrontEndHooks& hooks) {
  return std::make_unique<SpiderSource>(hooks);
}

}  // namespace tollwick
