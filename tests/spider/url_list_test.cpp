#include "spider/url_list.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace quillon {
namespace {

// Appends and takes in the crawl's rhythm (a page taken, a few links appended) and checks the
// order against a plain deque, across many growths and reuses of the freed front.
TEST(UrlListTest, TakingAndAppendingKeepFirstInFirstOut) {
  HashMap store(16, HashMap::Growth::kDoubling);
  UrlList list(store);
  std::deque<std::string> expected;
  int next = 0;
  for (int round = 0; round < 20000; ++round) {
    for (int links = round % 3; links > 0; --links) {
      const std::string url = "http://site.test/" + std::to_string(next++);
      ASSERT_TRUE(list.appendCopy(url));
      expected.push_back(url);
    }
    if (round % 2 == 0 && !expected.empty()) {
      const char* front = list.takeFront();
      ASSERT_TRUE(front);
      ASSERT_EQ(front, expected.front()) << round;
      expected.pop_front();
    }
    ASSERT_EQ(list.count(), static_cast<int>(expected.size()));
  }
  EXPECT_EQ(list.at(0), expected.front());
  EXPECT_EQ(list.at(list.count() - 1), expected.back());
  EXPECT_EQ(list.at(list.count()), nullptr);
}

// Lists of one store name its copy: a URL in two lists, or twice in one, is stored once, and
// its text stays where it is while the store grows.
TEST(UrlListTest, ListsShareTheStoresOneCopy) {
  HashMap store(2, HashMap::Growth::kDoubling);
  UrlList queue(store), done(store);
  ASSERT_TRUE(queue.appendCopy("http://site.test/a"));
  ASSERT_TRUE(queue.appendCopy("http://site.test/a"));
  const char* first = queue.at(0);
  EXPECT_EQ(queue.at(1), first);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(queue.appendCopy("http://site.test/" + std::to_string(i)));
  }
  EXPECT_EQ(store.count(), 1001u);
  ASSERT_TRUE(done.append(queue.takeFront()));
  EXPECT_EQ(done.at(0), first);
  EXPECT_STREQ(first, "http://site.test/a");
  EXPECT_FALSE(done.append(nullptr));
  queue.clear();
  EXPECT_TRUE(queue.isEmpty());
  EXPECT_EQ(store.count(), 1001u);
}

}  // namespace
}  // namespace quillon
