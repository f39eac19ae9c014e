// The body sink that socket reads write into. Only the write is abstract here; the memory and
// file sinks of the HTTP layer derive from it and add what they need (positions, size, name).
#pragma once

#include <cstdint>

namespace quillon {

class LogBase;

class Output {
 public:
  // Writes larger than this are cut into pieces by writeBytes64.
  static constexpr uint32_t kMaxWritePiece = 0x40000000;

  virtual ~Output() = default;

  // Appends length bytes at the sink's position; false (with the story in log) when they could
  // not all be written.
  virtual bool writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) = 0;

  // The same for a 64-bit count, forwarded to writeBytes in pieces.
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
