// Per-direction bandwidth limit: counts the bytes of a measuring period and, before the next
// transfer, sleeps long enough to bring the average rate down to the limit. The clock and the
// sleep can be replaced (tests); the byte counts come from the socket.
#pragma once

#include <cstdint>
#include <functional>

namespace quillon {

class ProgressMonitor;

class BandwidthThrottle {
 public:
  using Clock = std::function<uint32_t()>;
  using Sleeper = std::function<void(uint32_t)>;

  // No rate is judged on less than this much measured time.
  static constexpr uint32_t kMinMeasureMs = 200;
  // The longest single pause, so a burst never stalls a transfer for minutes.
  static constexpr uint32_t kMaxSleepMs = 20000;

  BandwidthThrottle();

  // Bytes per second; 0 turns throttling off.
  void setLimit(uint64_t bytesPerSecond) { limit_ = bytesPerSecond; }
  uint64_t limit() const { return limit_; }

  // Starts a new measuring period now.
  void reset();
  // Counts n bytes just transferred (nothing when there is no limit). A clock that went
  // backwards starts a new period.
  void account(uint64_t n);
  // Sleeps until the period's rate is back at the limit, at most kMaxSleepMs. With a heartbeat
  // and a progress monitor the sleep is cut into heartbeat slices with an abort check after
  // each; an abort sets aborted and returns at once.
  void wait(uint32_t heartbeatMs, ProgressMonitor* progress, bool& aborted);

  // Replaces the tick count and the sleep (tests); empty functions restore the real ones.
  void setClockForTests(Clock clock, Sleeper sleeper);

  uint64_t totalBytes() const { return total_; }
  uint64_t elapsedMs() const { return elapsed_; }

 private:
  uint32_t now() const;
  void sleep(uint32_t ms) const;

  uint32_t startTick_ = 0;
  uint64_t elapsed_ = 0;
  uint64_t total_ = 0;
  uint64_t limit_ = 0;
  Clock clock_;
  Sleeper sleeper_;
};

}  // namespace quillon
