// File helpers shared by the two cache stores: little-endian fields, reading a file with a size
// limit, and replacing a file atomically (a temporary file in the same folder renamed over it),
// so that a crash or a second writer never leaves a half-written cache file under its real name.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/file_access.h"
#include "base/string_buffer.h"

namespace quillon {

class LogBase;

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// A 64-bit IEEE double, little-endian.
double GetLeDouble(const uint8_t* p);
void PutLeDouble(uint8_t* p, double v);

// CRC-32 of the zip format.
uint32_t Crc32(const void* bytes, uint32_t length);

// Makes room for `needed` bytes, doubling the capacity (up to ceiling) so that a buffer filled
// piece by piece is copied only a few times. False when memory runs out.
bool ReserveDoubling(DataBuffer& buffer, uint32_t needed, uint32_t ceiling);

enum class BoundedRead { kOk, kMissing, kTooLarge, kFailed };

// Reads the whole file into out (replaced) when it holds at most maxBytes. kMissing when it does
// not exist (nothing logged), kTooLarge when it is longer (out emptied), kFailed when it exists
// but cannot be opened or read (the file functions' lines in log).
BoundedRead ReadFileBounded(const char* path, uint32_t maxBytes, DataBuffer& out, LogBase& log);

// Writes a file under a temporary name in the target's folder (created when missing) and renames
// it over path on commit(); a writer destroyed without a successful commit deletes its
// temporary file, so path keeps its old content (or stays missing).
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();

  // Creates the folders and the temporary file; false with the story in log.
  bool begin(const char* path, LogBase& log);
  // Appends bytes; false (errno text in log) when the file system refuses them.
  bool write(const void* bytes, uint32_t length, LogBase& log);
  // Overwrites bytes already written at position.
  bool patch(uint64_t position, const void* bytes, uint32_t length, LogBase& log);
  // Closes the temporary file and renames it over the target; false with the story in log.
  bool commit(LogBase& log);

 private:
  void discard();

  UniqueFd handle_;
  StringBuffer target_;
  StringBuffer temp_;
  uint64_t size_ = 0;
};

// Writes the parts one after the other as the new content of path, atomically.
bool WriteFileAtomically(const char* path, const void* first, uint32_t firstLength,
                         const void* second, uint32_t secondLength, LogBase& log);

}  // namespace quillon
