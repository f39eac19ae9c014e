#include "base/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/md5.h"

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

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
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

TEST(Md5Test, KnownDigests) {
  uint8_t digest[Md5::kDigestLength];
  Md5::digest("", 0, digest);
  EXPECT_EQ(Hex(digest, 16), "d41d8cd98f00b204e9800998ecf8427e");
  Md5 md5;
  md5.update("The quick brown fox ", 20);
  md5.update("jumps over the lazy dog", 23);
  md5.finish(digest);
  EXPECT_EQ(Hex(digest, 16), "9e107d9d372bb6826bd81d3542a419d6");
  // RFC 2202 test case 2.
  HmacMd5("Jefe", 4, "what do ya want for nothing?", 28, digest);
  EXPECT_EQ(Hex(digest, 16), "750c783e6ab0b503eaa86e310a5db738");
}

}  // namespace
}  // namespace quillon
