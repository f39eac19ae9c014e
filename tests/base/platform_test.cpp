#include "base/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quillon {
namespace {

TEST(PlatformTest, CodePagesAreUtf8AndOemWithATestOverride) {
  EXPECT_EQ(AnsiCodePage(), 65001);
  EXPECT_EQ(OemCodePage(), 437);
  SetAnsiCodePageForTests(1252);
  EXPECT_EQ(AnsiCodePage(), 1252);
  SetAnsiCodePageForTests(0);
  EXPECT_EQ(AnsiCodePage(), 65001);
}

TEST(PlatformTest, TempDirectoryEndsInASlash) {
  std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TempDirectory(), "/var/tmp/");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempDirectory(), "/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempDirectory(), "/tmp/");
  if (!saved.empty()) setenv("TMPDIR", saved.c_str(), 1);
}

TEST(PlatformTest, SystemErrorTextNamesTheError) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_FALSE(SystemErrorText(EACCES).empty());
}

TEST(PlatformTest, RandomBytesAreNotAllZero) {
  uint8_t bytes[64] = {};
  ASSERT_TRUE(CryptoRandomBytes(bytes, sizeof bytes));
  uint8_t zeros[64] = {};
  EXPECT_NE(std::memcmp(bytes, zeros, sizeof bytes), 0);
}

TEST(PlatformTest, ClockAndCalendarAreSane) {
  uint32_t before = TickCount();
  SleepMs(2);
  EXPECT_GE(TickCount() - before, 2u);
  SystemTime now = UtcTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LE(now.dayOfWeek, 6);
  EXPECT_LT(TimeZoneBiasMinutes(), 24 * 60);
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFdTest, ClosesExactlyOnceWhateverPathTheDescriptorTakes) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const int first = pipeEnds[0];
  const int second = pipeEnds[1];
  {
    UniqueFd owner(first);
    UniqueFd moved(std::move(owner));
    EXPECT_FALSE(owner.isValid());
    EXPECT_TRUE(IsOpen(first));
    UniqueFd assigned(second);
    assigned = std::move(moved);  // the descriptor held before is closed
    EXPECT_FALSE(IsOpen(second));
    EXPECT_EQ(assigned.fd(), first);
  }
  EXPECT_FALSE(IsOpen(first));

  ASSERT_EQ(::pipe(pipeEnds), 0);
  UniqueFd kept(pipeEnds[0]);
  const int released = kept.release();
  kept.reset(pipeEnds[1]);
  kept.close();
  EXPECT_TRUE(IsOpen(released));
  EXPECT_FALSE(IsOpen(pipeEnds[1]));
  ::close(released);
}

TEST(PlatformTest, ExecutableFolderHoldsThisProgram) {
  std::string folder = ExecutableFolder(nullptr);
  EXPECT_EQ(::access((folder + "/base_platform_test").c_str(), X_OK), 0) << folder;
}

}  // namespace
}  // namespace quillon
