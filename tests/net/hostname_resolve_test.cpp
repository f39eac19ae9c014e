#include "net/hostname_resolve.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/logger.h"
#include "base/progress.h"
#include "tests/net/resolver_fake.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FakeResolver;
using testing::LogText;
using Names = std::vector<std::string>;

class ResolveHostnameTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeResolver::Instance().Install(); }
  void TearDown() override {
    FakeResolver::Instance().OpenGate();
    EXPECT_TRUE(FakeResolver::WaitForLookupsToEnd());
    FakeResolver::Instance().Uninstall();
  }
  FakeResolver& fake() { return FakeResolver::Instance(); }

  // A threaded lookup (heartbeat and monitor given), as connects do it.
  bool Lookup(const char* name, uint32_t timeoutMs = 2000) {
    ProgressMonitor progress(nullptr, 0);
    return ResolveHostname(name, timeoutMs, 50, log_, &progress, ip_, address_, aborted_,
                           timedOut_);
  }

  Logger log_;
  StringBuffer ip_;
  uint32_t address_ = 0;
  bool aborted_ = false;
  bool timedOut_ = false;
};

TEST_F(ResolveHostnameTest, KnownNameGivesDottedTextAndAddress) {
  fake().Add("host.test", "10.1.2.3");
  ASSERT_TRUE(Lookup("host.test"));
  EXPECT_EQ(ip_.view(), "10.1.2.3");
  EXPECT_EQ(address_, inet_addr("10.1.2.3"));
  EXPECT_EQ(fake().Asked(), Names{"host.test"});
}

TEST_F(ResolveHostnameTest, TrailingSlashIsCleanedAndLookedUpAgain) {
  fake().Add("site.example.com", "10.0.0.7");
  ASSERT_TRUE(Lookup("site.example.com/"));
  EXPECT_EQ(ip_.view(), "10.0.0.7");
  EXPECT_EQ(fake().Asked(), (Names{"site.example.com/", "site.example.com"}));
}

TEST_F(ResolveHostnameTest, SpacesQuotesAndCaseAreCleaned) {
  fake().Add("www.example.com", "10.0.0.8");
  ASSERT_TRUE(Lookup(" 'WWW.Example.COM' "));
  EXPECT_EQ(fake().Asked(), (Names{" 'WWW.Example.COM' ", "www.example.com"}));
}

TEST_F(ResolveHostnameTest, CleanedNameWithOneDotIsTriedWithWww) {
  fake().Add("www.example.com", "10.0.0.9");
  ASSERT_TRUE(Lookup("example.com/"));
  EXPECT_EQ(fake().Asked(), (Names{"example.com/", "example.com", "www.example.com"}));
}

TEST_F(ResolveHostnameTest, CleanNameWithOneDotSkipsStraightToWww) {
  ASSERT_FALSE(Lookup("example.com"));
  EXPECT_EQ(fake().Asked(), (Names{"example.com", "www.example.com"}));
  EXPECT_FALSE(timedOut_);
  EXPECT_FALSE(aborted_);
}

TEST_F(ResolveHostnameTest, NameWithTwoDotsIsNotTriedWithWww) {
  ASSERT_FALSE(Lookup("a.example.com"));
  EXPECT_EQ(fake().Asked(), Names{"a.example.com"});
}

TEST_F(ResolveHostnameTest, NameWithNoDotIsNotTriedWithWww) {
  ASSERT_FALSE(Lookup("intranet"));
  EXPECT_EQ(fake().Asked(), Names{"intranet"});
}

TEST_F(ResolveHostnameTest, NameOfOnlyCleanedCharactersIsNotRetried) {
  ASSERT_FALSE(Lookup("/?@"));
  EXPECT_EQ(fake().Asked(), Names{"/?@"});
}

TEST_F(ResolveHostnameTest, SlowLookupTimesOutAndLogsIt) {
  fake().Add("slow.test", "10.0.0.1");
  fake().CloseGate();
  EXPECT_FALSE(Lookup("slow.test", 60));
  EXPECT_TRUE(timedOut_);
  EXPECT_FALSE(aborted_);
  EXPECT_NE(LogText(log_).find("DNS timed out."), std::string::npos);
  // No retry once the time is used up.
  EXPECT_EQ(fake().Asked(), Names{"slow.test"});
}

// Asks to abort at the first interval tick.
class AbortAtOnce : public ProgressEvent {
 public:
  void IntervalTick(int, bool& abort) override {
    ++ticks;
    abort = true;
  }
  int ticks = 0;
};

TEST_F(ResolveHostnameTest, AbortFromTheCallbackEndsTheLookup) {
  fake().CloseGate();
  AbortAtOnce sink;
  ProgressMonitor progress(&sink, 0);
  EXPECT_FALSE(ResolveHostname("held.example.com", 0, 50, log_, &progress, ip_, address_,
                               aborted_, timedOut_));
  EXPECT_TRUE(aborted_);
  EXPECT_FALSE(timedOut_);
  EXPECT_EQ(sink.ticks, 1);
  EXPECT_NE(LogText(log_).find("DNS lookup aborted by application callback"), std::string::npos);
  EXPECT_EQ(fake().Asked(), Names{"held.example.com"});
}

TEST_F(ResolveHostnameTest, WithoutAMonitorTheCallerLooksUpItself) {
  fake().Add("direct.test", "10.9.8.7");
  ASSERT_TRUE(ResolveHostname("direct.test", 0, 0, log_, nullptr, ip_, address_, aborted_,
                              timedOut_));
  EXPECT_EQ(ip_.view(), "10.9.8.7");
  EXPECT_EQ(HostnameResolve::LiveCountForTests(), 0);
}

TEST_F(ResolveHostnameTest, NullNameFails) { EXPECT_FALSE(Lookup(nullptr)); }

TEST(FormatIpv4Test, NetworkOrderBytesBecomeDottedText) {
  StringBuffer text;
  FormatIpv4(inet_addr("192.168.0.255"), text);
  EXPECT_EQ(text.view(), "192.168.0.255");
}

TEST(SystemResolveTest, NumericTextResolvesWithoutTheNetwork) {
  uint32_t address = 0;
  ASSERT_TRUE(SystemResolve("127.0.0.1", address));
  EXPECT_EQ(address, inet_addr("127.0.0.1"));
}

}  // namespace
}  // namespace quillon
