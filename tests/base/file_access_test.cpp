#include "base/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/content_coding.h"
#include "base/logger.h"
#include "base/platform.h"
#include "base/quillon_rand.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FreshDir;
using testing::LogText;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

// Whether the log's text form holds this line (an error, an info or "name: value").
bool Has(Logger& log, const std::string& line) {
  return LogText(log).find(" " + line + "\r\n") != std::string::npos;
}

std::string QuotedPrintable(const std::string& text) {
  StringBuffer out;
  ContentCoding::encodeQuotedPrintable(text.data(), static_cast<uint32_t>(text.size()), out);
  return std::string(out.view());
}

std::string Bytes(const DataBuffer& buffer) { return std::string(buffer.view()); }

// The 4-byte little-endian length field of the header file format.
std::string HeaderField(uint32_t length) {
  std::string field(4, '\0');
  for (int i = 0; i < 4; ++i) field[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return field;
}

#define SKIP_WHEN_ROOT() \
  if (geteuid() == 0) GTEST_SKIP() << "root bypasses permission checks"

TEST(WholeFileTest, WritesAndLoadsTheSameBytes) {
  std::string dir = FreshDir("round_trip");
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  for (const std::string& bytes : {std::string(), std::string("a\0b\r\n\xff", 6), big}) {
    std::string path = dir + "file.bin";
    WriteFileBytes(path, "older and longer content");
    Logger log;
    ASSERT_TRUE(
        writeWholeFile(path.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), &log));
    EXPECT_EQ(ReadFileBytes(path), bytes);
    DataBuffer loaded;
    ASSERT_TRUE(loaded.loadFile(path.c_str(), log)) << LogText(log);
    EXPECT_EQ(Bytes(loaded), bytes) << "size " << bytes.size();
    if (!bytes.empty()) {
      ASSERT_GE(loaded.capacity(), loaded.length() + 4);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.data()) + bytes.size(), 4),
                std::string(4, '\0'));
    }
  }
}

TEST(WholeFileTest, BackslashesInPathBecomeSlashes) {
  std::string dir = FreshDir("backslash");
  mkdir((dir + "sub").c_str(), 0755);
  ASSERT_TRUE(writeWholeFile((dir + "sub\\name.txt").c_str(), "hi", 2, nullptr));
  EXPECT_EQ(ReadFileBytes(dir + "sub/name.txt"), "hi");
}

TEST(WholeFileTest, WriteIntoMissingDirectoryLogsQuotedPrintableName) {
  std::string path = FreshDir("missing_dir") + "d\xc3\xa9j\xc3\xa0/out.txt";
  Logger log;
  EXPECT_FALSE(writeWholeFile(path.c_str(), "x", 1, &log));
  EXPECT_TRUE(Has(log, "Failed to write complete file (7)")) << LogText(log);
  EXPECT_TRUE(Has(log, "ansiFilename: " + QuotedPrintable(path))) << LogText(log);
}

TEST(WholeFileTest, NullAndEmptyPaths) {
  Logger log;
  EXPECT_FALSE(writeWholeFile("", "x", 1, &log));
  EXPECT_FALSE(writeTwoPartFile(nullptr, "h", 1, "b", 1, &log));
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n") << "fails silently";
  EXPECT_FALSE(writeWholeFileUtf8(nullptr, "x", 1, &log));
  EXPECT_FALSE(writeWholeFileUtf8("", "x", 1, &log));
  EXPECT_TRUE(Has(log, "NULL filename") && Has(log, "zero-length filename")) << LogText(log);
}

TEST(WholeFileTest, SymlinkInPlaceOfOutputFileIsNotFollowed) {
  std::string dir = FreshDir("symlink_out");
  std::string target = dir + "target.txt";
  std::string link = dir + "out.txt";
  WriteFileBytes(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

  Logger log;
  EXPECT_FALSE(writeWholeFile(link.c_str(), "evil", 4, &log));
  EXPECT_FALSE(writeTwoPartFile(link.c_str(), "h", 1, "b", 1, &log));
  EXPECT_TRUE(Has(log, "Filename: " + link)) << LogText(log);
  EXPECT_EQ(ReadFileBytes(target), "precious");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(WholeFileTest, FifoInPlaceOfFileNeitherBlocksWriteNorLoad) {
  std::string path = FreshDir("fifo") + "pipe";
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  Logger log;
  EXPECT_FALSE(writeWholeFile(path.c_str(), "x", 1, &log));  // no reader: fails at once
  DataBuffer loaded;
  EXPECT_TRUE(loaded.loadFile(path.c_str(), log));  // no writer: empty
  EXPECT_TRUE(loaded.isEmpty());
}

TEST(WholeFileTest, MissingFileLogsOpenFailureAndEmptiesBuffer) {
  std::string path = FreshDir("missing_file") + "absent.txt";
  DataBuffer loaded("stale", 5);
  Logger log;
  EXPECT_FALSE(loaded.loadFile(path.c_str(), log));
  EXPECT_TRUE(loaded.isEmpty());
  for (const std::string& line :
       {std::string("Failed to open file (2)"), "ansiFilename: " + QuotedPrintable(path),
        "osErrorInfo: " + SystemErrorText(ENOENT), std::string("WindowsError: 0x2")}) {
    EXPECT_TRUE(Has(log, line)) << line << "\n" << LogText(log);
  }
}

TEST(WholeFileTest, ReadOnlyFileIsMadeWritableAndReplaced) {
  SKIP_WHEN_ROOT();
  std::string path = FreshDir("read_only") + "locked.txt";
  WriteFileBytes(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  Logger log;
  ASSERT_TRUE(writeTwoPartFile(path.c_str(), "new", 3, nullptr, 0, &log)) << LogText(log);
  EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST(WholeFileTest, TestDiskFillsUpThenRefusesWithNoSpaceLeft) {
  std::string path = FreshDir("full_disk") + "a.txt";
  Logger log;
  SetDiskSpaceForTests(6);
  bool written = writeWholeFile(path.c_str(), "0123456789", 10, &log);
  SetDiskSpaceForTests(kRealDiskSpace);
  EXPECT_FALSE(written);
  EXPECT_TRUE(Has(log, SystemErrorText(ENOSPC))) << LogText(log);
  EXPECT_EQ(ReadFileBytes(path), "012345");  // what a filling disk took
  EXPECT_TRUE(writeWholeFile(path.c_str(), "0123456789", 10, &log));
}

TEST(HeaderFileTest, TwoPartFileRoundTripsThroughHeaderLoader) {
  std::string path = FreshDir("two_part") + "entry.bin";
  std::string header = HeaderField(4 + 6) + std::string("meta\0x", 6);
  std::string body = "body bytes\r\n";
  Logger log;
  ASSERT_TRUE(writeTwoPartFile(path.c_str(), header.data(), static_cast<uint32_t>(header.size()),
                               body.data(), static_cast<uint32_t>(body.size()), &log));
  DataBuffer loadedHeader;
  DataBuffer loadedBody;
  ASSERT_TRUE(loadedBody.loadFileWithHeader(path.c_str(), loadedHeader, 100, &log)) << LogText(log);
  EXPECT_EQ(Bytes(loadedHeader), std::string("meta\0x", 6));
  EXPECT_EQ(Bytes(loadedBody), body);
  EXPECT_EQ(loadedBody.data()[body.size()], 0);
}

TEST(HeaderFileTest, HeaderLoaderCases) {
  struct Case {
    std::string file;
    uint32_t maxHeader;
    bool ok;
    const char* logged;  // the error expected, or null for a clean log
    std::string header;  // "untouched" when the header keeps its old content
    std::string body;
  } cases[] = {
      {"", 100, true, "File is empty or too small", "untouched", ""},
      {"abc", 100, true, "File is empty or too small", "untouched", ""},
      {HeaderField(4) + "body", 100, false, "Invalid header size", "untouched", ""},
      {HeaderField(0) + "body", 100, false, "Invalid header size", "untouched", ""},
      {HeaderField(9) + "hhhhh", 8, false, "Invalid header size", "untouched", ""},
      {HeaderField(50) + "hh", 100, false, "Failed to read the entire header", "untouched", ""},
      {HeaderField(7) + "hhh", 100, true, nullptr, "hhh", ""},
      {HeaderField(6) + "hhbody", 6, true, nullptr, "hh", "body"},
  };
  std::string path = FreshDir("header_cases") + "entry.bin";
  for (const Case& c : cases) {
    std::string what = "file of " + std::to_string(c.file.size()) + " bytes, max " +
                       std::to_string(c.maxHeader);
    WriteFileBytes(path, c.file);
    DataBuffer header("untouched", 9);
    DataBuffer body("stale", 5);
    Logger log;
    EXPECT_EQ(body.loadFileWithHeader(path.c_str(), header, c.maxHeader, &log), c.ok) << what;
    if (c.logged) {
      EXPECT_TRUE(Has(log, c.logged)) << what << "\n" << LogText(log);
    } else {
      EXPECT_EQ(LogText(log), "QuillonLog:\r\n") << what;
    }
    if (!c.ok) {
      EXPECT_TRUE(Has(log, "filename: " + path)) << what << "\n" << LogText(log);
    }
    EXPECT_EQ(Bytes(header), c.header) << what;
    EXPECT_EQ(Bytes(body), c.ok ? c.body : "") << what;
  }
}

TEST(OpenTest, FailureReasons) {
  std::string dir = FreshDir("open_reasons");
  WriteFileBytes(dir + "plain", "x");
  struct Case {
    std::string path;
    FileFailure reason;
  } cases[] = {
      {dir + "absent", FileFailure::PathNotFound},
      {dir + "plain/below", FileFailure::PathNotFound},
      {dir + std::string(300, 'n'), FileFailure::Other},
  };
  for (const Case& c : cases) {
    FileFailure reason = FileFailure::None;
    Logger log;
    EXPECT_FALSE(openForRead(c.path.c_str(), reason, log).isValid()) << c.path;
    EXPECT_EQ(reason, c.reason) << c.path;
  }
}

TEST(OpenTest, UnreadableFileIsAccessDenied) {
  SKIP_WHEN_ROOT();
  std::string path = FreshDir("open_denied") + "secret";
  WriteFileBytes(path, "x");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  FileFailure reason = FileFailure::None;
  LogNull log;
  EXPECT_FALSE(openForRead(path.c_str(), reason, log).isValid());
  EXPECT_EQ(reason, FileFailure::AccessDenied);
}

TEST(FileExistsTest, Cases) {
  std::string dir = FreshDir("exists");
  WriteFileBytes(dir + "plain", "x");
  symlink((dir + "loop").c_str(), (dir + "loop").c_str());
  struct Case {
    std::string path;
    bool exists;
  } cases[] = {
      {dir + "plain", true},          {dir, true},
      {dir + "absent", false},        {dir + "plain/below", false},
      {dir + std::string(300, 'n'), false}, {dir + "loop", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(fileExists(c.path.c_str()), c.exists) << c.path;
  EXPECT_FALSE(fileExists(nullptr));
}

TEST(FileExistsTest, FileInFolderThatDeniesListingExists) {
  SKIP_WHEN_ROOT();
  std::string dir = FreshDir("unlistable");
  WriteFileBytes(dir + "inner", "x");
  ASSERT_EQ(chmod(dir.c_str(), 0311), 0);  // search but no listing
  EXPECT_TRUE(fileExists((dir + "inner").c_str()));
  ASSERT_EQ(chmod(dir.c_str(), 0), 0);  // not even search: taken to exist
  int error = 0;
  EXPECT_TRUE(fileExists((dir + "inner").c_str(), &error));
  EXPECT_EQ(error, EACCES);
  chmod(dir.c_str(), 0755);
}

TEST(DeleteTest, MissingFileIsDeletedSilentlyButLoggedFailure) {
  std::string dir = FreshDir("delete");
  std::string absent = dir + "absent";
  EXPECT_TRUE(deleteFile(absent.c_str()));
  Logger log;
  EXPECT_FALSE(deleteFileLogged(absent.c_str(), log));
  EXPECT_TRUE(Has(log, "Cannot delete file, file does not exist")) << LogText(log);
  EXPECT_TRUE(Has(log, "delete_filename_1: " + absent));
  EXPECT_FALSE(deleteFileLogged(dir.c_str(), log));  // unlink refuses a directory
  EXPECT_TRUE(Has(log, "delete_filename_2: " + dir));
  EXPECT_TRUE(Has(log, "DeleteFile: " + SystemErrorText(EISDIR))) << LogText(log);
}

TEST(DirectoryTest, EnsureDirectoryCreatesEveryMissingLevel) {
  std::string dir = FreshDir("ensure");
  for (const std::string& path : {dir + "a/b/c", dir + "d\\e\\f", "  " + dir + "g/h/\t\r\n"}) {
    Logger log;
    EXPECT_TRUE(ensureDirectory(path.c_str(), log)) << path << "\n" << LogText(log);
  }
  for (const char* made : {"a/b/c", "d/e/f", "g/h"}) {
    struct stat st;
    EXPECT_TRUE(stat((dir + made).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << made;
  }
  Logger log;
  std::string temp = TempDirectory();
  for (const char* path : {static_cast<const char*>(nullptr), " \t", ".", "/", temp.c_str()}) {
    EXPECT_TRUE(ensureDirectory(path, log)) << (path ? path : "(null)");
  }
  EXPECT_EQ(LogText(log), "QuillonLog:\r\n");
}

TEST(DirectoryTest, LevelBelowFileCannotBeEnsured) {
  std::string dir = FreshDir("ensure_blocked");
  WriteFileBytes(dir + "file", "x");
  Logger log;
  EXPECT_FALSE(ensureDirectory((dir + "file/a/b").c_str(), log));
  EXPECT_TRUE(Has(log, "Cannot ensure directory existence")) << LogText(log);
  EXPECT_TRUE(Has(log, "path: " + dir + "file/a")) << LogText(log);
}

TEST(DirectoryTest, EnsureParentDirectoryCreatesFolderOfFile) {
  std::string dir = FreshDir("ensure_parent");
  StringBuffer parent;
  Logger log;
  ASSERT_TRUE(ensureParentDirectory((dir + "p\\q/file.txt").c_str(), parent, log));
  EXPECT_EQ(std::string(parent.view()), dir + "p/q");
  EXPECT_TRUE(fileExists((dir + "p/q").c_str()));
  EXPECT_TRUE(ensureParentDirectory("file.txt", parent, log));
  EXPECT_TRUE(parent.isEmpty());
  EXPECT_FALSE(ensureParentDirectory(nullptr, parent, log));
  EXPECT_TRUE(Has(log, "No filePath"));
}

TEST(LockTest, SecondHolderWaitsItsTimeOutAndGetsTheLockOnceReleased) {
  const std::string path = FreshDir("lock") + "/profile.lock";
  Logger log;
  UniqueFd first = lockExclusive(path.c_str(), 0, log);
  ASSERT_TRUE(first.isValid()) << LogText(log);
  Logger refused;
  EXPECT_FALSE(lockExclusive(path.c_str(), 30, refused).isValid());
  EXPECT_NE(LogText(refused).find("Failed to lock the file"), std::string::npos);
  first.reset();
  EXPECT_TRUE(lockExclusive(path.c_str(), 0, log).isValid()) << LogText(log);
  Logger missing;
  EXPECT_FALSE(lockExclusive("/nonexistent-folder/x.lock", 0, missing).isValid());
  EXPECT_NE(LogText(missing).find("No such file or directory"), std::string::npos)
      << LogText(missing);
}

TEST(UniqueNameTest, NameForms) {
  std::string dir = FreshDir("unique");
  std::string bare = dir.substr(0, dir.size() - 1);  // without the trailing "/"
  struct Case {
    std::string directory;
    const char* baseName;
    const char* pattern;  // of the name after the directory and its "/"
  } cases[] = {
      {dir, "report.txt", "report_[A-Z0-9]{4}\\.txt"},
      {bare, "report.txt", "report_[A-Z0-9]{4}\\.txt"},
      {bare + "\\", "report.txt", "report_[A-Z0-9]{4}\\.txt"},
      {dir, "", "x_[A-Z0-9]{4}\\.tmp"},
      {dir, nullptr, "x_[A-Z0-9]{4}\\.tmp"},
      {dir, "noext", "noext_[A-Z0-9]{4}\\.tmp"},
      {dir, "a.b.c", "a\\.b_[A-Z0-9]{4}\\.c"},
  };
  for (const Case& c : cases) {
    StringBuffer path;
    ASSERT_TRUE(makeUniqueFileName(c.directory.c_str(), c.baseName, path)) << c.directory;
    std::string name(path.view());
    ASSERT_EQ(name.compare(0, dir.size(), dir), 0) << name;
    EXPECT_TRUE(std::regex_match(name.substr(dir.size()), std::regex(c.pattern)))
        << name << " !~ " << c.pattern;
    EXPECT_FALSE(fileExists(name.c_str())) << "the name is only chosen";
  }
  StringBuffer temp;
  LogNull log;
  ASSERT_TRUE(makeTempFileName("run.log", temp, log));
  EXPECT_EQ(std::string(temp.view()).rfind(TempDirectory() + "run_", 0), 0u) << temp.getString();
}

TEST(UniqueNameTest, GivesUpWhenEveryCandidateSeemsToExist) {
  SKIP_WHEN_ROOT();
  // Without search permission every stat fails with EACCES, which counts as existing.
  std::string dir = FreshDir("unique_denied");
  ASSERT_EQ(chmod(dir.c_str(), 0), 0);
  StringBuffer path("stale");
  EXPECT_FALSE(makeUniqueFileName(dir.c_str(), "a.txt", path));
  EXPECT_TRUE(path.isEmpty());
  chmod(dir.c_str(), 0755);
}

TEST(QuillonRandTest, UniformStaysInRangeAndReachesEveryValue) {
  EXPECT_EQ(QuillonRand::uniform(0), 0u);
  EXPECT_EQ(QuillonRand::uniform(1), 0u);
  std::vector<int> seen(36);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&seen] {
      std::vector<int> mine(36);
      for (int i = 0; i < 5000; ++i) {
        if (i % 500 == 0) QuillonRand::reseedWithTickCount();
        uint32_t v = QuillonRand::uniform(36);
        if (v < 36) ++mine[v];
      }
      static std::mutex merge;
      std::lock_guard<std::mutex> lock(merge);
      for (int v = 0; v < 36; ++v) seen[v] += mine[v];
    });
  }
  for (std::thread& thread : threads) thread.join();
  int total = 0;
  for (int count : seen) {
    EXPECT_GT(count, 0);
    total += count;
  }
  EXPECT_EQ(total, 20000) << "a value out of range was drawn";
  EXPECT_TRUE(QuillonRand::seededFromCryptoSource());
}

TEST(QuillonRandTest, SameReseedTwiceDoesNotRepeatTheSequence) {
  QuillonRand::reseed(12345);
  uint64_t first = (uint64_t{QuillonRand::next()} << 32) | QuillonRand::next();
  QuillonRand::reseed(12345);
  uint64_t second = (uint64_t{QuillonRand::next()} << 32) | QuillonRand::next();
  EXPECT_NE(first, second);
}

TEST(FileAccessTest, ReadsAtPositionsAndReportsShortReads) {
  std::string path = FreshDir("random_access") + "data.bin";
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  WriteFileBytes(path, bytes);

  FileAccess file;
  DataBuffer out;
  EXPECT_FALSE(file.read(0, 1, out)) << "no file open";
  LogNull log;
  ASSERT_TRUE(file.open(path.c_str(), log));
  struct Step {
    int64_t position;
    uint32_t count;
    bool ok;
    std::string expected;
  } steps[] = {
      {100, 10, true, bytes.substr(100, 10)},
      {110, 5, true, bytes.substr(110, 5)},  // continues where the last read ended
      {3, 2, true, bytes.substr(3, 2)},
      {250, 10, false, bytes.substr(250)},  // short
      {-1, 1, false, bytes.substr(250)},    // failing seek: out untouched
      {0, 1, true, bytes.substr(0, 1)},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(file.read(s.position, s.count, out), s.ok) << s.position;
    EXPECT_EQ(Bytes(out), s.expected) << s.position;
  }
  file.close();
  EXPECT_FALSE(file.read(0, 1, out));
  EXPECT_FALSE(file.open("", log));
}

}  // namespace
}  // namespace quillon
