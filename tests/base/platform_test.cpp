#include "base/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "tests/support/test_support.h"

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

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A folder the user names: made 0700, or kept as it is, or refused when others may write there.
TEST(PlatformTest, UserDirectoryIsMadePrivateOrKeptUnlessOthersCanWrite) {
  const std::string dir = testing::FreshDir("user-directory");
  std::string error;
  ASSERT_TRUE(PrepareUserDirectory(dir + "new", error)) << error;
  EXPECT_EQ(ModeOf(dir + "new"), 0700u);

  const std::string open = dir + "open";
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
  ASSERT_TRUE(PrepareUserDirectory(open, error)) << error;
  EXPECT_EQ(ModeOf(open), 0755u);

  for (mode_t writable : {0777, 0775, 01777}) {
    ASSERT_EQ(::chmod(open.c_str(), writable), 0);
    EXPECT_FALSE(PrepareUserDirectory(open, error)) << std::oct << writable;
    EXPECT_NE(error.find("other users can write to it"), std::string::npos) << error;
    EXPECT_EQ(ModeOf(open), writable);
  }
}

TEST(PlatformTest, ExecutableFolderHoldsThisProgram) {
  std::string folder = ExecutableFolder(nullptr);
  EXPECT_EQ(::access((folder + "/base_platform_test").c_str(), X_OK), 0) << folder;
}

}  // namespace
}  // namespace quillon
