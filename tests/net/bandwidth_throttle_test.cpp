#include "net/bandwidth_throttle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/progress.h"

namespace quillon {
namespace {

uint32_t g_monitorNow = 0;
uint32_t MonitorTicks() { return g_monitorNow; }

// A throttle whose clock only its own sleeps move, and the progress monitor's clock with it.
struct FakeClockThrottle {
  explicit FakeClockThrottle(uint64_t limit) {
    throttle.setClockForTests([this] { return now; },
                              [this](uint32_t ms) {
                                sleeps.push_back(ms);
                                now += ms;
                                g_monitorNow += ms;
                              });
    throttle.setLimit(limit);
    g_monitorNow = 50000;
  }
  FakeClockThrottle(const FakeClockThrottle&) = delete;
  FakeClockThrottle& operator=(const FakeClockThrottle&) = delete;

  BandwidthThrottle throttle;
  uint32_t now = 100000;
  std::vector<uint32_t> sleeps;
};

// The pause after `bytes` were counted `elapsedMs` into the period, without a heartbeat.
TEST(BandwidthThrottleTest, PauseBringsTheRateBackToTheLimit) {
  const struct {
    const char* name;
    uint64_t limit;  // 0: no throttling
    uint32_t elapsedMs;
    uint64_t bytes;
    std::vector<uint32_t> sleeps;
  } cases[] = {
      {"5000 bytes after one second at 1000/s sleep four seconds", 1000, 1000, 5000, {4000}},
      {"a computed minute is cut to twenty seconds", 1000, 1000, 61000,
       {BandwidthThrottle::kMaxSleepMs}},
      {"no limit never sleeps", 0, 1000, 1000000, {}},
      {"less than the measuring minimum never sleeps", 10, 199, 100000, {}},
      {"a rate below the limit never sleeps", 1000, 2000, 1999, {}},
  };
  for (const auto& c : cases) {
    FakeClockThrottle link(c.limit);
    link.now += c.elapsedMs;
    link.throttle.account(c.bytes);
    if (c.limit == 0) {
      EXPECT_EQ(link.throttle.totalBytes(), 0u) << "nothing is counted";
    }
    bool aborted = true;
    link.throttle.wait(0, nullptr, aborted);
    EXPECT_FALSE(aborted) << c.name;
    EXPECT_EQ(link.sleeps, c.sleeps) << c.name;
  }
}

TEST(BandwidthThrottleTest, ClockGoingBackwardsStartsANewPeriod) {
  FakeClockThrottle link(1000);
  link.now += 1000;
  link.throttle.account(5000);
  link.now -= 5000;
  link.throttle.account(10);
  EXPECT_EQ(link.throttle.totalBytes(), 0u);
  bool aborted = false;
  link.throttle.wait(0, nullptr, aborted);
  EXPECT_TRUE(link.sleeps.empty());
}

// Asks to abort at the n-th interval tick.
class AbortAtTick : public ProgressEvent {
 public:
  explicit AbortAtTick(int n) : n_(n) {}
  void IntervalTick(int, bool& abort) override { abort = ++ticks_ >= n_; }

 private:
  int n_;
  int ticks_ = 0;
};

TEST(BandwidthThrottleTest, HeartbeatSlicesThePauseAndAnAbortEndsIt) {
  const struct {
    uint64_t bytes;
    int abortAtTick;
    bool aborted;
    std::vector<uint32_t> sleeps;
  } cases[] = {
      {5000, 3, true, {500, 500, 500}},
      {2300, 1000, false, {500, 500, 300}},
  };
  for (const auto& c : cases) {
    FakeClockThrottle link(1000);
    link.now += 1000;
    link.throttle.account(c.bytes);
    AbortAtTick sink(c.abortAtTick);
    ProgressMonitor progress(&sink, 0, &MonitorTicks);
    bool aborted = !c.aborted;
    link.throttle.wait(500, &progress, aborted);
    EXPECT_EQ(aborted, c.aborted) << c.bytes << " bytes";
    EXPECT_EQ(link.sleeps, c.sleeps) << c.bytes << " bytes";
  }
}

}  // namespace
}  // namespace quillon
