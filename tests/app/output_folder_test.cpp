#include "app/output_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

namespace tollwick {
namespace {

using quillon::testing::FreshDir;

// Points TMPDIR at a fresh folder for one test.
class TempDirGuard {
 public:
  explicit TempDirGuard(const std::string& name) : dir_(FreshDir(name)) {
    const char* old = std::getenv("TMPDIR");
    old_ = old ? old : "";
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  ~TempDirGuard() { setenv("TMPDIR", old_.c_str(), 1); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string old_;
};

std::tm SampleTime() {
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 9;
  when.tm_hour = 7;
  when.tm_min = 5;
  when.tm_sec = 3;
  return when;
}

TEST(FolderNameTest, EveryForbiddenCharacterGoesAndSpacesStay) {
  EXPECT_EQ(FolderNameFromDateText("03/09/24 07:05:03"), "030924 070503");
  EXPECT_EQ(FolderNameFromDateText("a/b\\c:d*e?f\"g<h>i|j k.-_"), "abcdefghij k.-_");
  EXPECT_EQ(FolderNameFromDateText("//::"), "");
}

TEST(FolderNameTest, CLocaleGivesMonthDayYearAndTime) {
  std::setlocale(LC_TIME, "C");
  EXPECT_EQ(FolderNameFromDateText(LocaleDateTimeText(SampleTime())), "030924 070503");
}

TEST(FolderNameTest, SlashPairsCollapseOnce) {
  EXPECT_EQ(CollapseSlashPairs("/tmp//Tollwick"), "/tmp/Tollwick");
  EXPECT_EQ(CollapseSlashPairs("a///b"), "a//b");
  EXPECT_EQ(CollapseSlashPairs("a////b"), "a//b");
  EXPECT_EQ(CollapseSlashPairs("/a/b/"), "/a/b/");
}

TEST(TollwickFolderTest, IsCreatedPrivate) {
  TempDirGuard temp("private");
  std::string folder;
  std::string error;
  ASSERT_TRUE(PrepareTollwickFolder(folder, error)) << error;
  EXPECT_EQ(folder, temp.dir() + "Tollwick");
  struct stat info {};
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(TollwickFolderTest, OpenFolderOfOursIsMadePrivateAgain) {
  TempDirGuard temp("reopened");
  std::string path = temp.dir() + "Tollwick";
  ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
  chmod(path.c_str(), 0777);
  std::string folder;
  std::string error;
  ASSERT_TRUE(PrepareTollwickFolder(folder, error)) << error;
  struct stat info {};
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(TollwickFolderTest, SymbolicLinkInItsPlaceIsRefused) {
  TempDirGuard temp("symlink");
  std::string target = temp.dir() + "elsewhere";
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  ASSERT_EQ(symlink(target.c_str(), (temp.dir() + "Tollwick").c_str()), 0);
  std::string folder;
  std::string error;
  EXPECT_FALSE(PrepareTollwickFolder(folder, error));
  EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
  std::tm when = SampleTime();
  EXPECT_FALSE(MakeOutputFolder(when, "", folder, error));
  EXPECT_TRUE(std::filesystem::is_empty(target));
}

TEST(TollwickFolderTest, PlainFileInItsPlaceIsRefused) {
  TempDirGuard temp("file");
  quillon::testing::WriteFileBytes(temp.dir() + "Tollwick", "x");
  std::string folder;
  std::string error;
  EXPECT_FALSE(PrepareTollwickFolder(folder, error));
  EXPECT_FALSE(error.empty());
}

TEST(OutputFolderTest, DatedFolderInsideTheTollwickFolder) {
  TempDirGuard temp("dated");
  std::setlocale(LC_TIME, "C");
  std::string folder;
  std::string error;
  ASSERT_TRUE(MakeOutputFolder(SampleTime(), "", folder, error)) << error;
  EXPECT_EQ(folder, temp.dir() + "Tollwick/030924 070503");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(OutputFolderTest, RunsInOneSecondGetAFolderEach) {
  TempDirGuard temp("shared");
  std::setlocale(LC_TIME, "C");
  std::string error;
  std::string base = temp.dir() + "Tollwick/030924 070503";
  for (const std::string& expected : {base, base + " (2)", base + " (3)"}) {
    std::string folder;
    ASSERT_TRUE(MakeOutputFolder(SampleTime(), "", folder, error)) << error;
    EXPECT_EQ(folder, expected);
  }
}

}  // namespace
}  // namespace tollwick
