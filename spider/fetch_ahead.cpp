#include "spider/fetch_ahead.h"

#include <chrono>

#include "base/progress.h"
#include "spider/crawl_pace.h"
#include "spider/url_list.h"

namespace quillon {

namespace {

// How often a wait for an answer asks the application whether to stop, and how often a
// worker's fetch looks at the stop mark when the application set no heartbeat.
constexpr uint32_t kStopPollMs = 50;

// Ends a worker's fetch once the crawl is stopping.
class StopMarkEvent : public ProgressEvent {
 public:
  explicit StopMarkEvent(const std::atomic<bool>& stop) : stop_(stop) {}
  void PercentUpdate(int /*percent*/, bool& abort) override { abort = abort || stop_.load(); }
  void AbortCheck(bool& abort) override { abort = abort || stop_.load(); }
  void IntervalTick(int /*value*/, bool& abort) override { abort = abort || stop_.load(); }

 private:
  const std::atomic<bool>& stop_;
};

}  // namespace

struct FetchAhead::Worker {
  enum class State { kIdle, kAssigned, kDone, kTaken };
  ClsHttp http;
  StringBuffer url;
  StringBuffer body;
  bool fetched = false;
  State state = State::kIdle;
  std::thread thread;
};

FetchAhead::FetchAhead(int connections, CrawlPace& pace) : pace_(pace) {
  for (int i = 0; i < (connections < 1 ? 1 : connections); ++i) {
    workers_.push_back(std::make_unique<Worker>());
    Worker& worker = *workers_.back();
    worker.thread = std::thread([this, &worker] { Run(worker); });
  }
}

FetchAhead::~FetchAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    stop_ = true;
  }
  work_.notify_all();
  for (auto& worker : workers_) worker->thread.join();
}

void FetchAhead::Run(Worker& worker) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [&] { return quit_ || worker.state == Worker::State::kAssigned; });
      if (quit_) return;
    }
    Fetch(worker);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      worker.state = Worker::State::kDone;
    }
    done_.notify_all();
  }
}

void FetchAhead::Fetch(Worker& worker) {
  worker.body.clear();
  if (!pace_.WaitTurn(stop_)) {
    // The crawl stopped before the request could start: nothing was sent.
    worker.http.result().reset();
    worker.http.result().error.kind = FetchErrorKind::kStopped;
    worker.fetched = false;
    return;
  }
  StopMarkEvent stopMark(stop_);
  worker.fetched = worker.http.QuickGetStr(worker.url.getString(), worker.body, &stopMark);
}

FetchAhead::Worker* FetchAhead::IdleWorker() {
  for (auto& worker : workers_) {
    if (worker->state == Worker::State::kIdle) return worker.get();
  }
  return nullptr;
}

void FetchAhead::Schedule(const UrlList& queue, int limit, ClsHttp& model) {
  bool handed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (static_cast<int>(inHand_.size()) < limit &&
           static_cast<int>(inHand_.size()) < queue.count()) {
      Worker* worker = IdleWorker();
      if (worker == nullptr) break;
      HttpControl& settings = worker->http.settings();
      if (!settings.CopySettingsFrom(model.settings()) ||
          !worker->url.assign(queue.at(static_cast<int>(inHand_.size())))) {
        break;  // out of memory: the engine fetches the page itself
      }
      if (settings.abortCheckMs == 0) settings.abortCheckMs = kStopPollMs;
      worker->state = Worker::State::kAssigned;
      inHand_.push_back(worker);
      handed = true;
    }
  }
  if (handed) work_.notify_all();
}

bool FetchAhead::Take(const char* url, ProgressEvent* progress, Answer& answer) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (inHand_.empty() || inHand_.front()->url.view() != url) return false;
  Worker* worker = inHand_.front();
  inHand_.pop_front();
  while (worker->state != Worker::State::kDone) {
    done_.wait_for(lock, std::chrono::milliseconds(kStopPollMs));
    if (progress == nullptr || stop_) continue;
    lock.unlock();
    bool abort = false;
    progress->AbortCheck(abort);
    lock.lock();
    if (abort) stop_ = true;
  }
  worker->state = Worker::State::kTaken;
  taken_ = worker;
  answer = {&worker->http, worker->fetched, &worker->body};
  return true;
}

void FetchAhead::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (taken_ != nullptr) taken_->state = Worker::State::kIdle;
  taken_ = nullptr;
}

void FetchAhead::DropAll() {
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = true;
  for (Worker* worker : inHand_) {
    done_.wait(lock, [&] { return worker->state == Worker::State::kDone; });
    worker->state = Worker::State::kIdle;
  }
  inHand_.clear();
  stop_ = false;
}

int FetchAhead::inHand() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(inHand_.size());
}

}  // namespace quillon
