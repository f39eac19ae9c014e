#include "net/performance_mon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/progress.h"

namespace quillon {
namespace {

uint32_t g_now = 0;
uint32_t FakeTicks() { return g_now; }

struct RateReport {
  uint64_t rate;
  uint64_t total;
  bool operator==(const RateReport&) const = default;
};

class RateSink : public ProgressEvent {
 public:
  void OnSendRate(uint64_t rate, uint64_t total) override { sends.push_back({rate, total}); }
  void OnReceiveRate(uint64_t rate, uint64_t total) override { receives.push_back({rate, total}); }
  std::vector<RateReport> sends;
  std::vector<RateReport> receives;
};

TEST(PerformanceMonTest, ReportsAtMostEveryThreeHundredMilliseconds) {
  g_now = 1000;
  PerformanceMon monitor(PerformanceMon::kReceive, &FakeTicks);
  RateSink sink;
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  g_now += 100;
  monitor.addBytes(1000, &progress);
  EXPECT_TRUE(sink.receives.empty());
  g_now += 200;
  monitor.addBytes(2000, &progress);  // 300 ms after the start: due
  g_now += 100;
  monitor.addBytes(1000, &progress);  // 100 ms after the report: not due
  EXPECT_EQ(sink.receives, (std::vector<RateReport>{{10000, 3000}}));
  EXPECT_TRUE(sink.sends.empty());
}

TEST(PerformanceMonTest, SendKindFiresTheSendRateEvent) {
  g_now = 1000;
  PerformanceMon monitor(PerformanceMon::kSend, &FakeTicks);
  RateSink sink;
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  g_now += 500;
  monitor.addBytes(500, &progress);
  EXPECT_EQ(sink.sends, (std::vector<RateReport>{{1000, 500}}));
  EXPECT_TRUE(sink.receives.empty());
}

TEST(PerformanceMonTest, NothingIsReportedWithoutAnApplicationSink) {
  g_now = 1000;
  PerformanceMon monitor(PerformanceMon::kReceive, &FakeTicks);
  ProgressMonitor progress(nullptr, 0, &FakeTicks);
  g_now += 1000;
  monitor.addBytes(500, &progress);
  monitor.addBytes(500, nullptr);
  EXPECT_EQ(monitor.totalBytes(), 1000u);
}

TEST(PerformanceMonTest, TotalsOfFourGigabytesOrMoreAreNotReported) {
  g_now = 1000;
  PerformanceMon monitor(PerformanceMon::kReceive, &FakeTicks);
  RateSink sink;
  ProgressMonitor progress(&sink, 0, &FakeTicks);
  g_now += 1000000;
  monitor.addBytes(uint64_t{1} << 32, &progress);
  EXPECT_TRUE(sink.receives.empty());
}

TEST(PerformanceMonTest, ClockGoingBackwardsRestartsTheCount) {
  g_now = 5000;
  PerformanceMon monitor(PerformanceMon::kReceive, &FakeTicks);
  monitor.addBytes(700, nullptr);
  g_now = 10;
  monitor.addBytes(5, nullptr);
  EXPECT_EQ(monitor.totalBytes(), 5u);
}

}  // namespace
}  // namespace quillon
