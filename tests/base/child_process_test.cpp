#include "base/child_process.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace quillon {
namespace {

// Whether the process runs (a zombie waiting for the init process to reap it does not).
bool Runs(const std::string& pid) {
  const std::string stat = testing::ReadFileBytes("/proc/" + pid + "/stat");
  const size_t name = stat.rfind(')');
  return name != std::string::npos && stat.size() > name + 2 && stat[name + 2] != 'Z';
}

// A shell stands in for a browser: it names the helper it left running in the background and
// the variable it was given, then sends back on descriptor 4 what comes in on descriptor 3.
TEST(ChildProcessTest, TalksOverDescriptorsThreeAndFourAndStopEndsItsWholeGroup) {
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start("/bin/sh",
                          {"sh", "-c", "sleep 60 & echo \"$! $GIVEN\" >&4; exec cat <&3 >&4"},
                          {"GIVEN=given"}, error))
      << error;
  ASSERT_TRUE(child.Send("ping\n", 1000));
  std::string heard;
  char buffer[256];
  for (int tries = 0; tries < 50 && heard.find("ping\n") == std::string::npos; ++tries) {
    size_t length = 0;
    if (child.Receive(buffer, sizeof buffer, length, 100) == ChildProcess::Received::kData) {
      heard.append(buffer, length);
    }
  }
  const std::string helper = heard.substr(0, heard.find(' '));
  EXPECT_EQ(heard, helper + " given\nping\n");
  ASSERT_TRUE(Runs(helper));
  child.Stop();
  EXPECT_FALSE(child.running());
  EXPECT_FALSE(Runs(helper));
  size_t length = 0;
  EXPECT_EQ(child.Receive(buffer, sizeof buffer, length, 100), ChildProcess::Received::kClosed);
  EXPECT_FALSE(child.Send("late", 100));
}

}  // namespace
}  // namespace quillon
