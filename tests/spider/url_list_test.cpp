#include "spider/url_list.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace quillon {
namespace {

// Appends and takes in the crawl's rhythm (a page taken, a few links appended) and checks the
// order against a plain deque, across many growths and reuses of the freed front.
TEST(UrlListTest, TakingAndAppendingKeepFirstInFirstOut) {
  UrlList list;
  std::deque<std::string> expected;
  int next = 0;
  for (int round = 0; round < 20000; ++round) {
    for (int links = round % 3; links > 0; --links) {
      const std::string url = "http://site.test/" + std::to_string(next++);
      ASSERT_TRUE(list.appendCopy(url));
      expected.push_back(url);
    }
    if (round % 2 == 0 && !expected.empty()) {
      std::unique_ptr<StringBuffer> front = list.takeFront();
      ASSERT_TRUE(front);
      ASSERT_EQ(std::string(front->view()), expected.front()) << round;
      expected.pop_front();
    }
    ASSERT_EQ(list.count(), static_cast<int>(expected.size()));
  }
  EXPECT_EQ(std::string(list.at(0)->view()), expected.front());
  EXPECT_EQ(std::string(list.at(list.count() - 1)->view()), expected.back());
  EXPECT_EQ(list.at(list.count()), nullptr);
}

}  // namespace
}  // namespace quillon
