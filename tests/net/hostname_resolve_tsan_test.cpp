// Lookups whose callers give up (time-out or abort) while the worker still runs: the worker must
// finish and free the shared object without touching anything the caller owned. Run under
// ThreadSanitizer and AddressSanitizer.
#include <gtest/gtest.h>

#include <string>

#include "base/logger.h"
#include "base/progress.h"
#include "net/hostname_resolve.h"
#include "tests/net/resolver_fake.h"

namespace quillon {
namespace {

using testing::FakeResolver;

class AbandonedLookupTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeResolver::Instance().Install(); }
  void TearDown() override {
    FakeResolver::Instance().OpenGate();
    EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
    FakeResolver::Instance().Uninstall();
  }
};

TEST_F(AbandonedLookupTest, TimedOutLookupFinishesAfterItsCallerLeft) {
  FakeResolver::Instance().Add("late.test", "10.0.0.1");
  FakeResolver::Instance().CloseGate();
  {
    // Everything the caller owns lives in this scope and is gone when the worker finishes.
    Logger log;
    ProgressMonitor progress(nullptr, 0);
    StringBuffer ip;
    uint32_t address = 0;
    bool aborted = false;
    bool timedOut = false;
    EXPECT_FALSE(ResolveHostname("late.test", 30, 10, log, &progress, ip, address, aborted,
                                 timedOut));
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(HostnameResolve::LiveCountForTests(), 1);
  }
  FakeResolver::Instance().OpenGate();
  EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
}

class AbortingSink : public ProgressEvent {
 public:
  void IntervalTick(int, bool& abort) override { abort = true; }
};

TEST_F(AbandonedLookupTest, AbortedLookupFinishesAfterItsCallerLeft) {
  FakeResolver::Instance().CloseGate();
  {
    Logger log;
    AbortingSink sink;
    ProgressMonitor progress(&sink, 0);
    StringBuffer ip;
    uint32_t address = 0;
    bool aborted = false;
    bool timedOut = false;
    EXPECT_FALSE(ResolveHostname("gone.example.org", 0, 50, log, &progress, ip, address, aborted,
                                 timedOut));
    EXPECT_TRUE(aborted);
  }
  FakeResolver::Instance().OpenGate();
  EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
}

// Callers that give up at about the moment their workers finish: either side may drop the
// last reference.
TEST_F(AbandonedLookupTest, RacingFinishAndGiveUpNeverLoseTheObject) {
  FakeResolver::Instance().Add("race.test", "10.0.0.2");
  for (int round = 0; round < 40; ++round) {
    Logger log;
    ProgressMonitor progress(nullptr, 0);
    StringBuffer ip;
    uint32_t address = 0;
    bool aborted = false;
    bool timedOut = false;
    bool found = ResolveHostname("race.test", 1 + round % 3, 10, log, &progress, ip, address,
                                 aborted, timedOut);
    if (found) {
      EXPECT_EQ(ip.view(), "10.0.0.2");
    } else {
      EXPECT_TRUE(timedOut);
    }
  }
  EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
}

}  // namespace
}  // namespace quillon
