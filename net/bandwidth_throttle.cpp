#include "net/bandwidth_throttle.h"

#include <utility>

#include "base/platform.h"
#include "base/progress.h"

namespace quillon {

BandwidthThrottle::BandwidthThrottle() { reset(); }

uint32_t BandwidthThrottle::now() const { return clock_ ? clock_() : TickCount(); }

void BandwidthThrottle::sleep(uint32_t ms) const {
  if (sleeper_) {
    sleeper_(ms);
  } else {
    SleepMs(ms);
  }
}

void BandwidthThrottle::setClockForTests(Clock clock, Sleeper sleeper) {
  clock_ = std::move(clock);
  sleeper_ = std::move(sleeper);
  reset();
}

void BandwidthThrottle::reset() {
  startTick_ = now();
  elapsed_ = 0;
  total_ = 0;
}

void BandwidthThrottle::account(uint64_t n) {
  if (limit_ == 0) return;
  uint32_t tick = now();
  if (tick < startTick_) {  // the 32-bit tick count wrapped
    reset();
    return;
  }
  elapsed_ = tick - startTick_;
  total_ += n;
}

void BandwidthThrottle::wait(uint32_t heartbeatMs, ProgressMonitor* progress, bool& aborted) {
  aborted = false;
  if (limit_ == 0) return;
  account(0);
  if (elapsed_ < kMinMeasureMs) return;
  // total * 1000 cannot overflow in practice: it would take 18 petabytes in one period.
  uint64_t rate = total_ * 1000 / elapsed_;
  if (rate < limit_) return;
  uint64_t needed = total_ * 1000 / limit_;
  if (needed <= elapsed_) return;
  uint64_t pause = needed - elapsed_;
  uint32_t remaining = pause > kMaxSleepMs ? kMaxSleepMs : static_cast<uint32_t>(pause);
  if (heartbeatMs == 0 || progress == nullptr || remaining < heartbeatMs) {
    sleep(remaining);
    return;
  }
  while (remaining > 0) {
    uint32_t slice = remaining < heartbeatMs ? remaining : heartbeatMs;
    sleep(slice);
    remaining -= slice;
    if (progress->checkInterval(heartbeatMs)) {
      aborted = true;
      return;
    }
  }
}

}  // namespace quillon
