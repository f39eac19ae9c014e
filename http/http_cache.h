// The container cache store: URLs hashed into container files of ten entries each, every entry a
// record with bzip2-compressed head and body (bodies of .gif and .pdf URLs stored as they are),
// negative entries for URLs that failed, and the marks of host names that did not resolve
// ("dns://" keys). Entries never expire. A full container starts afresh, and Replace empties the
// container of the URL: other entries are lost by design.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/data_buffer.h"
#include "base/ext_ptr_array.h"
#include "base/string_buffer.h"

namespace quillon {

class LogBase;

// One entry as read back from a container.
struct CacheEntry {
  StringBuffer url;
  StringBuffer head;  // without its terminating zero
  DataBuffer body;
  bool negative = false;
  uint8_t kind = 0;           // kCompressedKind when the body is stored compressed
  uint8_t written[4] = {};    // low byte of (year + 48), month, day, hour (UTC)
  uint32_t validatorCrc = 0;  // CRC-32 of "Nothing"
  uint32_t bodyCrc = 0;
};

enum class CacheFind { kNone, kNegative, kPositive };

// Container layout (little-endian): capacity (4) = 10, count (4), ten slots of record offset (4)
// and URL CRC-32 (4); records from offset 88. Record: validator CRC (4), body CRC (4), negative
// flag (1), kind (1), 0, 0, written (4), written again or zeros when negative (4), URL length
// with its zero (4), compressed head length (4), stored body length (4), the URL and its zero,
// the bzip2 head (text and its zero), the body.
class HttpCache {
 public:
  static constexpr uint32_t kCapacity = 10;
  static constexpr uint32_t kDirectorySize = 8 + 8 * kCapacity;
  static constexpr uint32_t kRecordHeaderSize = 32;
  static constexpr uint32_t kFilesPerFolder = 1000;
  static constexpr uint8_t kCompressedKind = 2;
  static constexpr const char* kValidator = "Nothing";
  static constexpr const char* kDnsPrefix = "dns://";
  // Longest URL in a record, zero included; longer ones are not stored.
  static constexpr uint32_t kMaxUrlBytes = 64 * 1024;
  // Longest head text (zero included) stored or expanded: the response head limit.
  static constexpr uint32_t kMaxHeadBytes = 64 * 1024 + 1;
  // Default limit of a body, stored or expanded: it bounds what a bzip2 bomb can cost.
  static constexpr uint32_t kDefaultMaxBodyBytes = 64u * 1024 * 1024;

  HttpCache() = default;
  HttpCache(const HttpCache&) = delete;
  HttpCache& operator=(const HttpCache&) = delete;

  // Adds a folder; the MD5 of a URL picks one of the roots. An empty path is ignored (false).
  bool AddRoot(const char* path);
  bool hasRoots() const { return !roots_.isEmpty(); }
  int rootCount() const { return roots_.count(); }
  const char* rootAt(int i) const { return roots_.at<StringBuffer>(i)->getString(); }
  // Bodies longer than this are neither stored nor expanded.
  void setMaxBodyBytes(uint32_t bytes) { maxBodyBytes_ = bytes; }
  uint32_t maxBodyBytes() const { return maxBodyBytes_; }

  // The container of url: root, decimal digest byte 1, "/", byte 2, "/", the little-endian
  // number of bytes 3-6 modulo 1000, ".caf". False (path empty) without roots.
  bool FilePath(const char* url, StringBuffer& path) const;

  // Looks url up in its container: the first slot with the URL's CRC whose record holds the
  // URL. kPositive fills entry completely; kNegative fills all but head and body. A missing
  // container is kNone silently. Damage (any offset, count or length that does not fit, a bad
  // bzip2 stream, an expansion past the limits, a body CRC that does not match) logs "Not a
  // valid cache container."; a damaged record is passed over for a later one of the URL.
  CacheFind Find(const char* url, CacheEntry& entry, LogBase& log) const;

  // Whether url has an entry, positive or negative (its head and body are not expanded).
  bool Contains(const char* url, LogBase& log) const;

  // Stores url in its container: appended while the container has a free slot, otherwise (or
  // when it is missing or damaged) the container is written anew with this entry alone. The
  // file is replaced atomically. False with the story in log.
  bool Add(const char* url, std::string_view head, std::string_view body, bool negative,
           LogBase& log);
  // Writes url's container anew with this entry alone.
  bool Replace(const char* url, std::string_view head, std::string_view body, bool negative,
               LogBase& log);

  // Host-name failure marks, kept as entries "dns://" + lower-cased host with empty content and
  // the negative flag as the mark. IsDnsMarkedInvalid: whether an entry exists; invalid = its
  // flag.
  bool IsDnsMarkedInvalid(const char* host, bool& invalid, LogBase& log) const;
  // Stores the host as failed unless it is already stored as valid.
  bool MarkDnsInvalid(const char* host, LogBase& log);
  // Clears the mark of a host stored as failed; otherwise nothing changes.
  bool MarkDnsValid(const char* host, LogBase& log);

  // Whether a URL's body is stored as it is (".gif" or ".pdf" anywhere, any case).
  static bool StoresBodyRaw(const char* url);

 private:
  CacheFind locate(const char* url, bool wantContent, CacheEntry& entry, LogBase& log) const;
  bool write(const char* url, std::string_view head, std::string_view body, bool negative,
             bool keepOthers, LogBase& log);

  OwningPtrArray roots_;
  uint32_t maxBodyBytes_ = kDefaultMaxBodyBytes;
};

}  // namespace quillon
