#include "http/http_cache.h"

#include <bzlib.h>

#include <cstring>
#include <mutex>
#include <new>

#include "base/file_access.h"
#include "base/log_base.h"
#include "base/md5.h"
#include "base/parse_engine.h"
#include "base/platform.h"
#include "http/cache_file.h"

namespace quillon {

namespace {

// bzip2 blocks are 100 kB to 900 kB; a block no larger than the input compresses it just as
// well and costs far less memory on both sides (a 900 kB block needs 7.6 MB to compress).
constexpr uint64_t kBzipBlockUnit = 100000;
constexpr int kBzipMaxBlocks = 9;
// Expanded data is produced in pieces of this size.
constexpr uint32_t kExpandPiece = 64 * 1024;
// Containers are copied in pieces of this size when an entry is appended.
constexpr uint32_t kCopyPiece = 256 * 1024;
constexpr uint32_t kNegativeFlagOffset = 8;
constexpr uint32_t kKindOffset = 9;
constexpr uint32_t kWrittenOffset = 12;
constexpr uint32_t kPositiveStampOffset = 16;
// The day byte of the second time stamp: 0 marks a negative record.
constexpr uint32_t kPositiveDayOffset = 18;
constexpr const char* kInvalidContainer = "Not a valid cache container.";

// The most bzip2 can make of length bytes (its documented bound: 1% more plus 600 bytes).
uint64_t CompressedBound(uint64_t length) { return length + length / 100 + 600; }

int BlockSizeFor(uint64_t length) {
  const uint64_t blocks = (length + kBzipBlockUnit - 1) / kBzipBlockUnit;
  return blocks < 1 ? 1 : blocks > kBzipMaxBlocks ? kBzipMaxBlocks : static_cast<int>(blocks);
}

bool Bzip2Compress(std::string_view in, DataBuffer& out) {
  out.clear();
  const uint64_t bound = CompressedBound(in.size());
  if (bound > UINT32_MAX || !out.reserve(static_cast<uint32_t>(bound))) return false;
  unsigned int produced = static_cast<unsigned int>(bound);
  // libbz2 refuses a null source even for zero bytes, and an empty view may have one.
  char nothing = 0;
  char* source = in.empty() ? &nothing : const_cast<char*>(in.data());
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &produced, source,
                               static_cast<unsigned int>(in.size()),
                               BlockSizeFor(in.size()), 0, 0) != BZ_OK) {
    return false;
  }
  return out.setLength(produced);
}

// Expands one complete bzip2 stream that must fill all of in, into at most maxOut bytes.
bool Bzip2Expand(const DataBuffer& in, uint32_t maxOut, DataBuffer& out) {
  out.clear();
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return false;
  stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
  stream.avail_in = in.length();
  int status = BZ_OK;
  while (status == BZ_OK) {
    const uint32_t room = maxOut - out.length();
    // One byte past the limit tells an expansion of exactly maxOut from a longer one.
    const uint32_t piece = room >= kExpandPiece ? kExpandPiece : room + 1;
    if (!ReserveDoubling(out, out.length() + piece, maxOut)) break;
    stream.next_out = reinterpret_cast<char*>(out.data()) + out.length();
    stream.avail_out = piece;
    status = BZ2_bzDecompress(&stream);
    const uint32_t made = piece - stream.avail_out;
    out.setLength(out.length() + made);
    if (made > room) status = BZ_DATA_ERROR;
    // No progress with input left means a truncated stream.
    if (status == BZ_OK && made == 0 && stream.avail_in == 0) status = BZ_UNEXPECTED_EOF;
  }
  BZ2_bzDecompressEnd(&stream);
  return status == BZ_STREAM_END && stream.avail_in == 0;
}

void Digest(const char* url, uint8_t digest[Md5::kDigestLength]) {
  Md5::digest(url, std::strlen(url), digest);
}

bool AppendRoot(const OwningPtrArray& roots, uint8_t selector, StringBuffer& path) {
  const StringBuffer* root = roots.at<StringBuffer>(selector % roots.count());
  return path.append(*root);
}

void WriteStamp(uint8_t* p) {
  const SystemTime now = UtcTimeNow();
  p[0] = static_cast<uint8_t>(now.year + 48);
  p[1] = static_cast<uint8_t>(now.month);
  p[2] = static_cast<uint8_t>(now.day);
  p[3] = static_cast<uint8_t>(now.hour);
}

// One container file opened for reading, with its directory checked.
class ContainerReader {
 public:
  // False when there is no file (or it cannot be opened); valid() tells whether its directory
  // holds together.
  bool open(const char* path, LogBase& log) {
    if (!fileExists(path) || !file_.open(path, log)) return false;
    DataBuffer directory;
    valid_ = file_.read(0, HttpCache::kDirectorySize, directory) &&
             GetLe32(directory.data()) == HttpCache::kCapacity &&
             GetLe32(directory.data() + 4) <= HttpCache::kCapacity;
    if (valid_) std::memcpy(directory_, directory.data(), HttpCache::kDirectorySize);
    return true;
  }
  bool valid() const { return valid_; }
  uint32_t count() const { return GetLe32(directory_ + 4); }
  uint32_t slotOffset(uint32_t i) const { return GetLe32(directory_ + 8 + 8 * i); }
  uint32_t slotCrc(uint32_t i) const { return GetLe32(directory_ + 12 + 8 * i); }

  // The record header at offset with lengths inside the limits; false when it is not.
  bool readRecordHeader(uint32_t offset, uint32_t maxBody, uint8_t header[32]) {
    DataBuffer bytes;
    if (offset < HttpCache::kDirectorySize ||
        !file_.read(offset, HttpCache::kRecordHeaderSize, bytes)) {
      return false;
    }
    std::memcpy(header, bytes.data(), HttpCache::kRecordHeaderSize);
    const uint32_t urlLength = GetLe32(header + 20);
    return urlLength >= 1 && urlLength <= HttpCache::kMaxUrlBytes &&
           GetLe32(header + 24) <= CompressedBound(HttpCache::kMaxHeadBytes) &&
           GetLe32(header + 28) <= CompressedBound(maxBody);
  }

  // The end of the last record: where the next one goes. False when a record is damaged or the
  // end does not fit the 32-bit offsets.
  bool recordsEnd(uint32_t maxBody, uint64_t& end) {
    end = HttpCache::kDirectorySize;
    for (uint32_t i = 0; i < count(); ++i) {
      uint8_t header[HttpCache::kRecordHeaderSize];
      if (!readRecordHeader(slotOffset(i), maxBody, header)) return false;
      const uint64_t recordEnd = uint64_t{slotOffset(i)} + HttpCache::kRecordHeaderSize +
                                 GetLe32(header + 20) + GetLe32(header + 24) + GetLe32(header + 28);
      if (recordEnd > end) end = recordEnd;
    }
    // The file must hold every record it announces.
    DataBuffer last;
    return end <= UINT32_MAX && read(end - 1, 1, last);
  }

  bool read(uint64_t position, uint32_t count, DataBuffer& out) {
    return file_.read(static_cast<int64_t>(position), count, out);
  }

 private:
  FileAccess file_;
  bool valid_ = false;
  uint8_t directory_[HttpCache::kDirectorySize] = {};
};

enum class RecordRead { kOtherUrl, kDamaged, kNegative, kPositive };

// Reads the record at offset for url, checking every length, the bzip2 streams and the body CRC.
// Without wantContent a positive record's head and body are not read.
RecordRead ReadRecord(ContainerReader& reader, uint32_t offset, const char* url, uint32_t maxBody,
                      bool wantContent, CacheEntry& entry) {
  uint8_t header[HttpCache::kRecordHeaderSize];
  if (!reader.readRecordHeader(offset, maxBody, header)) return RecordRead::kDamaged;
  const uint32_t urlLength = GetLe32(header + 20);
  const uint32_t headLength = GetLe32(header + 24);
  const uint32_t bodyLength = GetLe32(header + 28);
  uint64_t position = uint64_t{offset} + HttpCache::kRecordHeaderSize;
  DataBuffer bytes;
  if (!reader.read(position, urlLength, bytes) || bytes.data()[urlLength - 1] != 0) {
    return RecordRead::kDamaged;
  }
  if (std::strlen(url) + 1 != urlLength || std::memcmp(bytes.data(), url, urlLength) != 0) {
    return RecordRead::kOtherUrl;
  }
  entry.url.assign(url);
  entry.validatorCrc = GetLe32(header);
  entry.bodyCrc = GetLe32(header + 4);
  entry.negative = header[kNegativeFlagOffset] != 0;
  entry.kind = header[kKindOffset];
  std::memcpy(entry.written, header + kWrittenOffset, sizeof entry.written);
  if (header[kPositiveDayOffset] == 0) return RecordRead::kNegative;
  if (!wantContent) return RecordRead::kPositive;

  position += urlLength;
  DataBuffer expanded;
  if (!reader.read(position, headLength, bytes) ||
      !Bzip2Expand(bytes, HttpCache::kMaxHeadBytes, expanded) || expanded.length() == 0 ||
      expanded.data()[expanded.length() - 1] != 0 ||
      !entry.head.assign(reinterpret_cast<const char*>(expanded.data()), expanded.length() - 1)) {
    return RecordRead::kDamaged;
  }
  position += headLength;
  const bool compressed = (entry.kind & HttpCache::kCompressedKind) != 0;
  if (!reader.read(position, bodyLength, bytes)) return RecordRead::kDamaged;
  if (!compressed || bodyLength == 0) {
    if (bodyLength > maxBody) return RecordRead::kDamaged;
    entry.body.moveFrom(bytes);
  } else if (!Bzip2Expand(bytes, maxBody, entry.body)) {
    return RecordRead::kDamaged;
  }
  if (Crc32(entry.body.data(), entry.body.length()) != entry.bodyCrc) return RecordRead::kDamaged;
  return RecordRead::kPositive;
}

// The record of one entry, ready to be written after a container's directory.
bool BuildRecord(const char* url, std::string_view head, std::string_view body, bool negative,
                 DataBuffer& record) {
  DataBuffer headText;
  DataBuffer packedHead;
  DataBuffer packedBody;
  const bool raw = HttpCache::StoresBodyRaw(url);
  if (!headText.append(head) || !headText.appendByte(0) ||
      !Bzip2Compress(headText.view(), packedHead) || (!raw && !Bzip2Compress(body, packedBody))) {
    return false;
  }
  const std::string_view storedBody = raw ? body : packedBody.view();
  const uint32_t urlLength = static_cast<uint32_t>(std::strlen(url)) + 1;
  uint8_t header[HttpCache::kRecordHeaderSize] = {};
  PutLe32(header,
          Crc32(HttpCache::kValidator, static_cast<uint32_t>(std::strlen(HttpCache::kValidator))));
  PutLe32(header + 4, Crc32(body.data(), static_cast<uint32_t>(body.size())));
  header[kNegativeFlagOffset] = negative ? 1 : 0;
  header[kKindOffset] = raw ? 0 : HttpCache::kCompressedKind;
  WriteStamp(header + kWrittenOffset);
  if (!negative) WriteStamp(header + kPositiveStampOffset);
  PutLe32(header + 20, urlLength);
  PutLe32(header + 24, packedHead.length());
  PutLe32(header + 28, static_cast<uint32_t>(storedBody.size()));
  record.clear();
  return record.append(header, sizeof header) && record.append(url, urlLength) &&
         record.append(packedHead) && record.append(storedBody);
}

// Copies the first `length` bytes of the container into the writer.
bool CopyPrefix(ContainerReader& reader, uint64_t length, AtomicFileWriter& writer, LogBase& log) {
  DataBuffer piece;
  for (uint64_t done = 0; done < length;) {
    const uint32_t want =
        length - done > kCopyPiece ? kCopyPiece : static_cast<uint32_t>(length - done);
    if (!reader.read(done, want, piece) || !writer.write(piece.data(), want, log)) return false;
    done += want;
  }
  return true;
}

bool DnsKey(const char* host, StringBuffer& key) {
  if (!key.assign(HttpCache::kDnsPrefix) || !key.append(host != nullptr ? host : "")) return false;
  key.toLowerCase();
  return true;
}

}  // namespace

bool HttpCache::AddRoot(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  auto* root = new (std::nothrow) StringBuffer(path);
  if (root == nullptr) return false;
  root->replaceChar('\\', '/');
  if ((root->lastChar() != '/' && !root->appendChar('/')) || !roots_.append(root)) {
    delete root;
    return false;
  }
  return true;
}

bool HttpCache::FilePath(const char* url, StringBuffer& path) const {
  path.clear();
  if (roots_.isEmpty()) return false;
  uint8_t d[Md5::kDigestLength];
  Digest(url != nullptr ? url : "", d);
  const bool ok = AppendRoot(roots_, d[0], path) && path.appendUint32(d[1]) &&
                  path.appendChar('/') && path.appendUint32(d[2]) && path.appendChar('/') &&
                  path.appendUint32(GetLe32(d + 3) % kFilesPerFolder) && path.append(".caf");
  if (!ok) path.clear();
  return ok;
}

bool HttpCache::StoresBodyRaw(const char* url) {
  return url != nullptr &&
         (FindNoCase(url, ".gif") != nullptr || FindNoCase(url, ".pdf") != nullptr);
}

CacheFind HttpCache::Find(const char* url, CacheEntry& entry, LogBase& log) const {
  return locate(url, true, entry, log);
}

bool HttpCache::Contains(const char* url, LogBase& log) const {
  CacheEntry entry;
  return locate(url, false, entry, log) != CacheFind::kNone;
}

CacheFind HttpCache::locate(const char* url, bool wantContent, CacheEntry& entry,
                            LogBase& log) const {
  StringBuffer path;
  if (url == nullptr || !FilePath(url, path)) return CacheFind::kNone;
  ContainerReader reader;
  if (!reader.open(path.getString(), log)) return CacheFind::kNone;
  const uint32_t crc = Crc32(url, static_cast<uint32_t>(std::strlen(url)));
  bool damaged = !reader.valid();
  // A damaged record is skipped (and logged), so a later good record of the URL still counts.
  for (uint32_t i = 0; reader.valid() && i < reader.count(); ++i) {
    if (reader.slotCrc(i) != crc) continue;
    const RecordRead read =
        ReadRecord(reader, reader.slotOffset(i), url, maxBodyBytes_, wantContent, entry);
    if (read == RecordRead::kPositive) return CacheFind::kPositive;
    if (read == RecordRead::kNegative) return CacheFind::kNegative;
    if (read == RecordRead::kDamaged) damaged = true;
  }
  if (damaged) {
    log.addError(kInvalidContainer);
    log.addTag("filename", path.getString());
  }
  return CacheFind::kNone;
}

bool HttpCache::Add(const char* url, std::string_view head, std::string_view body, bool negative,
                    LogBase& log) {
  return write(url, head, body, negative, true, log);
}

bool HttpCache::Replace(const char* url, std::string_view head, std::string_view body,
                        bool negative, LogBase& log) {
  return write(url, head, body, negative, false, log);
}

bool HttpCache::write(const char* url, std::string_view head, std::string_view body, bool negative,
                      bool keepOthers, LogBase& log) {
  // A container holds the entries of many URLs: clients that fetch side by side take turns at
  // rewriting one, so that no entry is lost between a read and the rename.
  static std::mutex containerWrites;
  std::lock_guard<std::mutex> lock(containerWrites);
  StringBuffer path;
  if (url == nullptr || !FilePath(url, path)) return false;
  if (std::strlen(url) + 1 > kMaxUrlBytes || head.size() + 1 > kMaxHeadBytes ||
      body.size() > maxBodyBytes_) {
    log.addError("Cache entry too large");
    log.addTag("url", url);
    return false;
  }
  DataBuffer record;
  if (!BuildRecord(url, head, body, negative, record)) {
    log.addError("Failed to compress the cache entry");
    return false;
  }
  const uint32_t crc = Crc32(url, static_cast<uint32_t>(std::strlen(url)));
  AtomicFileWriter writer;
  if (!writer.begin(path.getString(), log)) return false;

  ContainerReader reader;
  uint64_t end = 0;
  if (keepOthers && reader.open(path.getString(), log)) {
    if (!reader.valid() || !reader.recordsEnd(maxBodyBytes_, end) ||
        end + record.length() > UINT32_MAX) {
      log.addError(kInvalidContainer);
      log.addTag("filename", path.getString());
      end = 0;
    } else if (reader.count() >= kCapacity) {
      end = 0;  // full: the container starts afresh
    }
  }
  if (end != 0) {
    // Append: the old records as they are, then the new one in the next slot.
    const uint32_t count = reader.count();
    uint8_t countField[4];
    uint8_t slot[8];
    PutLe32(countField, count + 1);
    PutLe32(slot, static_cast<uint32_t>(end));
    PutLe32(slot + 4, crc);
    if (!CopyPrefix(reader, end, writer, log) || !writer.patch(4, countField, 4, log) ||
        !writer.patch(8 + 8 * count, slot, 8, log)) {
      return false;
    }
  } else {
    uint8_t directory[kDirectorySize] = {};
    PutLe32(directory, kCapacity);
    PutLe32(directory + 4, 1);
    PutLe32(directory + 8, kDirectorySize);
    PutLe32(directory + 12, crc);
    if (!writer.write(directory, kDirectorySize, log)) return false;
  }
  return writer.write(record.data(), record.length(), log) && writer.commit(log);
}

bool HttpCache::IsDnsMarkedInvalid(const char* host, bool& invalid, LogBase& log) const {
  invalid = false;
  StringBuffer key;
  CacheEntry entry;
  if (!DnsKey(host, key) || Find(key.getString(), entry, log) == CacheFind::kNone) return false;
  invalid = entry.negative;
  return true;
}

bool HttpCache::MarkDnsInvalid(const char* host, LogBase& log) {
  StringBuffer key;
  CacheEntry entry;
  if (!DnsKey(host, key)) return false;
  switch (Find(key.getString(), entry, log)) {
    case CacheFind::kNone:
      return Add(key.getString(), "", "", true, log);
    case CacheFind::kNegative:
    case CacheFind::kPositive:
      break;
  }
  // An entry stored as valid keeps its state; a failed one is stored again.
  return !entry.negative || Replace(key.getString(), "", "", true, log);
}

bool HttpCache::MarkDnsValid(const char* host, LogBase& log) {
  StringBuffer key;
  CacheEntry entry;
  if (!DnsKey(host, key)) return false;
  if (Find(key.getString(), entry, log) == CacheFind::kNone || !entry.negative) return true;
  return Replace(key.getString(), "", "", false, log);
}

}  // namespace quillon
