#include "base/progress.h"

#include "base/platform.h"

namespace quillon {

// ---- ProgressEvent defaults

void ProgressEvent::PercentUpdate(int, bool& abort) { abort = false; }
void ProgressEvent::AbortCheck(bool&) {}
void ProgressEvent::IntervalTick(int, bool& abort) { abort = false; }
void ProgressEvent::OnRedirect(const char*, const char*, bool& abort) { abort = false; }
void ProgressEvent::OnChunked() {}
void ProgressEvent::OnSendRate(uint64_t, uint64_t) {}
void ProgressEvent::OnReceiveRate(uint64_t, uint64_t) {}

// ---- AsyncProgressEvent

void AsyncProgressEvent::PercentUpdate(int percent, bool& abort) {
  lastPercent_.store(percent);
  abort = abortRequested();
}

void AsyncProgressEvent::AbortCheck(bool& abort) { abort = abortRequested(); }

void AsyncProgressEvent::IntervalTick(int, bool& abort) { abort = abortRequested(); }

// ---- ProgressMonitor

ProgressMonitor::ProgressMonitor(ProgressEvent* sink, int64_t total, TickSource ticks)
    : sink_(sink ? sink : &ownEvent_),
      ticks_(ticks ? ticks : &TickCount),
      total_(total),
      lastCallbackTick_(ticks_()) {}

int ProgressMonitor::percent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  if (done < 0) done = 0;
  if (done > total) done = total;
  while (total > kPercentScaleLimit) {
    total /= 10;
    done /= 10;
  }
  return static_cast<int>(done * 100 / total);
}

int ProgressMonitor::moveDoneTo(int64_t done) {
  int before = percent(done_, total_);
  done_ = done < 0 ? 0 : done;
  if (done_ > total_) done_ = total_ > 0 ? total_ : 0;
  int after = percent(done_, total_);
  return after > before && after > lastPercent_ ? after : -1;
}

int ProgressMonitor::countBytes(uint64_t count) {
  uint64_t room = total_ > done_ ? static_cast<uint64_t>(total_ - done_) : 0;
  return moveDoneTo(count >= room ? total_ : done_ + static_cast<int64_t>(count));
}

void ProgressMonitor::consumeAndCheck(uint32_t count, bool& abort) {
  consumeAndCheck64(count, abort);
}

void ProgressMonitor::consumeAndCheck64(uint64_t count, bool& abort) {
  if (countingSuspended_) return;
  abort = false;
  int reached = countBytes(count);
  uint32_t tick = now();
  if (reached >= 0) {
    lastCallbackTick_ = tick;
    lastPercent_ = reached;
    sink_->PercentUpdate(reached, abort);
    if (abort) aborted_ = true;
    return;
  }
  uint32_t interval = intervalMs_ ? intervalMs_ : kDefaultIntervalMs;
  if (tick - lastCallbackTick_ > interval) {
    lastIntervalTick_ = lastCallbackTick_ = tick;
    sink_->AbortCheck(abort);
    if (abort) aborted_ = true;
  }
}

void ProgressMonitor::consume(uint64_t count) {
  if (countingSuspended_) return;
  int reached = countBytes(count);
  if (reached < 0) return;
  lastCallbackTick_ = now();
  lastPercent_ = reached;
  bool ignored = false;
  sink_->PercentUpdate(reached, ignored);
}

void ProgressMonitor::setDone(uint32_t amount, bool& abort) { setDone64(amount, abort); }

void ProgressMonitor::setDone64(int64_t amount, bool& abort) {
  abort = false;
  int reached = moveDoneTo(amount);
  if (reached < 0) return;
  lastPercent_ = reached;
  sink_->PercentUpdate(reached, abort);
  if (abort) aborted_ = true;
}

bool ProgressMonitor::checkInterval(uint32_t ms) {
  if (aborted_) return true;
  intervalMs_ = ms;
  if (ms == 0) return false;
  uint32_t tick = now();
  // A counter that went backwards (or wrapped) restarts the measurement.
  if (tick <= lastIntervalTick_) {
    lastIntervalTick_ = tick;
    return false;
  }
  if (tick - lastIntervalTick_ < ms) return false;
  lastIntervalTick_ = lastCallbackTick_ = tick;
  sink_->IntervalTick(0, aborted_);
  return aborted_;
}

bool ProgressMonitor::pollAbort(uint32_t ms) {
  if (aborted_) return true;
  if (ms > 0) return checkInterval(ms);
  uint32_t tick = now();
  if (tick - lastCallbackTick_ > kDefaultIntervalMs) {
    lastIntervalTick_ = lastCallbackTick_ = tick;
    bool abort = false;
    sink_->AbortCheck(abort);
    if (abort) aborted_ = true;
  }
  return aborted_;
}

void ProgressMonitor::finish() {
  if (done_ < total_) consume(static_cast<uint64_t>(total_ - done_));
}

void ProgressMonitor::resetTotal(uint32_t total) { resetTotal64(total); }

void ProgressMonitor::resetTotal64(int64_t total) {
  total_ = total;
  done_ = 0;
  lastPercent_ = 0;
  aborted_ = false;
}

}  // namespace quillon
