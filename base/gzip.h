// Unwraps a gzip body (RFC 1952) held whole in memory: checks the container, skips its optional
// header fields and inflates the raw DEFLATE stream with zlib. No streaming; the trailer's CRC32
// and ISIZE are not verified, and only the first member of a multi-member file is decoded.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/log_base.h"

namespace quillon {

// Means "no limit" for the maxOutput parameters below.
inline constexpr uint64_t kNoOutputLimit = 0;

class Gzip {
 public:
  // Clears out, then decodes the gzip body in into it. False with an error line in the log when
  // the container is malformed or the data does not inflate; out is then to be discarded.
  // Logs data "CompressedSize" and "UncompressedSize" (the trailer's ISIZE) before inflating.
  // in and out may be the same buffer.
  static bool uncompress(const DataBuffer& in, DataBuffer& out, LogBase& log);
  // The same, failing ("Uncompressed data exceeds the maximum allowed size") as soon as more
  // than maxOutput bytes come out; memory stays near the limit. 0 means no limit.
  static bool uncompress(const DataBuffer& in, DataBuffer& out, uint64_t maxOutput, LogBase& log);
};

// Inflates n bytes of raw DEFLATE (no zlib header) and appends the result to *out. False when out
// is null, the input is empty, the stream is corrupt or ends early, more than maxOutput bytes
// (0 = no limit) would come out, or memory runs out; out then holds a partial result.
bool InflateRaw(const uint8_t* in, uint32_t n, DataBuffer* out, uint64_t maxOutput, LogBase& log);

}  // namespace quillon
