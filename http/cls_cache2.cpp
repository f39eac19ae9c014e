#include "http/cls_cache2.h"

#include <cmath>
#include <cstring>
#include <new>

#include "base/ascii.h"
#include "base/file_access.h"
#include "base/log_base.h"
#include "base/md5.h"
#include "base/platform.h"
#include "http/cache_file.h"
#include "http/date_parser.h"

namespace quillon {

namespace {

constexpr uint32_t kVersionOffset = 4;
constexpr uint32_t kMarkOffset = 6;
constexpr uint32_t kExpiryOffset = 10;
constexpr uint32_t kEtagLengthOffset = 18;
constexpr uint32_t kHeaderOverhead = ClsCache2::kFixedHeaderSize + ClsCache2::kLengthFieldSize;
constexpr uint32_t kMaxEtagLength = ClsCache2::kMaxHeaderSize - kHeaderOverhead;
constexpr const char* kNoRoots =
    "No cache roots have been set.  Need to call AddRoot at least once.";

bool AppendHexDigest(const uint8_t digest[Md5::kDigestLength], StringBuffer& out) {
  for (size_t i = 0; i < Md5::kDigestLength; ++i) {
    if (!out.appendChar(HexDigit(digest[i] >> 4)) || !out.appendChar(HexDigit(digest[i]))) {
      return false;
    }
  }
  return true;
}

void LogWithFile(LogBase& log, const char* message, const char* path) {
  log.addError(message);
  log.addTag("filename", path);
}

// Whether the file after its header is exactly the entry data length the header records: a
// file cut off (a crash, a full disk, a copy broken off) must never be served as an answer.
bool HoldsWholeEntry(const DataBuffer& file, const char* path, LogBase& log) {
  const uint32_t headerSize = GetLe32(file.data());
  const uint64_t expected =
      uint64_t{headerSize} + GetLe32(file.data() + headerSize - ClsCache2::kLengthFieldSize);
  if (file.length() == expected) return true;
  LogWithFile(log, file.length() < expected ? "Cache file cut short." : "Not a valid cache file.",
              path);
  log.addTagInt64("expectedSize", static_cast<int64_t>(expected));
  log.addTagInt64("fileSize", file.length());
  return false;
}

}  // namespace

double DayCountOrZero(const SystemTime& time) {
  double dayCount = 0;
  if (time.year == 0 || !DateParser::CalendarToDayCount(time, dayCount)) return 0;
  return dayCount;
}

bool ClsCache2::AddRoot(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  auto* root = new (std::nothrow) StringBuffer(path);
  if (root == nullptr) return false;
  root->replaceChar('\\', '/');
  if (root->lastChar() != '/' && !root->appendChar('/')) {
    delete root;
    return false;
  }
  if (!roots_.append(root)) {
    delete root;
    return false;
  }
  return true;
}

bool ClsCache2::setLevels(int levels) {
  if (levels < 0 || levels > kMaxLevels) return false;
  levels_ = levels;
  return true;
}

bool ClsCache2::GetFilename(const char* url, StringBuffer& path) {
  log_.reset();
  LogContextGuard context(log_, "GetFilename");
  return GetFilename(url, path, log_);
}

bool ClsCache2::GetFilename(const char* url, StringBuffer& path, LogBase& log) const {
  path.clear();
  if (roots_.isEmpty()) {
    log.addError(kNoRoots);
    return false;
  }
  if (url == nullptr) url = "";
  uint8_t digest[Md5::kDigestLength];
  Md5::digest(url, std::strlen(url), digest);
  bool ok = path.append(*roots_.at<StringBuffer>(digest[0] % roots_.count()));
  for (int level = 1; ok && level <= levels_; ++level) {
    ok = path.appendUint32(digest[level]) && path.appendChar('/');
  }
  ok = ok && AppendHexDigest(digest, path) && path.append(".dat");
  if (!ok) path.clear();
  return ok;
}

bool ClsCache2::SaveToCache2(const char* url, const SystemTime& expiry, const char* etag,
                             const DataBuffer& entryData) {
  log_.reset();
  return SaveToCache2(url, expiry, etag, entryData, log_);
}

bool ClsCache2::SaveToCache2(const char* url, const SystemTime& expiry, const char* etag,
                             const DataBuffer& entryData, LogBase& log) {
  LogContextGuard context(log, "SaveToCache2");
  StringBuffer path;
  if (!GetFilename(url, path, log)) return false;
  log.addTag("ResourceName", url);
  log.addTag("CacheFilename", path.getString());
  bool saved = false;
  if (entryData.length() > kMaxEntryData) {
    log.addError("Cache entry too large");
  } else {
    saved = WriteFile(path.getString(), expiry, etag, entryData, log);
  }
  log.addError(saved ? "Cache updated." : "Cache not updated.");
  return saved;
}

bool ClsCache2::WriteFile(const char* path, const SystemTime& expiry, const char* etag,
                          const DataBuffer& entryData, LogBase& log) {
  // An ETag too long for the header is left out: revalidation then uses the dates.
  const uint32_t etagLength = etag != nullptr ? static_cast<uint32_t>(std::strlen(etag)) : 0;
  const uint32_t storedEtag = etagLength <= kMaxEtagLength ? etagLength : 0;
  uint8_t fixed[kFixedHeaderSize] = {};
  PutLe32(fixed, kHeaderOverhead + storedEtag);
  PutLe16(fixed + kVersionOffset, kFileVersion);
  PutLe16(fixed + kMarkOffset, kFileMark);
  PutLeDouble(fixed + kExpiryOffset, DayCountOrZero(expiry));
  PutLe16(fixed + kEtagLengthOffset, static_cast<uint16_t>(storedEtag));
  uint8_t entryLength[kLengthFieldSize];
  PutLe32(entryLength, entryData.length());
  AtomicFileWriter writer;
  return writer.begin(path, log) && writer.write(fixed, kFixedHeaderSize, log) &&
         writer.write(etag, storedEtag, log) && writer.write(entryLength, kLengthFieldSize, log) &&
         writer.write(entryData.data(), entryData.length(), log) && writer.commit(log);
}

bool ClsCache2::loadValidFile(const char* path, DataBuffer& file, LogBase& log) const {
  switch (ReadFileBounded(path, kMaxHeaderSize + kMaxEntryData, file, log)) {
    case BoundedRead::kMissing:
      return false;
    case BoundedRead::kFailed:
      LogWithFile(log, "Failed to load cache file", path);
      return false;
    case BoundedRead::kTooLarge:
      LogWithFile(log, "Not a valid cache file.", path);
      return false;
    case BoundedRead::kOk:
      break;
  }
  const uint8_t* bytes = file.data();
  const uint32_t size = file.length();
  const uint32_t headerSize = size >= 4 ? GetLe32(bytes) : 0;
  if (headerSize < kMinHeaderSize || headerSize > kMaxHeaderSize) {
    LogWithFile(log, "Invalid header size", path);
    return false;
  }
  if (headerSize < kFixedHeaderSize || headerSize > size ||
      GetLe16(bytes + kMarkOffset) != kFileMark) {
    LogWithFile(log, "Not a valid cache file.", path);
    return false;
  }
  // Files of another layout (those of older builds carry no entry length) are misses.
  const uint16_t version = GetLe16(bytes + kVersionOffset);
  if (version != kFileVersion) {
    LogWithFile(log, "Cache file layout version not supported.", path);
    log.addTagInt("version", version);
    return false;
  }
  // Every field the header claims must lie inside it.
  if (kHeaderOverhead + GetLe16(bytes + kEtagLengthOffset) != headerSize ||
      !std::isfinite(GetLeDouble(bytes + kExpiryOffset))) {
    LogWithFile(log, "Not a valid cache file.", path);
    return false;
  }
  return HoldsWholeEntry(file, path, log);
}

void ClsCache2::forgetLoaded() {
  loadedUrl_.clear();
  loadedEtag_.clear();
  loadedExpiry_ = 0;
}

bool ClsCache2::LoadEntry(const char* url, DataBuffer& entryData) {
  log_.reset();
  return LoadEntry(url, entryData, log_);
}

bool ClsCache2::LoadEntry(const char* url, DataBuffer& entryData, LogBase& log) {
  forgetLoaded();
  entryData.clear();
  StringBuffer path;
  DataBuffer file;
  if (!GetFilename(url, path, log) || !loadValidFile(path.getString(), file, log)) return false;
  const uint8_t* bytes = file.data();
  const uint32_t headerSize = GetLe32(bytes);
  if (!entryData.append(bytes + headerSize, file.length() - headerSize) ||
      !loadedUrl_.assign(url) ||
      !loadedEtag_.assign(reinterpret_cast<const char*>(bytes) + kFixedHeaderSize,
                          headerSize - kHeaderOverhead)) {
    forgetLoaded();
    entryData.clear();
    return false;
  }
  loadedExpiry_ = GetLeDouble(bytes + kExpiryOffset);
  return true;
}

bool ClsCache2::IsExpired() const { return IsExpiredAt(DayCountOrZero(LocalTimeNow())); }

bool ClsCache2::IsExpiredAt(double nowDayCount) const {
  return loadedExpiry_ != 0 && !loadedUrl_.isEmpty() && nowDayCount >= loadedExpiry_;
}

bool ClsCache2::UpdateExpiry(const char* url, const SystemTime& expiry) {
  log_.reset();
  return UpdateExpiry(url, expiry, log_);
}

bool ClsCache2::UpdateExpiry(const char* url, const SystemTime& expiry, LogBase& log) {
  StringBuffer path;
  if (!GetFilename(url, path, log)) return false;
  DataBuffer file;
  if (!loadValidFile(path.getString(), file, log)) {
    LogWithFile(log, "Failed to open file", path.getString());
    return false;
  }
  PutLeDouble(file.data() + kExpiryOffset, DayCountOrZero(expiry));
  if (!WriteFileAtomically(path.getString(), file.data(), file.length(), nullptr, 0, log)) {
    LogWithFile(log, "Failed to update cache file.", path.getString());
    return false;
  }
  return true;
}

bool ClsCache2::Exists(const char* url) const {
  LogNull quiet;
  StringBuffer path;
  return GetFilename(url, path, quiet) && fileExists(path.getString());
}

}  // namespace quillon
