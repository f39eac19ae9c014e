#include "base/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace {

// The clock the monitors under test read; tests move it by hand.
uint32_t g_now = 0;
uint32_t FakeTicks() { return g_now; }

// Records every callback and answers with a preset abort.
class RecordingSink : public ProgressEvent {
 public:
  void PercentUpdate(int percent, bool& abort) override {
    calls.push_back("percent " + std::to_string(percent));
    abort = answer;
  }
  void AbortCheck(bool& abort) override {
    calls.push_back("check");
    if (answer) abort = true;
  }
  void IntervalTick(int value, bool& abort) override {
    calls.push_back("tick " + std::to_string(value));
    abort = answer;
  }

  std::vector<std::string> calls;
  bool answer = false;
};

class ProgressMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { g_now = 10000; }
  using Calls = std::vector<std::string>;
  RecordingSink sink;
};

// ---- Percentages

TEST(ProgressPercentTest, WholePercentagesFromIntegers) {
  struct Case {
    int64_t done;
    int64_t total;
    int expected;
  };
  const Case cases[] = {
      {0, 0, 100},
      {5, 0, 100},
      {0, -3, 100},
      {1, 200, 0},
      {2, 200, 1},
      {200, 200, 100},
      {999999, 1000000, 99},
      {5000000000, 10000000000, 50},
      {INT64_MAX / 2, INT64_MAX, 49},
      // Above 1,000,000 both terms lose a digit: 100,000 of 100,001.
      {1000009, 1000010, 99},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressMonitor::percent(c.done, c.total), c.expected)
        << c.done << " of " << c.total;
  }
}

// ---- Counting

TEST_F(ProgressMonitorTest, ReportsEachRiseOfTheWholePercentageOnce) {
  ProgressMonitor monitor(&sink, 200, FakeTicks);
  bool abort = true;
  monitor.consumeAndCheck(1, abort);  // 0%: nothing new
  EXPECT_FALSE(abort);
  monitor.consumeAndCheck(1, abort);  // 1%
  monitor.consumeAndCheck(1, abort);  // still 1%
  monitor.consumeAndCheck(97, abort);  // 50%
  EXPECT_EQ(sink.calls, (Calls{"percent 1", "percent 50"}));
  EXPECT_EQ(monitor.done(), 100);
  EXPECT_EQ(monitor.lastPercent(), 50);
}

TEST_F(ProgressMonitorTest, DoneIsClampedToTotal) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  bool abort = false;
  monitor.consumeAndCheck64(UINT64_MAX, abort);
  EXPECT_EQ(monitor.done(), 100);
  monitor.consumeAndCheck(5, abort);
  EXPECT_EQ(monitor.done(), 100);
  EXPECT_EQ(sink.calls, (Calls{"percent 100"}));
}

TEST_F(ProgressMonitorTest, ZeroTotalNeverReportsAPercentage) {
  ProgressMonitor monitor(&sink, 0, FakeTicks);
  bool abort = false;
  monitor.consumeAndCheck(1, abort);
  monitor.consume(1000);
  monitor.finish();
  EXPECT_TRUE(sink.calls.empty());
  EXPECT_EQ(monitor.done(), 0);
}

TEST_F(ProgressMonitorTest, PercentUpdateAbortIsStickyAndReported) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  sink.answer = true;
  bool abort = false;
  monitor.consumeAndCheck(10, abort);
  EXPECT_TRUE(abort);
  EXPECT_TRUE(monitor.isAborted());
  sink.answer = false;
  monitor.consumeAndCheck(10, abort);
  EXPECT_FALSE(abort);  // not asked for in this call
  EXPECT_TRUE(monitor.isAborted());
}

TEST_F(ProgressMonitorTest, SuspendedCountingChangesNothing) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  sink.answer = true;
  monitor.setCountingSuspended(true);
  bool abort = true;
  g_now += 5000;
  monitor.consumeAndCheck(50, abort);
  monitor.consume(50);
  EXPECT_TRUE(abort);  // untouched
  EXPECT_EQ(monitor.done(), 0);
  EXPECT_FALSE(monitor.isAborted());
  EXPECT_TRUE(sink.calls.empty());
  monitor.setCountingSuspended(false);
  monitor.consume(50);
  EXPECT_EQ(monitor.done(), 50);
}

TEST_F(ProgressMonitorTest, ConsumeIgnoresTheAbortAnswer) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  sink.answer = true;
  g_now += 5000;
  monitor.consume(10);
  monitor.consume(0);  // no rise, and no abort check either
  EXPECT_EQ(sink.calls, (Calls{"percent 10"}));
  EXPECT_FALSE(monitor.isAborted());
}

TEST_F(ProgressMonitorTest, FinishCountsTheRest) {
  ProgressMonitor monitor(&sink, 1000, FakeTicks);
  monitor.consume(500);
  monitor.finish();
  EXPECT_EQ(monitor.done(), 1000);
  EXPECT_EQ(sink.calls, (Calls{"percent 50", "percent 100"}));
  monitor.finish();
  EXPECT_EQ(sink.calls.size(), 2u);
}

TEST_F(ProgressMonitorTest, SetDoneReportsOnlyRisesAboveTheLastReported) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  bool abort = false;
  monitor.setDone(40, abort);
  monitor.setDone(20, abort);  // falls: nothing
  monitor.setDone(30, abort);  // rises, but not above 40
  monitor.setDone64(1000, abort);  // clamped to 100
  EXPECT_EQ(sink.calls, (Calls{"percent 40", "percent 100"}));
  EXPECT_EQ(monitor.done(), 100);
  sink.answer = true;
  monitor.resetTotal(100);
  monitor.setDone(1, abort);
  EXPECT_TRUE(abort);
  EXPECT_TRUE(monitor.isAborted());
}

TEST_F(ProgressMonitorTest, ResetTotalStartsAfreshAndClearsAbort) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  sink.answer = true;
  bool abort = false;
  monitor.consumeAndCheck(100, abort);
  ASSERT_TRUE(monitor.isAborted());
  sink.answer = false;
  monitor.resetTotal64(200);
  EXPECT_FALSE(monitor.isAborted());
  EXPECT_EQ(monitor.done(), 0);
  EXPECT_EQ(monitor.lastPercent(), 0);
  EXPECT_EQ(monitor.total(), 200);
  monitor.consumeAndCheck(2, abort);
  EXPECT_EQ(sink.calls.back(), "percent 1");
}

// ---- Abort checks while counting

TEST_F(ProgressMonitorTest, AbortCheckAtMostOncePerDefaultInterval) {
  ProgressMonitor monitor(&sink, 1000000, FakeTicks);
  bool abort = false;
  monitor.consumeAndCheck(1, abort);
  g_now += 300;  // not more than 300 ms yet
  monitor.consumeAndCheck(1, abort);
  EXPECT_TRUE(sink.calls.empty());
  g_now += 1;
  monitor.consumeAndCheck(1, abort);
  monitor.consumeAndCheck(1, abort);
  EXPECT_EQ(sink.calls, (Calls{"check"}));
}

TEST_F(ProgressMonitorTest, PercentUpdateRestartsTheAbortCheckInterval) {
  ProgressMonitor monitor(&sink, 100, FakeTicks);
  bool abort = false;
  g_now += 1000;
  monitor.consumeAndCheck(1, abort);  // percent 1 at +1000
  g_now += 200;
  monitor.consumeAndCheck(0, abort);  // 200 ms after the last callback: quiet
  g_now += 101;
  monitor.consumeAndCheck(0, abort);
  EXPECT_EQ(sink.calls, (Calls{"percent 1", "check"}));
}

TEST_F(ProgressMonitorTest, AbortCheckUsesTheCallersInterval) {
  ProgressMonitor monitor(&sink, 1000000, FakeTicks);
  EXPECT_FALSE(monitor.checkInterval(1000));  // fires at once, remembers 1000
  sink.calls.clear();
  bool abort = false;
  g_now += 500;
  monitor.consumeAndCheck(1, abort);
  EXPECT_TRUE(sink.calls.empty());
  g_now += 501;
  monitor.consumeAndCheck(1, abort);
  EXPECT_EQ(sink.calls, (Calls{"check"}));
}

TEST_F(ProgressMonitorTest, AbortCheckAnswerSticksForEveryLaterPoll) {
  ProgressMonitor monitor(&sink, 1000000, FakeTicks);
  sink.answer = true;
  g_now += 301;
  bool abort = false;
  monitor.consumeAndCheck(1, abort);
  EXPECT_TRUE(abort);
  ASSERT_TRUE(monitor.isAborted());
  size_t calls = sink.calls.size();
  EXPECT_TRUE(monitor.checkInterval(10));
  EXPECT_TRUE(monitor.checkInterval(0));
  EXPECT_TRUE(monitor.pollAbort(0));
  EXPECT_TRUE(monitor.pollAbort(50));
  EXPECT_EQ(sink.calls.size(), calls);  // answered without asking again
}

// ---- checkInterval and pollAbort

TEST_F(ProgressMonitorTest, FirstCheckIntervalFiresAtOnceThenEveryInterval) {
  ProgressMonitor monitor(&sink, 0, FakeTicks);
  EXPECT_FALSE(monitor.checkInterval(100));
  EXPECT_EQ(sink.calls, (Calls{"tick 0"}));
  g_now += 99;
  EXPECT_FALSE(monitor.checkInterval(100));
  EXPECT_EQ(sink.calls.size(), 1u);
  g_now += 1;
  EXPECT_FALSE(monitor.checkInterval(100));
  EXPECT_EQ(sink.calls.size(), 2u);
  g_now += 100000;
  EXPECT_FALSE(monitor.checkInterval(0));  // 0: no interval, never ticks
  EXPECT_EQ(sink.calls.size(), 2u);
}

TEST_F(ProgressMonitorTest, CheckIntervalRestartsWhenTheClockGoesBack) {
  ProgressMonitor monitor(&sink, 0, FakeTicks);
  monitor.checkInterval(100);  // fires at 10000
  g_now = 50;                  // wrapped or went back
  EXPECT_FALSE(monitor.checkInterval(100));
  g_now = 149;
  EXPECT_FALSE(monitor.checkInterval(100));
  g_now = 150;
  EXPECT_FALSE(monitor.checkInterval(100));
  EXPECT_EQ(sink.calls, (Calls{"tick 0", "tick 0"}));
}

TEST_F(ProgressMonitorTest, IntervalTickAbortIsReturnedAndSticky) {
  ProgressMonitor monitor(&sink, 0, FakeTicks);
  sink.answer = true;
  EXPECT_TRUE(monitor.checkInterval(100));
  sink.answer = false;
  g_now += 1000;
  EXPECT_TRUE(monitor.checkInterval(100));
  EXPECT_TRUE(monitor.isAborted());
  EXPECT_EQ(sink.calls.size(), 1u);
}

TEST_F(ProgressMonitorTest, PollAbortChecksAfter300msOrDelegatesToTheInterval) {
  ProgressMonitor monitor(&sink, 0, FakeTicks);
  g_now += 300;
  EXPECT_FALSE(monitor.pollAbort(0));
  EXPECT_TRUE(sink.calls.empty());
  g_now += 1;
  EXPECT_FALSE(monitor.pollAbort(0));
  EXPECT_FALSE(monitor.pollAbort(0));
  EXPECT_EQ(sink.calls, (Calls{"check"}));
  g_now += 20;
  EXPECT_FALSE(monitor.pollAbort(20));  // an interval of its own: IntervalTick instead
  EXPECT_EQ(sink.calls, (Calls{"check", "tick 0"}));
  sink.answer = true;
  g_now += 301;
  EXPECT_TRUE(monitor.pollAbort(0));
  EXPECT_TRUE(monitor.isAborted());
}

// ---- Sinks

TEST_F(ProgressMonitorTest, WithoutASinkTheEmbeddedOneAnswers) {
  ProgressMonitor monitor(nullptr, 100, FakeTicks);
  EXPECT_EQ(monitor.applicationSink(), nullptr);
  EXPECT_EQ(&monitor.sink(), &monitor.ownEvent());
  bool abort = true;
  monitor.consumeAndCheck(30, abort);
  EXPECT_FALSE(abort);
  EXPECT_EQ(monitor.ownEvent().lastPercent(), 30);
  EXPECT_FALSE(monitor.checkInterval(10));
  monitor.ownEvent().setAbortRequested(true);
  g_now += 10;
  EXPECT_TRUE(monitor.checkInterval(10));
}

TEST(ProgressEventTest, AsyncEventAnswersWithItsFlag) {
  AsyncProgressEvent event;
  bool abort = true;
  event.PercentUpdate(42, abort);
  EXPECT_FALSE(abort);
  EXPECT_EQ(event.lastPercent(), 42);
  event.setAbortRequested(true);
  event.AbortCheck(abort);
  EXPECT_TRUE(abort);
  abort = false;
  event.IntervalTick(0, abort);
  EXPECT_TRUE(abort);
}

}  // namespace
}  // namespace quillon
