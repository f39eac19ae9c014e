#include "spider/crawl_pace.h"

#include <algorithm>
#include <thread>

namespace quillon {

namespace {

// A wait is cut into slices so that a stop is heard within one.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

}  // namespace

void CrawlPace::setPauseMs(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  pauseMs_ = ms;
}

void CrawlPace::setCrawlDelayMs(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  crawlDelayMs_ = ms;
}

uint32_t CrawlPace::IntervalLocked() const {
  return std::max({pauseMs_, crawlDelayMs_, backoffMs_});
}

uint32_t CrawlPace::intervalMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IntervalLocked();
}

uint32_t CrawlPace::backoffMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return backoffMs_;
}

bool CrawlPace::WaitTurn(const std::atomic<bool>& stop) {
  return WaitTurn([&stop] { return stop.load(); });
}

bool CrawlPace::WaitTurn(const std::function<bool()>& stopped) {
  Clock::time_point start;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    start = std::max(Clock::now(), nextStart_);
    nextStart_ = start + std::chrono::milliseconds(IntervalLocked());
  }
  for (auto now = Clock::now(); now < start; now = Clock::now()) {
    if (stopped()) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(start - now, kWaitSlice));
  }
  return !stopped();
}

void CrawlPace::NoteAnswer(uint32_t busyAnswers) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (busyAnswers == 0) {
    if (backoffMs_ != 0 && ++calmAnswers_ >= kRelaxAfterAnswers) {
      calmAnswers_ = 0;
      backoffMs_ = backoffMs_ / 2 < kFirstBackoffMs ? 0 : backoffMs_ / 2;
    }
    return;
  }
  calmAnswers_ = 0;
  for (uint32_t i = 0; i < busyAnswers; ++i) {
    const uint64_t doubled = 2ull * IntervalLocked();
    backoffMs_ = static_cast<uint32_t>(
        std::clamp<uint64_t>(doubled, kFirstBackoffMs, std::max(kMaxBackoffMs, IntervalLocked())));
  }
}

}  // namespace quillon
