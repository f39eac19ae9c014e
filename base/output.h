// The body sink that socket reads and HTTP responses write into. The memory and file sinks of
// the HTTP layer implement it; a sink that only consumes bytes (a benchmark's discarding sink)
// needs to implement just writeBytes.
#pragma once

#include <cstdint>

namespace quillon {

class DataBuffer;
class LogBase;
class StringBuffer;

class Output {
 public:
  // Writes larger than this are cut into pieces by writeBytes64.
  static constexpr uint32_t kMaxWritePiece = 0x40000000;

  virtual ~Output() = default;

  // Writes length bytes at the sink's position; false (with the story in log) when they could
  // not all be written.
  virtual bool writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) = 0;
  // Moves the write position to the current end.
  virtual void takeEndAsPosition() {}
  // Moves the write position; false (position unchanged) past the end.
  virtual bool seek(uint64_t) { return false; }
  virtual uint64_t size() const { return 0; }
  // Appends "memory" or the file name.
  virtual bool describe(StringBuffer&) const { return false; }
  // Empties the sink; the position goes back to 0.
  virtual bool clear(LogBase&) { return false; }
  // Appends the whole content to out. False when it does not fit or cannot be read.
  virtual bool copyTo(DataBuffer&, LogBase&) const { return false; }
  // The byte buffer behind the sink, or null (a file).
  virtual DataBuffer* dataBuffer() { return nullptr; }

  // The same as writeBytes for a 64-bit count, forwarded in pieces.
  bool writeBytes64(const uint8_t* bytes, uint64_t length, LogBase& log) {
    while (length > 0) {
      uint32_t piece = length > kMaxWritePiece ? kMaxWritePiece : static_cast<uint32_t>(length);
      if (!writeBytes(bytes, piece, log)) return false;
      bytes += piece;
      length -= piece;
    }
    return true;
  }
};

}  // namespace quillon
