#include "http/cls_cache2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/platform.h"
#include "http/date_parser.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FreshDir;
using testing::LogText;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr const char* kUrl = "http://example.com/";  // MD5 A6BF1757FFF057F266B697DF9CF176FD
constexpr const char* kHead = "HTTP/1.1 200 OK\r\nA: b\r\n";

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}
uint16_t Le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) |
                               (static_cast<uint8_t>(s[at + 1]) << 8));
}
double LeDouble(const std::string& s, size_t at) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<uint8_t>(s[at + i]);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

SystemTime Noon(uint16_t year, uint16_t month, uint16_t day) {
  SystemTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = 12;
  return t;
}

TEST(ClsCache2Test, FileNameFollowsRootsAndLevels) {
  const struct {
    int roots, levels;
    const char* expected;
  } cases[] = {
      {1, 0, "/r0/A6BF1757FFF057F266B697DF9CF176FD.dat"},
      {4, 0, "/r2/A6BF1757FFF057F266B697DF9CF176FD.dat"},  // 0xA6 mod 4
      {1, 1, "/r0/191/A6BF1757FFF057F266B697DF9CF176FD.dat"},
      {1, 2, "/r0/191/23/A6BF1757FFF057F266B697DF9CF176FD.dat"},
  };
  for (const auto& c : cases) {
    ClsCache2 cache;
    for (int i = 0; i < c.roots; ++i) cache.AddRoot(("\\r" + std::to_string(i)).c_str());
    ASSERT_TRUE(cache.setLevels(c.levels));
    StringBuffer path;
    EXPECT_TRUE(cache.GetFilename(kUrl, path));
    EXPECT_STREQ(path.getString(), c.expected) << c.roots << " roots, levels " << c.levels;
  }
  ClsCache2 none;
  StringBuffer path;
  EXPECT_FALSE(none.GetFilename(kUrl, path));
  EXPECT_NE(LogText(none.log()).find("No cache roots have been set.  Need to call AddRoot"),
            std::string::npos);
  DataBuffer data;
  EXPECT_FALSE(none.LoadEntry(kUrl, data));
  EXPECT_NE(LogText(none.log()).find("No cache roots have been set."), std::string::npos);
  EXPECT_FALSE(none.setLevels(3));
}

struct SavedEntry {
  ClsCache2 cache;
  std::string dir = FreshDir("cls_cache2");
  std::string path;
  SavedEntry() {
    cache.AddRoot(dir.c_str());
    const std::string entry = std::string("\x1b\0\0\0", 4) + kHead + "body-bytes";
    DataBuffer data(entry.data(), static_cast<uint32_t>(entry.size()));
    EXPECT_TRUE(cache.SaveToCache2(kUrl, Noon(2030, 1, 2), "\"etag\"", data));
    StringBuffer p;
    cache.GetFilename(kUrl, p);
    path = p.getString();
  }
};

TEST(ClsCache2Test, FileLayoutByteForByte) {
  SavedEntry saved;
  const std::string file = ReadFileBytes(saved.path);
  ASSERT_EQ(file.size(), 20u + 6 + 4 + 37);
  EXPECT_EQ(Le32(file, 0), 30u);
  EXPECT_EQ(Le16(file, 4), 2);
  EXPECT_EQ(Le16(file, 6), 0x9AFE);
  EXPECT_EQ(file[8], 0);
  EXPECT_EQ(file[9], 0);
  double day = 0;
  ASSERT_TRUE(DateParser::CalendarToDayCount(Noon(2030, 1, 2), day));
  EXPECT_EQ(LeDouble(file, 10), day);
  EXPECT_EQ(Le16(file, 18), 6);
  EXPECT_EQ(file.substr(20, 6), "\"etag\"");
  EXPECT_EQ(Le32(file, 26), 37u);  // the entry data's length
  EXPECT_EQ(Le32(file, 30), 27u);
  EXPECT_EQ(file.substr(34), std::string(kHead) + "body-bytes");
  // Nothing but the entry itself is left in its folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(saved.dir), {}), 1);
}

TEST(ClsCache2Test, LoadRemembersEntryAndUpdateExpiryRewritesOnlyIt) {
  SavedEntry saved;
  DataBuffer data;
  ASSERT_TRUE(saved.cache.LoadEntry(kUrl, data));
  EXPECT_EQ(data.length(), 37u);
  EXPECT_STREQ(saved.cache.loadedEtag().getString(), "\"etag\"");
  EXPECT_STREQ(saved.cache.loadedUrl().getString(), kUrl);
  EXPECT_FALSE(saved.cache.IsExpiredAt(saved.cache.loadedExpiry() - 0.001));
  EXPECT_TRUE(saved.cache.IsExpiredAt(saved.cache.loadedExpiry()));
  EXPECT_TRUE(saved.cache.Exists(kUrl));

  const std::string before = ReadFileBytes(saved.path);
  ASSERT_TRUE(saved.cache.UpdateExpiry(kUrl, Noon(2031, 5, 6)));
  const std::string after = ReadFileBytes(saved.path);
  double day = 0;
  DateParser::CalendarToDayCount(Noon(2031, 5, 6), day);
  EXPECT_EQ(LeDouble(after, 10), day);
  EXPECT_EQ(before.substr(0, 10) + before.substr(18), after.substr(0, 10) + after.substr(18));
  EXPECT_FALSE(saved.cache.UpdateExpiry("http://example.com/other", Noon(2031, 5, 6)));
  EXPECT_NE(LogText(saved.cache.log()).find("Failed to open file"), std::string::npos);
}

TEST(ClsCache2Test, DamagedFilesAreLoggedMisses) {
  const std::string nan("\0\0\0\0\0\0\xf8\x7f", 8);
  const struct {
    const char* name;
    size_t at;  // where the bytes go (npos: the file is cut to `cut` bytes)
    std::string bytes;
    size_t cut;
    const char* logged;
  } cases[] = {
      {"zero-length", std::string::npos, "", 0, "Invalid header size"},
      {"three bytes", std::string::npos, "", 3, "Invalid header size"},
      {"header size 4", 0, std::string("\x04\0\0\0", 4), 0, "Invalid header size"},
      {"header size 8001", 0, std::string("\x41\x1f\0\0", 4), 0, "Invalid header size"},
      {"header past the end", std::string::npos, "", 28, "Not a valid cache file."},
      {"cut inside the body", std::string::npos, "", 20 + 6 + 4 + 37 - 3, "Cache file cut short."},
      {"cut after the header", std::string::npos, "", 30, "Cache file cut short."},
      {"bytes after the entry", 67, "junk", 0, "Not a valid cache file."},
      {"another version", 4, std::string("\x03\0", 2), 0, "layout version not supported"},
      {"no file mark", 6, "\x01\x02", 0, "Not a valid cache file."},
      {"ETag length disagrees", 18, std::string("\x07\0", 2), 0, "Not a valid cache file."},
      {"expiry not a number", 10, nan, 0, "Not a valid cache file."},
  };
  for (const auto& c : cases) {
    SavedEntry saved;
    std::string file = ReadFileBytes(saved.path);
    if (c.at == std::string::npos) {
      file.resize(c.cut);
    } else {
      file.replace(c.at, c.bytes.size(), c.bytes);
    }
    WriteFileBytes(saved.path, file);
    DataBuffer data;
    EXPECT_FALSE(saved.cache.LoadEntry(kUrl, data)) << c.name;
    EXPECT_EQ(data.length(), 0u) << c.name;
    EXPECT_TRUE(saved.cache.loadedUrl().isEmpty()) << c.name;
    EXPECT_NE(LogText(saved.cache.log()).find(c.logged), std::string::npos) << c.name;
  }
  // A file as older builds wrote it (version 1, no entry length) is a miss.
  SavedEntry older;
  std::string file = ReadFileBytes(older.path);
  file.erase(26, 4);
  file.replace(0, 6, std::string("\x1a\0\0\0\x01\0", 6));
  WriteFileBytes(older.path, file);
  DataBuffer none;
  EXPECT_FALSE(older.cache.LoadEntry(kUrl, none));
  EXPECT_NE(LogText(older.cache.log()).find("layout version not supported"), std::string::npos);
  // A file longer than any entry is refused without reading past the limit.
  SavedEntry saved;
  std::filesystem::resize_file(saved.path, uint64_t{ClsCache2::kMaxEntryData} + 9000);
  DataBuffer data;
  EXPECT_FALSE(saved.cache.LoadEntry(kUrl, data));
}

}  // namespace
}  // namespace quillon
