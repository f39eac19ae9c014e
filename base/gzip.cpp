#include "base/gzip.h"

#include <zlib.h>

#include <algorithm>

#include "base/memory.h"

namespace quillon {

namespace {

constexpr uint32_t kGzipHeaderSize = 10;
constexpr uint32_t kGzipTrailerSize = 8;  // CRC32 and ISIZE
constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;

// ISIZE comes from the peer, so it only sizes the first reservation within these bounds; the
// buffer grows with the actual output after that.
constexpr uint32_t kIsizeSlack = 200;
constexpr uint64_t kMaxInitialReserve = 8u << 20;
// DEFLATE cannot expand by more than about 1032:1, so a larger ISIZE is a lie.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Output room handed to one inflate call, and the smallest step the output grows by.
constexpr uint32_t kInflateChunk = 1u << 20;
constexpr uint32_t kMinOutputGrowth = 64u << 10;

voidpf ZAlloc(voidpf, uInt items, uInt size) {
  return AllocBytes(static_cast<size_t>(items) * static_cast<size_t>(size));
}

void ZFree(voidpf, voidpf block) { FreeBytes(block); }

// Ends the inflater however the decoding loop is left.
class InflateStream {
 public:
  InflateStream() {
    stream_.zalloc = ZAlloc;
    stream_.zfree = ZFree;
    stream_.opaque = Z_NULL;
  }
  ~InflateStream() {
    if (initialised_) inflateEnd(&stream_);
  }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  bool initRaw() {
    initialised_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    return initialised_;
  }
  z_stream& get() { return stream_; }

 private:
  z_stream stream_{};
  bool initialised_ = false;
};

uint32_t ReadLe16(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }

uint32_t ReadLe32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Makes room for more output: half the current capacity (at least kMinOutputGrowth), never more
// than the limit allows. False when memory runs out or the size would pass 32 bits.
bool GrowOutput(DataBuffer& out, uint64_t roomAllowed) {
  uint64_t capacity = out.capacity();
  uint64_t step = std::max<uint64_t>(capacity / 2, kMinOutputGrowth);
  step = std::min(step, roomAllowed);
  uint64_t wanted = std::min<uint64_t>(capacity + step, UINT32_MAX);
  if (wanted <= out.length()) return false;
  return out.reserve(static_cast<uint32_t>(wanted));
}

}  // namespace

bool InflateRaw(const uint8_t* in, uint32_t n, DataBuffer* out, uint64_t maxOutput, LogBase& log) {
  if (out == nullptr) {
    log.addError("No output object");
    return false;
  }
  if (in == nullptr || n == 0) {
    log.addError("No input data");
    return false;
  }

  // A DataBuffer holds at most 4 GiB anyway, so a larger limit is none.
  if (maxOutput >= UINT32_MAX) maxOutput = kNoOutputLimit;

  InflateStream inflater;
  if (!inflater.initRaw()) {
    log.addError("Failed to initialize the raw inflater");
    return false;
  }
  // Never write into memory the buffer only borrows.
  if (out->isBorrowed() && !out->reserve(out->capacity())) {
    log.addError("Out of memory for uncompressed data");
    return false;
  }
  z_stream& zs = inflater.get();
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = n;

  const bool limited = maxOutput != kNoOutputLimit;
  uint64_t produced = 0;
  for (;;) {
    // With a limit, at most one byte past it is ever decoded: that byte proves the overrun.
    uint64_t roomAllowed = limited ? maxOutput + 1 - produced : UINT64_MAX;
    if (out->capacity() == out->length() && !GrowOutput(*out, roomAllowed)) {
      log.addError("Out of memory for uncompressed data");
      log.addTagInt64("uncompressedSoFar", static_cast<int64_t>(produced));
      return false;
    }
    uint32_t room = std::min(out->capacity() - out->length(), kInflateChunk);
    room = static_cast<uint32_t>(std::min<uint64_t>(room, roomAllowed));
    zs.next_out = out->data() + out->length();
    zs.avail_out = room;
    int rc = inflate(&zs, Z_NO_FLUSH);
    uint32_t got = room - zs.avail_out;
    out->setLength(out->length() + got);
    produced += got;

    if (limited && produced > maxOutput) {
      log.addError("Uncompressed data exceeds the maximum allowed size");
      log.addTagInt64("maxUncompressedSize", static_cast<int64_t>(maxOutput));
      return false;
    }
    if (rc == Z_STREAM_END) return true;  // bytes after the end of the stream are ignored
    bool inputExhausted = zs.avail_in == 0 && zs.avail_out > 0;
    if (rc == Z_BUF_ERROR || (rc == Z_OK && inputExhausted)) {
      // The input ran out before the final block: a truncated body is no success.
      if (produced == 0) {
        log.addError("Inflating produced no output");
      } else {
        log.addError("Compressed data ends before the end of the deflate stream");
        log.addTagInt64("uncompressedSoFar", static_cast<int64_t>(produced));
      }
      return false;
    }
    if (rc != Z_OK) {
      log.addError("Failed to inflate data");
      log.addTagInt("zlibCode", rc);
      if (zs.msg != nullptr) log.addTag("zlibError", zs.msg);
      return false;
    }
  }
}

bool Gzip::uncompress(const DataBuffer& in, DataBuffer& out, LogBase& log) {
  return uncompress(in, out, kNoOutputLimit, log);
}

bool Gzip::uncompress(const DataBuffer& in, DataBuffer& out, uint64_t maxOutput, LogBase& log) {
  if (&in == &out) {  // clearing out would lose the input
    DataBuffer copy(in);
    return uncompress(copy, out, maxOutput, log);
  }
  out.clear();
  const uint8_t* d = in.data();
  const uint32_t len = in.length();
  if (len < kGzipHeaderSize) {
    log.addError("Gzip data too small");
    return false;
  }
  if (d[0] != 0x1F || d[1] != 0x8B) {
    log.addError("Invalid GZip ID");
    return false;
  }
  if (d[2] != 8) {
    log.addError("Invalid GZip compression method");
    return false;
  }

  // Each optional field must leave at least one byte after it.
  const uint8_t flags = d[3];
  const uint64_t last = len - 1;
  uint64_t p = kGzipHeaderSize;
  bool overrun = false;
  if (flags & kFlagExtra) {
    if (last < 12) {
      overrun = true;
    } else {
      p = 12 + ReadLe16(d + 10);
      overrun = p > last;
    }
  }
  for (uint8_t zeroTerminated : {kFlagName, kFlagComment}) {
    if (overrun || !(flags & zeroTerminated)) continue;
    for (;;) {
      if (p > last) {
        overrun = true;
        break;
      }
      if (d[p++] == 0) {
        overrun = p > last;
        break;
      }
    }
  }
  if (!overrun && (flags & kFlagHeaderCrc)) {
    p += 2;  // the header CRC16 is not verified
    overrun = p > last;
  }
  if (overrun) {
    log.addError("Buffer would have been overrun");
    return false;
  }

  const uint32_t remaining = static_cast<uint32_t>(len - p);
  if (remaining < kGzipTrailerSize) {
    log.addError("Not enough data for trailing CRC32 or ISIZE");
    return false;
  }
  if (remaining == kGzipTrailerSize) return true;

  const uint32_t compressedSize = remaining - kGzipTrailerSize;
  const uint32_t isize = ReadLe32(d + len - 4);
  log.addTagInt64("CompressedSize", compressedSize);
  log.addTagInt64("UncompressedSize", isize);

  uint64_t reserve = std::min<uint64_t>(uint64_t{isize} + kIsizeSlack, kMaxInitialReserve);
  reserve = std::min(reserve, uint64_t{compressedSize} * kMaxDeflateRatio + kIsizeSlack);
  if (maxOutput != kNoOutputLimit && maxOutput < UINT32_MAX) {
    reserve = std::min(reserve, maxOutput + 1);
  }
  if (!out.reserve(static_cast<uint32_t>(reserve))) {
    log.addError("Out of memory for uncompressed data");
    return false;
  }
  return InflateRaw(d + p, compressedSize, &out, maxOutput, log);
}

}  // namespace quillon
