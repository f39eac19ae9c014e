// A page source for tests of the Generate run: a scripted list of crawl steps instead of the
// network, with a record of what the run asked.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/generate_run.h"

namespace tollwick::testing {

struct FakeStep {
  bool fetched = true;
  std::string url;
  std::string title;
  std::string keywords;
  std::string description;
  std::string log = "step log\r\n";
  int pendingAfter = 0;
  bool hasDate = false;
  quillon::SystemTime date;
  // Pages the step left out before it ended.
  std::vector<LeftOutPage> leftOut;
  // The address the page's canonical link names, or "".
  std::string canonical;
};

struct FakeScript {
  std::vector<FakeStep> steps;
  // Filled by the run.
  std::string domain;
  std::vector<std::string> queued;
  int crawlCalls = 0;
  SourceSettings settings;
  int robotsExcluded = 0;
  int offSite = 0;
  uint32_t crawlDelayMs = 0;
};

class FakePageSource : public PageSource {
 public:
  explicit FakePageSource(FakeScript& script) : script_(script) {}
  void BeginSite(const std::string& domain) override { script_.domain = domain; }
  void QueueUrl(const std::string& url) override { script_.queued.push_back(url); }
  bool CrawlNext() override {
    ++script_.crawlCalls;
    if (next_ >= script_.steps.size()) {
      current_ = nullptr;
      return false;
    }
    current_ = &script_.steps[next_++];
    leftOut_.insert(leftOut_.end(), current_->leftOut.begin(), current_->leftOut.end());
    return current_->fetched;
  }
  int PendingCount() override { return current_ ? current_->pendingAfter : 0; }
  std::string CurrentUrl() override { return current_ ? current_->url : ""; }
  std::string PageTitle() override { return current_ ? current_->title : ""; }
  std::string PageKeywords() override { return current_ ? current_->keywords : ""; }
  std::string PageDescription() override { return current_ ? current_->description : ""; }
  bool PageModifiedDate(quillon::SystemTime& when) override {
    if (!current_ || !current_->hasDate) return false;
    when = current_->date;
    return true;
  }
  std::string ErrorLogText() override {
    return current_ ? current_->log : "No unspidered URLs remaining.\r\n";
  }
  int LeftOutCount() override { return static_cast<int>(leftOut_.size()); }
  LeftOutPage LeftOut(int index) override { return leftOut_.at(static_cast<size_t>(index)); }
  int RobotsExcludedCount() override { return script_.robotsExcluded; }
  uint32_t CrawlDelayMs() override { return script_.crawlDelayMs; }
  int OffSiteCount() override { return script_.offSite; }
  PageListing CurrentPageListing() override {
    PageListing page = PageSource::CurrentPageListing();
    if (current_) page.canonical = current_->canonical;
    return page;
  }

 private:
  FakeScript& script_;
  size_t next_ = 0;
  const FakeStep* current_ = nullptr;
  std::vector<LeftOutPage> leftOut_;
};

inline PageSourceFactory FakeFactory(FakeScript& script) {
  return [&script](FrontEndHooks&, const SourceSettings& settings) {
    script.settings = settings;
    return std::make_unique<FakePageSource>(script);
  };
}

inline FakeStep Page(const std::string& url, const std::string& title, int pendingAfter = 0) {
  FakeStep step;
  step.url = url;
  step.title = title;
  step.pendingAfter = pendingAfter;
  return step;
}

// A step that fetched nothing: every URL it tried was left out.
inline FakeStep Failure(std::vector<LeftOutPage> leftOut, int pendingAfter = 0) {
  FakeStep step;
  step.fetched = false;
  step.leftOut = std::move(leftOut);
  step.pendingAfter = pendingAfter;
  return step;
}

}  // namespace tollwick::testing
