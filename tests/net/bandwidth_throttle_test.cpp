#include "net/bandwidth_throttle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/progress.h"

namespace quillon {
namespace {

// A clock that only the throttle's own sleeps move.
struct FakeTime {
  uint32_t now = 100000;
  std::vector<uint32_t> sleeps;

  void Attach(BandwidthThrottle& throttle) {
    throttle.setClockForTests([this] { return now; },
                              [this](uint32_t ms) {
                                sleeps.push_back(ms);
                                now += ms;
                              });
  }
  uint32_t TotalSlept() const {
    uint32_t total = 0;
    for (uint32_t ms : sleeps) total += ms;
    return total;
  }
};

TEST(BandwidthThrottleTest, FiveThousandBytesAfterOneSecondAtOneThousandSleepsFourSeconds) {
  BandwidthThrottle throttle;
  FakeTime time;
  time.Attach(throttle);
  throttle.setLimit(1000);
  time.now += 1000;
  throttle.account(5000);
  bool aborted = true;
  throttle.wait(0, nullptr, aborted);
  EXPECT_FALSE(aborted);
  ASSERT_EQ(time.sleeps.size(), 1u);
  EXPECT_EQ(time.sleeps[0], 4000u);
}

TEST(BandwidthThrottleTest, ComputedSleepOfOneMinuteIsCutToTwentySeconds) {
  BandwidthThrottle throttle;
  FakeTime time;
  time.Attach(throttle);
  throttle.setLimit(1000);
  time.now += 1000;
  throttle.account(61000);
  bool aborted = false;
  throttle.wait(0, nullptr, aborted);
  ASSERT_EQ(time.sleeps.size(), 1u);
  EXPECT_EQ(time.sleeps[0], BandwidthThrottle::kMaxSleepMs);
}

TEST(BandwidthThrottleTest, NoLimitNeverSleepsOrCounts) {
  BandwidthThrottle throttle;
  FakeTime time;
  time.Attach(throttle);
  time.now += 1000;
  throttle.account(1000000);
  bool aborted = false;
  throttle.wait(0, nullptr, aborted);
  EXPECT_TRUE(time.sleeps.empty());
  EXPECT_EQ(throttle.totalBytes(), 0u);
}

TEST(BandwidthThrottleTest, LessThanTheMeasuringMinimumNeverSleeps) {
  BandwidthThrottle throttle;
  FakeTime time;
  time.Attach(throttle);
  throttle.setLimit(10);
  time.now += 199;
  throttle.account(100000);
  bool aborted = false;
  throttle.wait(0, nullptr, aborted);
  EXPECT_TRUE(time.sleeps.empty());
}

TEST(BandwidthThrottleTest, RateBelowTheLimitNeverSleeps) {
  BandwidthThrottle throttle;
  FakeTime time;
  time.Attach(throttle);
  throttle.setLimit(1000);
  time.now += 2000;
  throttle.account(1999);
  bool aborted = false;
  throttle.wait(0, nullptr, aborted);
  EXPECT_TRUE(time.sleeps.empty());
}

TEST(BandwidthThrottleTest, ClockGoingBackwardsStartsANewPeriod) {
  BandwidthThrottle throttle;
  FakeTime time;
  time.Attach(throttle);
  throttle.setLimit(1000);
  time.now += 1000;
  throttle.account(5000);
  time.now -= 5000;
  throttle.account(10);
  EXPECT_EQ(throttle.totalBytes(), 0u);
  bool aborted = false;
  throttle.wait(0, nullptr, aborted);
  EXPECT_TRUE(time.sleeps.empty());
}

// Asks to abort at the n-th interval tick.
class AbortAtTick : public ProgressEvent {
 public:
  explicit AbortAtTick(int n) : n_(n) {}
  void IntervalTick(int, bool& abort) override { abort = ++ticks_ >= n_; }
  int ticks() const { return ticks_; }

 private:
  int n_;
  int ticks_ = 0;
};

uint32_t g_monitorNow = 0;
uint32_t MonitorTicks() { return g_monitorNow; }

TEST(BandwidthThrottleTest, SleepIsSlicedByTheHeartbeatAndEndsOnAbort) {
  BandwidthThrottle throttle;
  uint32_t now = 100000;
  std::vector<uint32_t> sleeps;
  throttle.setClockForTests([&] { return now; },
                            [&](uint32_t ms) {
                              sleeps.push_back(ms);
                              now += ms;
                              g_monitorNow += ms;
                            });
  throttle.setLimit(1000);
  now += 1000;
  throttle.account(5000);
  g_monitorNow = 50000;
  AbortAtTick sink(3);
  ProgressMonitor progress(&sink, 0, &MonitorTicks);
  bool aborted = false;
  throttle.wait(500, &progress, aborted);
  EXPECT_TRUE(aborted);
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{500, 500, 500}));
}

TEST(BandwidthThrottleTest, SlicedSleepWithoutAbortSleepsTheWholePause) {
  BandwidthThrottle throttle;
  uint32_t now = 100000;
  std::vector<uint32_t> sleeps;
  throttle.setClockForTests([&] { return now; },
                            [&](uint32_t ms) {
                              sleeps.push_back(ms);
                              now += ms;
                              g_monitorNow += ms;
                            });
  throttle.setLimit(1000);
  now += 1000;
  throttle.account(2300);
  g_monitorNow = 50000;
  AbortAtTick sink(1000);
  ProgressMonitor progress(&sink, 0, &MonitorTicks);
  bool aborted = false;
  throttle.wait(500, &progress, aborted);
  EXPECT_FALSE(aborted);
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{500, 500, 300}));
}

}  // namespace
}  // namespace quillon
