#include "base/gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/memory.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

// Keeps what an operation logged, so tests can check the exact lines.
class RecordingLog : public LogBase {
 public:
  bool addError(const char* text) override {
    errors.push_back(text);
    return true;
  }
  bool addTag(const char* name, const char* value) override {
    tags[name] = value;
    return true;
  }
  bool addTagInt(const char* name, int32_t value) override {
    tags[name] = std::to_string(value);
    return true;
  }
  bool addTagInt64(const char* name, int64_t value) override {
    tags[name] = std::to_string(value);
    return true;
  }
  std::string firstError() const { return errors.empty() ? "" : errors.front(); }

  std::vector<std::string> errors;
  std::map<std::string, std::string> tags;
};

DataBuffer Bytes(const std::string& s) {
  return DataBuffer(s.data(), static_cast<uint32_t>(s.size()));
}

std::string Text(const DataBuffer& d) { return std::string(d.view()); }

// Compressible text that looks like a web page.
std::string SampleHtml(size_t size) {
  static const char* const kWords[] = {"<p>",   "site", "map",     "</p>", "<a href=\"/x\">",
                                       "link",  "</a>", "crawler", "\r\n", "page",
                                       "title", "<div>"};
  std::mt19937 rng(7);
  std::string out;
  while (out.size() < size) {
    out += kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    out += ' ';
  }
  out.resize(size);
  return out;
}

// Deflates with zlib; windowBits -15 gives raw DEFLATE, 31 a gzip member (with header when
// given).
std::string Deflate(const std::string& data, int windowBits, gz_header* header = nullptr) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY),
            Z_OK);
  if (header) {
    EXPECT_EQ(deflateSetHeader(&zs, header), Z_OK);
  }
  std::string out(deflateBound(&zs, data.size()) + 1024, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// A gzip member built by hand: header with the given flags and fields, raw DEFLATE, trailer.
std::string HandMadeGzip(uint8_t flags, const std::string& fields, const std::string& data,
                         uint32_t crcOverride = 0, bool overrideCrc = false) {
  std::string out = std::string("\x1f\x8b\x08", 3) + static_cast<char>(flags) +
                    std::string("\0\0\0\0\0\x03", 6) + fields + Deflate(data, -15);
  uint32_t crc =
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  out += Le32(overrideCrc ? crcOverride : crc);
  out += Le32(static_cast<uint32_t>(data.size()));
  return out;
}

// Runs the system's gzip tool on a file in the scratch folder and returns the .gz bytes.
std::string GzipWithTool(const std::string& data, const std::string& name) {
  std::string dir = testing::FreshDir("gzip_tool");
  std::string path = dir + name;
  testing::WriteFileBytes(path, data);
  std::string command = "gzip -N -f '" + path + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return testing::ReadFileBytes(path + ".gz");
}

const std::string kHeader("\x1f\x8b\x08\x00\0\0\0\0\0\x03", 10);

// ---- Container checks ----

struct ContainerCase {
  const char* label;
  std::string bytes;
  const char* error;
};

TEST(GzipTest, MalformedContainersFailWithTheirMessage) {
  const std::string trailer(8, '\0');
  const ContainerCase cases[] = {
      {"empty", "", "Gzip data too small"},
      {"nine bytes", kHeader.substr(0, 9), "Gzip data too small"},
      {"wrong ID1", std::string("\x1e\x8b\x08\0\0\0\0\0\0\x03", 10) + trailer, "Invalid GZip ID"},
      {"wrong ID2", std::string("\x1f\x8c\x08\0\0\0\0\0\0\x03", 10) + trailer, "Invalid GZip ID"},
      {"method 7", std::string("\x1f\x8b\x07\0\0\0\0\0\0\x03", 10) + trailer,
       "Invalid GZip compression method"},
      {"extra without room for XLEN and one byte",
       std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\x00\x00", 12), "Buffer would have been overrun"},
      {"extra longer than the body",
       std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\x10\x00", 12) + std::string(15, 'x'),
       "Buffer would have been overrun"},
      {"extra reaching the last byte exactly",
       std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\x03\x00", 12) + "abc",
       "Buffer would have been overrun"},
      {"name without terminator", std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10) + "index.html",
       "Buffer would have been overrun"},
      {"name ending on the last byte",
       std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10) + std::string("a\0", 2),
       "Buffer would have been overrun"},
      {"comment without terminator",
       std::string("\x1f\x8b\x08\x10\0\0\0\0\0\x03", 10) + "a comment",
       "Buffer would have been overrun"},
      {"comment after name without terminator",
       std::string("\x1f\x8b\x08\x18\0\0\0\0\0\x03", 10) + std::string("n\0c", 3),
       "Buffer would have been overrun"},
      {"header CRC with exactly two bytes after the name",
       std::string("\x1f\x8b\x08\x0a\0\0\0\0\0\x03", 10) + std::string("n\0\x12\x34", 4),
       "Buffer would have been overrun"},
      {"header only", kHeader, "Not enough data for trailing CRC32 or ISIZE"},
      {"seven trailer bytes", kHeader + std::string(7, '\0'),
       "Not enough data for trailing CRC32 or ISIZE"},
      {"header CRC then too little trailer",
       std::string("\x1f\x8b\x08\x02\0\0\0\0\0\x03", 10) + "\x12\x34" + std::string(5, '\0'),
       "Not enough data for trailing CRC32 or ISIZE"},
  };
  for (const ContainerCase& c : cases) {
    RecordingLog log;
    DataBuffer out;
    out.append("stale");
    EXPECT_FALSE(Gzip::uncompress(Bytes(c.bytes), out, log)) << c.label;
    EXPECT_EQ(log.errors, std::vector<std::string>{c.error}) << c.label;
    EXPECT_TRUE(out.isEmpty()) << c.label;
    EXPECT_TRUE(log.tags.empty()) << c.label;
  }
}

TEST(GzipTest, HeaderWithExactlyATrailerIsEmptySuccessWithoutSizes) {
  RecordingLog log;
  DataBuffer out;
  out.append("stale");
  EXPECT_TRUE(Gzip::uncompress(Bytes(kHeader + std::string(8, '\x55')), out, log));
  EXPECT_TRUE(out.isEmpty());
  EXPECT_TRUE(log.errors.empty());
  EXPECT_TRUE(log.tags.empty());
}

TEST(GzipTest, IgnoredFlagBitsDoNotMatter) {
  std::string data = "ignored flag bits";
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(HandMadeGzip(0xE1, "", data)), out, log));
  EXPECT_EQ(Text(out), data);
}

TEST(GzipTest, HandMadeOptionalFieldsAreSkipped) {
  std::string data = SampleHtml(5000);
  std::string fields = std::string(
                           "\x04\x00"
                           "ABCD",
                           6) +
                       std::string("name.htm\0", 9) + std::string("comment\0", 8) + "\xAA\xBB";
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(HandMadeGzip(0x1E, fields, data)), out, log))
      << log.firstError();
  EXPECT_EQ(Text(out), data);
}

// ---- Decoding real bodies ----

TEST(GzipTest, SystemGzipToolOutputDecodes) {
  std::string data = SampleHtml(200000);
  std::string gz = GzipWithTool(data, "index.html");
  ASSERT_GT(gz.size(), 20u);
  ASSERT_TRUE(static_cast<uint8_t>(gz[3]) & 0x08) << "the tool stores the file name";
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(gz), out, log)) << log.firstError();
  EXPECT_EQ(Text(out), data);
  EXPECT_TRUE(log.errors.empty());
}

TEST(GzipTest, GzipOfAnEmptyFileDecodesToNothing) {
  std::string gz = GzipWithTool("", "empty.txt");
  RecordingLog log;
  DataBuffer out;
  EXPECT_TRUE(Gzip::uncompress(Bytes(gz), out, log)) << log.firstError();
  EXPECT_TRUE(out.isEmpty());
  EXPECT_EQ(log.tags["UncompressedSize"], "0");
}

TEST(GzipTest, ZlibHeaderWithEveryOptionalFieldDecodes) {
  std::string data = SampleHtml(30000);
  std::string extra(
      "XY\x04\x00"
      "abcd",
      8);
  std::string name = "sitemap.htm";
  std::string comment = "made by a test";
  gz_header header{};
  header.extra = reinterpret_cast<Bytef*>(extra.data());
  header.extra_len = static_cast<uInt>(extra.size());
  header.name = reinterpret_cast<Bytef*>(name.data());
  header.comment = reinterpret_cast<Bytef*>(comment.data());
  header.hcrc = 1;
  header.os = 3;
  std::string gz = Deflate(data, 31, &header);
  ASSERT_EQ(static_cast<uint8_t>(gz[3]) & 0x1E, 0x1E);

  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(gz), out, log)) << log.firstError();
  EXPECT_EQ(Text(out), data);
}

TEST(GzipTest, LogsCompressedAndUncompressedSizes) {
  std::string data = SampleHtml(12345);
  std::string gz = Deflate(data, 31);
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(gz), out, log));
  EXPECT_EQ(log.tags["CompressedSize"], std::to_string(gz.size() - 18));
  EXPECT_EQ(log.tags["UncompressedSize"], "12345");
}

TEST(GzipTest, WrongTrailerCrcStillDecodes) {
  std::string data = "the CRC is not checked";
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(HandMadeGzip(0, "", data, 0xDEADBEEF, true)), out, log));
  EXPECT_EQ(Text(out), data);
}

TEST(GzipTest, LyingIsizeNeitherBreaksDecodingNorSizesTheBuffer) {
  std::string data = SampleHtml(50000);
  for (uint32_t isize : {0u, 7u, 0xFFFFFFFFu}) {
    std::string gz = Deflate(data, 31);
    gz.replace(gz.size() - 4, 4, Le32(isize));
    RecordingLog log;
    DataBuffer out;
    ASSERT_TRUE(Gzip::uncompress(Bytes(gz), out, log)) << isize;
    EXPECT_EQ(Text(out), data) << isize;
    EXPECT_EQ(log.tags["UncompressedSize"], std::to_string(isize));
    // A few kilobytes of DEFLATE cannot honestly claim gigabytes.
    EXPECT_LT(out.capacity(), 16u << 20) << isize;
  }
}

TEST(GzipTest, BodyLargerThanTheFirstReservationGrows) {
  std::string data = SampleHtml(9u << 20);
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(Deflate(data, 31)), out, log)) << log.firstError();
  EXPECT_TRUE(Text(out) == data);
}

TEST(GzipTest, OnlyTheFirstMemberIsDecoded) {
  std::string gz = Deflate("first", 31) + Deflate("second", 31);
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(Gzip::uncompress(Bytes(gz), out, log));
  EXPECT_EQ(Text(out), "first");
}

TEST(GzipTest, InputAndOutputMayBeTheSameBuffer) {
  std::string data = SampleHtml(4000);
  DataBuffer body = Bytes(Deflate(data, 31));
  RecordingLog log;
  ASSERT_TRUE(Gzip::uncompress(body, body, log)) << log.firstError();
  EXPECT_EQ(Text(body), data);
}

// ---- Broken DEFLATE data ----

TEST(GzipTest, TruncatedStreamFails) {
  std::string data = SampleHtml(100000);
  std::string gz = Deflate(data, 31);
  // Drop the second half of the compressed blocks but keep 8 bytes posing as the trailer.
  std::string cut = gz.substr(0, gz.size() / 2) + gz.substr(gz.size() - 8);
  RecordingLog log;
  DataBuffer out;
  EXPECT_FALSE(Gzip::uncompress(Bytes(cut), out, log));
  EXPECT_EQ(log.firstError(), "Compressed data ends before the end of the deflate stream");
}

TEST(GzipTest, StreamCutBeforeAnyOutputFails) {
  std::string gz = Deflate(SampleHtml(100000), 31);
  std::string cut = gz.substr(0, 12) + gz.substr(gz.size() - 8);
  RecordingLog log;
  DataBuffer out;
  EXPECT_FALSE(Gzip::uncompress(Bytes(cut), out, log));
  EXPECT_EQ(log.firstError(), "Inflating produced no output");
}

TEST(GzipTest, InvalidBlockTypeFailsWithTheDecoderMessage) {
  // Block type 3 is reserved.
  std::string gz = kHeader + std::string("\x07\x00\x00\x00", 4) + std::string(8, '\0');
  RecordingLog log;
  DataBuffer out;
  EXPECT_FALSE(Gzip::uncompress(Bytes(gz), out, log));
  EXPECT_EQ(log.firstError(), "Failed to inflate data");
  EXPECT_EQ(log.tags["zlibError"], "invalid block type");
}

// ---- Output limit ----

TEST(GzipTest, OutputExactlyAtTheLimitSucceeds) {
  std::string data = SampleHtml(100000);
  RecordingLog log;
  DataBuffer out;
  EXPECT_TRUE(Gzip::uncompress(Bytes(Deflate(data, 31)), out, data.size(), log));
  EXPECT_EQ(Text(out), data);
}

TEST(GzipTest, OutputOneBytePastTheLimitFails) {
  std::string data = SampleHtml(100000);
  RecordingLog log;
  DataBuffer out;
  EXPECT_FALSE(Gzip::uncompress(Bytes(Deflate(data, 31)), out, data.size() - 1, log));
  EXPECT_EQ(log.firstError(), "Uncompressed data exceeds the maximum allowed size");
  EXPECT_EQ(log.tags["maxUncompressedSize"], std::to_string(data.size() - 1));
}

// 100 MB of zeros squeeze into about 100 KB; the limit must stop the decoder early.
std::string ZeroBomb(size_t megabytes) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string zeros(1 << 20, '\0');
  std::string out;
  char block[65536];
  for (size_t i = 0; i < megabytes; ++i) {
    zs.next_in = reinterpret_cast<Bytef*>(zeros.data());
    zs.avail_in = static_cast<uInt>(zeros.size());
    int flush = i + 1 == megabytes ? Z_FINISH : Z_NO_FLUSH;
    do {
      zs.next_out = reinterpret_cast<Bytef*>(block);
      zs.avail_out = sizeof(block);
      deflate(&zs, flush);
      out.append(block, sizeof(block) - zs.avail_out);
    } while (zs.avail_out == 0);
  }
  deflateEnd(&zs);
  return out;
}

TEST(GzipTest, BombStopsAtTheLimitWithoutAllocatingTheWholeOutput) {
  std::string bomb = ZeroBomb(100);
  ASSERT_LT(bomb.size(), 200000u);
  const uint64_t limit = 1u << 20;
  RecordingLog log;
  DataBuffer out;
  EXPECT_FALSE(Gzip::uncompress(Bytes(bomb), out, limit, log));
  EXPECT_EQ(log.firstError(), "Uncompressed data exceeds the maximum allowed size");
  EXPECT_EQ(log.tags["UncompressedSize"], std::to_string(100u << 20));
  EXPECT_LE(out.capacity(), limit + DataBuffer::kGrowthStep + 1);
}

TEST(GzipTest, HugeIsizeOnATinyBodyReservesLittle) {
  // ISIZE says 100 MB; the first reservation is bounded by what the input could hold.
  std::string bomb = ZeroBomb(100);
  std::string headerAndTrailerOnly =
      bomb.substr(0, 10) + std::string("\x03\x00", 2) + bomb.substr(bomb.size() - 8);
  RecordingLog log;
  DataBuffer out;
  EXPECT_TRUE(Gzip::uncompress(Bytes(headerAndTrailerOnly), out, log));
  EXPECT_TRUE(out.isEmpty());
  EXPECT_LE(out.capacity(), 1u << 20);
}

// ---- Robustness ----

TEST(GzipTest, OutOfMemoryIsAFalseResult) {
  std::string gz = Deflate(SampleHtml(1000), 31);
  DataBuffer in = Bytes(gz);
  RecordingLog log;
  DataBuffer out;
  SetAllocationFailureForTests(true);
  bool ok = Gzip::uncompress(in, out, log);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_EQ(log.firstError(), "Out of memory for uncompressed data");
}

TEST(GzipTest, GarbageNeverCrashes) {
  std::mt19937 rng(20240607);
  const std::string valid = Deflate(SampleHtml(3000), 31);
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    switch (round % 3) {
      case 0: {  // a valid body with a few bytes changed
        input = valid;
        int flips = 1 + rng() % 8;
        for (int i = 0; i < flips; ++i) input[rng() % input.size()] = static_cast<char>(rng());
        break;
      }
      case 1:  // a valid body cut anywhere
        input = valid.substr(0, rng() % valid.size());
        break;
      default: {  // a plausible header followed by noise
        input = std::string("\x1f\x8b\x08", 3) + static_cast<char>(rng());
        size_t n = rng() % 400;
        for (size_t i = 0; i < n; ++i) input += static_cast<char>(rng());
        break;
      }
    }
    LogNull log;
    DataBuffer out;
    bool ok = Gzip::uncompress(Bytes(input), out, 1u << 20, log);
    if (ok) {
      EXPECT_LE(out.length(), 1u << 20);
    }
  }
}

// ---- The raw inflate helper ----

TEST(InflateRawTest, MissingOutputOrInputFails) {
  std::string raw = Deflate("abc", -15);
  const auto* in = reinterpret_cast<const uint8_t*>(raw.data());
  uint32_t n = static_cast<uint32_t>(raw.size());
  {
    RecordingLog log;
    EXPECT_FALSE(InflateRaw(in, n, nullptr, 0, log));
    EXPECT_EQ(log.errors, std::vector<std::string>{"No output object"});
  }
  DataBuffer out;
  for (auto [bytes, length] : {std::pair<const uint8_t*, uint32_t>{in, 0u}, {nullptr, n}}) {
    RecordingLog log;
    EXPECT_FALSE(InflateRaw(bytes, length, &out, 0, log));
    EXPECT_EQ(log.errors, std::vector<std::string>{"No input data"});
  }
}

TEST(InflateRawTest, AppendsAndCountsOnlyNewOutputAgainstTheLimit) {
  std::string raw = Deflate("12345", -15);
  DataBuffer out;
  out.append("prefix that is longer than the limit");
  RecordingLog log;
  EXPECT_TRUE(InflateRaw(reinterpret_cast<const uint8_t*>(raw.data()),
                         static_cast<uint32_t>(raw.size()), &out, 5, log));
  EXPECT_EQ(Text(out), "prefix that is longer than the limit12345");
  EXPECT_FALSE(InflateRaw(reinterpret_cast<const uint8_t*>(raw.data()),
                          static_cast<uint32_t>(raw.size()), &out, 4, log));
}

TEST(InflateRawTest, NeverWritesIntoBorrowedMemory) {
  std::string raw = Deflate("new bytes", -15);
  std::string lent = "lent memory";
  DataBuffer out;
  out.borrow(lent.data(), static_cast<uint32_t>(lent.size()));
  out.setLength(0);
  RecordingLog log;
  ASSERT_TRUE(InflateRaw(reinterpret_cast<const uint8_t*>(raw.data()),
                         static_cast<uint32_t>(raw.size()), &out, 0, log));
  EXPECT_EQ(Text(out), "new bytes");
  EXPECT_EQ(lent, "lent memory");
}

TEST(InflateRawTest, CompleteEmptyStreamSucceeds) {
  const uint8_t emptyStream[] = {0x03, 0x00};
  DataBuffer out;
  RecordingLog log;
  EXPECT_TRUE(InflateRaw(emptyStream, 2, &out, 0, log));
  EXPECT_TRUE(out.isEmpty());
}

TEST(InflateRawTest, DecoderThatCannotStartFails) {
  std::string raw = Deflate("abc", -15);
  DataBuffer out;
  ASSERT_TRUE(out.reserve(1000));
  RecordingLog log;
  SetAllocationFailureForTests(true);
  bool ok = InflateRaw(reinterpret_cast<const uint8_t*>(raw.data()),
                       static_cast<uint32_t>(raw.size()), &out, 0, log);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_EQ(log.firstError(), "Failed to initialize the raw inflater");
}

}  // namespace
}  // namespace quillon
