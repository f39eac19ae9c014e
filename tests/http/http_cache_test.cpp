#include "http/http_cache.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "base/logger.h"
#include "base/platform.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::FreshDir;
using testing::LogText;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr const char* kUrl = "http://example.com/a.html";  // MD5 A05EBF81 55EBFA30 ...

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}
uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}
std::string Bunzip(const std::string& packed) {
  std::string out(1 << 20, '\0');
  unsigned int length = static_cast<unsigned int>(out.size());
  if (BZ2_bzBuffToBuffDecompress(out.data(), &length, const_cast<char*>(packed.data()),
                                 static_cast<unsigned int>(packed.size()), 0, 0) != BZ_OK) {
    return "<bad bzip2>";
  }
  out.resize(length);
  return out;
}
struct Store {
  HttpCache cache;
  Logger log;
  std::string dir = FreshDir("http_cache");
  Store() { cache.AddRoot(dir.c_str()); }
  std::string path(const char* url) {
    StringBuffer p;
    cache.FilePath(url, p);
    return p.getString();
  }
  CacheFind find(const char* url, CacheEntry& entry) { return cache.Find(url, entry, log); }
};

TEST(HttpCacheTest, ContainerNameAndLayoutByteForByte) {
  Store store;
  EXPECT_EQ(store.path(kUrl), store.dir + "94/191/849.caf");
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
  const std::string body = "<html>hello hello hello</html>";
  ASSERT_TRUE(store.cache.Add(kUrl, head, body, false, store.log));
  const std::string file = ReadFileBytes(store.path(kUrl));
  EXPECT_EQ(Le32(file, 0), 10u);
  EXPECT_EQ(Le32(file, 4), 1u);
  EXPECT_EQ(Le32(file, 8), 88u);
  EXPECT_EQ(Le32(file, 12), Crc(kUrl));
  EXPECT_EQ(file.substr(16, 72), std::string(72, '\0'));
  const std::string record = file.substr(88);
  EXPECT_EQ(Le32(record, 0), Crc("Nothing"));
  EXPECT_EQ(Le32(record, 4), Crc(body));
  EXPECT_EQ(record.substr(8, 4), std::string("\0\x02\0\0", 4));
  const SystemTime now = UtcTimeNow();
  EXPECT_EQ(static_cast<uint8_t>(record[12]), static_cast<uint8_t>(now.year + 48));
  EXPECT_EQ(record[13], now.month);
  EXPECT_EQ(record[14], now.day);
  EXPECT_EQ(record.substr(16, 4), record.substr(12, 4));
  const uint32_t urlLength = Le32(record, 20), headLength = Le32(record, 24);
  EXPECT_EQ(urlLength, std::string(kUrl).size() + 1);
  EXPECT_EQ(record.substr(32, urlLength), std::string(kUrl) + '\0');
  EXPECT_EQ(Bunzip(record.substr(32 + urlLength, headLength)), head + '\0');
  EXPECT_EQ(Bunzip(record.substr(32 + urlLength + headLength)), body);
  EXPECT_EQ(record.size(), 32 + urlLength + headLength + Le32(record, 28));
}

TEST(HttpCacheTest, GifAndPdfBodiesAreStoredAsTheyAre) {
  const struct {
    const char* url;
    bool raw;
  } cases[] = {
      {"http://h/doc.pdf", true}, {"http://h/IMG.GIF?x=1", true}, {"http://h/p.html", false}};
  for (const auto& c : cases) {
    Store store;
    ASSERT_TRUE(store.cache.Add(c.url, "HTTP/1.1 200 OK\r\n", "%PDF-1.4 raw", false, store.log));
    const std::string file = ReadFileBytes(store.path(c.url));
    EXPECT_EQ(file[88 + 9], c.raw ? 0 : 2) << c.url;
    EXPECT_EQ(file.size() - 12 == file.rfind("%PDF-1.4 raw"), c.raw) << c.url;
    CacheEntry entry;
    ASSERT_EQ(store.find(c.url, entry), CacheFind::kPositive) << c.url;
    EXPECT_EQ(entry.body.view(), "%PDF-1.4 raw") << c.url;
  }
}

TEST(HttpCacheTest, EmptyBodyWithoutBytesBehindItIsStored) {
  Store store;
  ASSERT_TRUE(store.cache.Add(kUrl, "HTTP/1.1 301 Moved\r\n", std::string_view(), false,
                              store.log)) << LogText(store.log);
  CacheEntry entry;
  ASSERT_EQ(store.find(kUrl, entry), CacheFind::kPositive);
  EXPECT_TRUE(entry.body.isEmpty());
}

TEST(HttpCacheTest, EleventhEntryStartsTheContainerAfreshAndReplaceEmptiesIt) {
  Store store;
  const std::string path = store.path(kUrl);
  for (int i = 1; i <= 10; ++i) {
    ASSERT_TRUE(store.cache.Add(kUrl, "H", "body " + std::to_string(i), false, store.log));
    EXPECT_EQ(Le32(ReadFileBytes(path), 4), static_cast<uint32_t>(i));
  }
  CacheEntry entry;
  ASSERT_EQ(store.find(kUrl, entry), CacheFind::kPositive);
  EXPECT_EQ(entry.body.view(), "body 1");  // the first slot with the URL's CRC
  ASSERT_TRUE(store.cache.Add(kUrl, "H", "body 11", false, store.log));
  EXPECT_EQ(Le32(ReadFileBytes(path), 4), 1u);
  ASSERT_TRUE(store.cache.Add(kUrl, "H", "body 12", false, store.log));
  ASSERT_TRUE(store.cache.Replace(kUrl, "H", "new", true, store.log));
  const std::string file = ReadFileBytes(path);
  EXPECT_EQ(Le32(file, 4), 1u);
  EXPECT_EQ(file.substr(88 + 16, 4), std::string(4, '\0'));  // negative: no second stamp
  CacheEntry negative;
  EXPECT_EQ(store.find(kUrl, negative), CacheFind::kNegative);
  EXPECT_TRUE(negative.negative);
  EXPECT_TRUE(store.cache.Contains(kUrl, store.log));
  EXPECT_FALSE(store.cache.Contains("http://example.com/other", store.log));
}

TEST(HttpCacheTest, DnsMarks) {
  Store store;
  bool invalid = true;
  auto marked = [&](const char* host) {
    return store.cache.IsDnsMarkedInvalid(host, invalid, store.log);
  };
  EXPECT_FALSE(marked("a.example"));
  EXPECT_TRUE(store.cache.MarkDnsValid("a.example", store.log));
  EXPECT_FALSE(marked("a.example"));  // nothing stored for an unknown host
  ASSERT_TRUE(store.cache.MarkDnsInvalid("A.Example", store.log));
  EXPECT_TRUE(marked("a.EXAMPLE"));
  EXPECT_TRUE(invalid);
  ASSERT_TRUE(store.cache.MarkDnsValid("a.example", store.log));
  EXPECT_TRUE(marked("a.example"));
  EXPECT_FALSE(invalid);
  ASSERT_TRUE(store.cache.MarkDnsInvalid("a.example", store.log));  // a valid entry stays valid
  EXPECT_TRUE(marked("a.example"));
  EXPECT_FALSE(invalid);
}

TEST(HttpCacheTest, DamagedContainersAreLoggedMissesAndStartAfresh) {
  const size_t kCut = std::string::npos;
  const std::string huge("\xff\xff\xff\x7f", 4);
  const struct {
    const char* name;
    size_t at;  // kCut: the file is cut to `cut` bytes
    std::string bytes;
    size_t cut;
  } cases[] = {
      {"zero-length", kCut, "", 0},
      {"short directory", kCut, "", 50},
      {"truncated record", kCut, "", 150},
      {"capacity 11", 0, "\x0b", 0},
      {"count 11", 4, "\x0b", 0},
      {"slot inside the directory", 8, "\x10", 0},
      {"slot past the end", 10, "\x01", 0},
      {"huge URL length", 88 + 20, huge, 0},
      {"huge head length", 88 + 24, huge, 0},
      {"huge body length", 88 + 28, huge, 0},
      {"body CRC", 88 + 4, "\x01", 0},
      {"bzip2 stream", 88 + 32 + 26 + 20, "\x55\x55", 0},
  };
  for (const auto& c : cases) {
    Store store;
    const std::string path = store.path(kUrl);
    ASSERT_TRUE(
        store.cache.Add(kUrl, "HTTP/1.1 200 OK\r\n", std::string(500, 'b'), false, store.log));
    std::string file = ReadFileBytes(path);
    if (c.at == kCut) {
      file.resize(c.cut);
    } else {
      file.replace(c.at, c.bytes.size(), c.bytes);
    }
    WriteFileBytes(path, file);
    CacheEntry entry;
    EXPECT_EQ(store.find(kUrl, entry), CacheFind::kNone) << c.name;
    EXPECT_NE(LogText(store.log).find("Not a valid cache container."), std::string::npos) << c.name;
    // A later entry of the URL is found again (appended after a damaged record, or in a
    // container started afresh).
    ASSERT_TRUE(store.cache.Add(kUrl, "H", "fresh", false, store.log)) << c.name;
    ASSERT_EQ(store.find(kUrl, entry), CacheFind::kPositive) << c.name;
    EXPECT_EQ(entry.body.view(), "fresh") << c.name;
  }
}

TEST(HttpCacheTest, ExpansionPastTheLimitIsAMiss) {
  Store store;
  ASSERT_TRUE(store.cache.Add(kUrl, "H", std::string(200000, '\0'), false, store.log));
  EXPECT_LT(ReadFileBytes(store.path(kUrl)).size(), 500u);
  store.cache.setMaxBodyBytes(100000);
  CacheEntry entry;
  EXPECT_EQ(store.find(kUrl, entry), CacheFind::kNone);
  EXPECT_FALSE(store.cache.Add(kUrl, "H", std::string(100001, 'x'), false, store.log));
}

}  // namespace
}  // namespace quillon
