// The one-file-per-URL cache store: each URL's response lives in a file named after the MD5 of
// the URL, with an expiry (day count, local time) and the ETag in a small header, so that stale
// entries can be revalidated. It stores and loads bytes only; which responses may be stored and
// how fresh they are is decided by the cache rules (http/cache_rules.h).
#pragma once

#include <cstdint>

#include "base/cls_base.h"
#include "base/data_buffer.h"
#include "base/ext_ptr_array.h"
#include "base/string_buffer.h"

namespace quillon {

struct SystemTime;

// File layout (little-endian): H (4) = 24 + n, kFileVersion (2), kFileMark (2), 0 (1), 0 (1),
// expiry as a day count (8, 0 when unknown), n (2), the ETag (n), the length L of the entry data
// (4); then the entry data: E (4) = 4 + length of the head text, the head text, the body. The file
// is exactly H + L bytes long, so a file cut off anywhere is refused. Version 1 files (H = 20 + n,
// no length) cannot tell a cut body from a whole one and are refused too: they are misses, and
// the next answer rewrites them.
class ClsCache2 : public ClsBase {
 public:
  static constexpr uint16_t kFileMark = 0x9AFE;
  static constexpr uint16_t kFileVersion = 2;
  // The part of the header before the ETag, and the length field after it.
  static constexpr uint32_t kFixedHeaderSize = 20;
  static constexpr uint32_t kLengthFieldSize = 4;
  // Headers outside [kMinHeaderSize, kMaxHeaderSize] are refused.
  static constexpr uint32_t kMinHeaderSize = 5;
  static constexpr uint32_t kMaxHeaderSize = 8000;
  // The largest entry data (head and body) stored or loaded: a hostile or damaged file cannot
  // claim more memory than this plus a header.
  static constexpr uint32_t kMaxEntryData = 64u * 1024 * 1024 + 128 * 1024;
  static constexpr int kMaxLevels = 2;

  ClsCache2() = default;

  // Adds a folder; the MD5 of a URL picks one of the roots. An empty path is ignored (false).
  bool AddRoot(const char* path);
  int rootCount() const { return roots_.count(); }
  const char* rootAt(int i) const { return roots_.at<StringBuffer>(i)->getString(); }
  // 0, 1 or 2 levels of sub-folders named after digest bytes; other values are refused.
  bool setLevels(int levels);
  int levels() const { return levels_; }

  // The file of url: root, the level folders, 32 upper-case hex digits of the MD5 and ".dat".
  // False (path empty) without roots. The public form resets the object's log.
  bool GetFilename(const char* url, StringBuffer& path);
  bool GetFilename(const char* url, StringBuffer& path, LogBase& log) const;

  // Writes url's file (replacing any old one atomically) from the expiry (local time; a year of
  // 0 is stored as 0), the ETag and the entry data. The public form resets the object's log.
  bool SaveToCache2(const char* url, const SystemTime& expiry, const char* etag,
                    const DataBuffer& entryData);
  bool SaveToCache2(const char* url, const SystemTime& expiry, const char* etag,
                    const DataBuffer& entryData, LogBase& log);

  // Reads url's file into entryData (everything after the header) and remembers its URL, ETag
  // and expiry. A missing, malformed, cut, oversized or older-version file fails (logged unless
  // it is missing) and forgets the remembered entry. The public form resets the object's log.
  bool LoadEntry(const char* url, DataBuffer& entryData);
  bool LoadEntry(const char* url, DataBuffer& entryData, LogBase& log);

  // Whether the entry loaded last has an expiry at or before now (local day count).
  bool IsExpired() const;
  bool IsExpiredAt(double nowDayCount) const;
  const StringBuffer& loadedUrl() const { return loadedUrl_; }
  const StringBuffer& loadedEtag() const { return loadedEtag_; }
  double loadedExpiry() const { return loadedExpiry_; }

  // Rewrites the expiry of url's existing, valid file (atomically). The public form resets the
  // object's log.
  bool UpdateExpiry(const char* url, const SystemTime& expiry);
  bool UpdateExpiry(const char* url, const SystemTime& expiry, LogBase& log);

  bool Exists(const char* url) const;

 private:
  static bool WriteFile(const char* path, const SystemTime& expiry, const char* etag,
                        const DataBuffer& entryData, LogBase& log);
  // Reads and checks a whole file: header size, mark, version, ETag length, expiry, size limit
  // and the entry data length it was written with.
  bool loadValidFile(const char* path, DataBuffer& file, LogBase& log) const;
  void forgetLoaded();

  OwningPtrArray roots_;
  int levels_ = 0;
  StringBuffer loadedUrl_;
  StringBuffer loadedEtag_;
  double loadedExpiry_ = 0;
};

// The day count of a calendar time, or 0 when it has none (year 0 or out of range).
double DayCountOrZero(const SystemTime& time);

}  // namespace quillon
