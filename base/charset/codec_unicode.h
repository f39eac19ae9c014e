// The algorithmic Unicode codecs behind EncodingConvert: UTF-8 (characters outside the BMP as
// surrogate pairs), UTF-16LE, UTF-32 and UTF-7 (RFC 2152), and the small plumbing they share
// (a unit sink fed block by block, a raw writer into a DataBuffer). Dispatch is not here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/data_buffer.h"

namespace quillon {

// The outcome of a whole-buffer codec step.
enum class CodecResult : uint8_t { kOk, kDropped, kOutOfMemory };

// Receives UTF-16 code units block by block from a decoder.
class UnitSink {
 public:
  virtual ~UnitSink() = default;
  // False when the sink cannot take more (out of memory); the producer stops.
  virtual bool put(const char16_t* units, size_t count) = 0;
};

// Writes into the spare room of a DataBuffer through a raw pointer, growing it geometrically.
class ByteWriter {
 public:
  explicit ByteWriter(DataBuffer& out) : out_(out) {}
  // Room for at least `count` more bytes after the current end; null when memory runs out
  // (then failed() is true).
  uint8_t* room(size_t count);
  // Sets the buffer's end after writing through the pointer from room().
  void commit(const uint8_t* end);
  bool append(const void* bytes, size_t count);
  bool failed() const { return failed_; }

 private:
  DataBuffer& out_;
  bool failed_ = false;
};

// Appends the units as UTF-16LE bytes.
class Utf16LeSink : public UnitSink {
 public:
  explicit Utf16LeSink(DataBuffer& out) : writer_(out) {}
  bool put(const char16_t* units, size_t count) override;
  bool failed() const { return writer_.failed(); }

 private:
  ByteWriter writer_;
};

// Encodes UTF-16 units as UTF-8. Unit 0 writes nothing; a surrogate pair becomes one 4-byte
// sequence; a lone surrogate is dropped and makes result() false.
class Utf8Encoder : public UnitSink {
 public:
  explicit Utf8Encoder(DataBuffer& out) : writer_(out) {}
  bool put(const char16_t* units, size_t count) override;
  // Drops a high surrogate left waiting at the end; false when anything was dropped.
  bool finish();
  bool outOfMemory() const { return writer_.failed(); }

 private:
  ByteWriter writer_;
  char16_t pendingHigh_ = 0;
  bool encoded_ = true;
};

// Feeds UTF-16LE bytes to a sink as units; an odd last byte is ignored (the caller decides).
bool FeedUtf16Le(const uint8_t* bytes, uint32_t length, UnitSink& sink);

// Decodes UTF-8 (RFC 3629 sequences of one to four bytes; four-byte ones as surrogate pairs).
// An invalid byte is skipped alone and counted in *invalid. False only when the sink failed.
bool DecodeUtf8(const uint8_t* bytes, uint32_t length, UnitSink& sink, uint32_t* invalid);

// UTF-32 (little- or big-endian) to UTF-8: values past 0x1FFFFF become U+FFFD; a trailing
// partial value is dropped.
CodecResult Utf32ToUtf8(const uint8_t* bytes, uint32_t length, bool bigEndian, DataBuffer& out);
// UTF-8 to UTF-32; stops (dropped) at a cut-off or ill-formed sequence.
CodecResult Utf8ToUtf32(const uint8_t* bytes, uint32_t length, bool bigEndian, DataBuffer& out);

// UTF-7 to UTF-16LE bytes; malformed parts are dropped.
CodecResult DecodeUtf7(const uint8_t* bytes, uint32_t length, DataBuffer& out);
// UTF-16LE bytes to UTF-7: a leading U+FEFF is dropped, letters, digits, '(),-./:? and
// blanks are written directly, "+" as "+-", everything else in "+...-" Base64 runs.
CodecResult EncodeUtf7(const uint8_t* bytes, uint32_t length, DataBuffer& out);

// Exchanges the bytes of every 16-bit pair (a trailing odd byte is dropped) or 32-bit group.
CodecResult SwapByteOrder(const uint8_t* bytes, uint32_t length, uint32_t width, DataBuffer& out);

}  // namespace quillon
