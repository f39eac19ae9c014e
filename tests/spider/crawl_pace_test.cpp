#include "spider/crawl_pace.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(CrawlPaceTest, BusyAnswersDoubleThePauseAndCalmAnswersRelaxIt) {
  CrawlPace pace;
  pace.setPauseMs(300);
  pace.setCrawlDelayMs(200);
  EXPECT_EQ(pace.intervalMs(), 300u);
  pace.NoteAnswer(1);
  EXPECT_EQ(pace.intervalMs(), 600u);
  pace.NoteAnswer(2);  // two busy answers in one fetch: twice doubled
  EXPECT_EQ(pace.intervalMs(), 2400u);
  for (uint32_t i = 0; i < CrawlPace::kRelaxAfterAnswers; ++i) pace.NoteAnswer(0);
  EXPECT_EQ(pace.intervalMs(), 1200u);
  for (uint32_t i = 0; i < 3 * CrawlPace::kRelaxAfterAnswers; ++i) pace.NoteAnswer(0);
  EXPECT_EQ(pace.backoffMs(), 0u);
  EXPECT_EQ(pace.intervalMs(), 300u);

  // Without a pause a busy site still gets one; the growth stops at a minute.
  CrawlPace eager;
  eager.NoteAnswer(1);
  EXPECT_EQ(eager.intervalMs(), CrawlPace::kFirstBackoffMs);
  eager.NoteAnswer(20);
  EXPECT_EQ(eager.intervalMs(), CrawlPace::kMaxBackoffMs);
}

TEST(CrawlPaceTest, AStopEndsTheWaitForATurn) {
  CrawlPace pace;
  pace.setPauseMs(600000);
  std::atomic<bool> stop{false};
  EXPECT_TRUE(pace.WaitTurn(stop));  // the first start is free
  stop = true;
  EXPECT_FALSE(pace.WaitTurn(stop));  // the next is ten minutes away, but the stop is heard
}

}  // namespace
}  // namespace quillon
