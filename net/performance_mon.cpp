#include "net/performance_mon.h"

#include "base/platform.h"
#include "base/progress.h"

namespace quillon {

PerformanceMon::PerformanceMon(int kind, TickSource ticks)
    : kind_(kind), ticks_(ticks ? ticks : &TickCount) {
  restart();
}

void PerformanceMon::restart() {
  startTick_ = ticks_();
  lastReportTick_ = startTick_;
  total_ = 0;
}

void PerformanceMon::addBytes(uint64_t count, ProgressMonitor* progress) {
  uint32_t tick = ticks_();
  if (tick < startTick_) {  // the tick count went backwards
    restart();
    tick = startTick_;
  }
  total_ += count;
  if (progress == nullptr) return;
  ProgressEvent* sink = progress->applicationSink();
  if (sink == nullptr) return;
  if (tick - lastReportTick_ < kReportIntervalMs) return;
  if (total_ >= (uint64_t{1} << 32)) return;
  uint32_t elapsed = tick - startTick_;
  if (elapsed == 0) return;
  uint64_t rate = total_ * 1000 / elapsed;
  if (rate > UINT32_MAX) return;
  lastReportTick_ = tick;
  if (kind_ == kSend) {
    sink->OnSendRate(rate, total_);
  } else {
    sink->OnReceiveRate(rate, total_);
  }
}

}  // namespace quillon
