// Bytes with a length and a capacity; may borrow memory that belongs to someone else, which it
// never frees. Growth is at least 20,000 bytes a step (network reads) and overflow-checked: a
// size past 32 bits is an out-of-memory failure. A failed reallocation empties the buffer.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/quillon_object.h"

namespace quillon {

class LogBase;

class DataBuffer : public QuillonObject {
 public:
  static constexpr uint8_t kMarker = 0xDB;
  static constexpr uint32_t kGrowthStep = 20000;

  DataBuffer();
  DataBuffer(const void* bytes, uint32_t length);
  DataBuffer(const DataBuffer& other);
  DataBuffer& operator=(const DataBuffer& other);
  ~DataBuffer() override;

  // Inline: readers call these once per byte.
  const uint8_t* data() const {
    checkMarker();
    return data_;
  }
  uint8_t* data() {
    checkMarker();
    return data_;
  }
  uint32_t length() const {
    checkMarker();
    return length_;
  }
  uint32_t capacity() const;
  bool isBorrowed() const;
  bool isEmpty() const { return length() == 0; }
  std::string_view view() const;
  // The byte at index, or 0 when out of range.
  uint8_t byteAt(uint32_t index) const;

  // Appends; on a failed reallocation the buffer is emptied and false returned.
  bool append(const void* bytes, uint32_t length);
  bool append(std::string_view bytes);
  bool append(const DataBuffer& other);
  bool appendByte(uint8_t byte);
  // Appends a NUL-terminated UTF-16 text with its terminator (two zero bytes for null).
  bool appendWideText(const char16_t* text);

  void clear();  // length 0, memory kept
  // Makes the capacity at least `capacity` bytes (a borrowed buffer becomes an owned copy).
  bool reserve(uint32_t capacity);
  // Sets the length after bytes were written into the spare room; false past the capacity.
  bool setLength(uint32_t length);
  // Points at memory owned by someone else: length = capacity = size.
  void borrow(const void* bytes, uint32_t size);
  // Takes ownership of a block from AllocBytes.
  void takeOwnership(void* block, uint32_t length, uint32_t capacity);
  // Gives up the owned block (the caller frees it with FreeBytes); the buffer is left empty.
  // Null when the buffer is borrowed or holds no memory.
  void* releaseBlock(uint32_t& length, uint32_t& capacity);
  // Moves the content of other here; other is left empty.
  void moveFrom(DataBuffer& other);
  // Reverses the bytes of every whole 32-bit unit.
  void swapByteOrder32();
  bool equals(const DataBuffer& other) const;

  // Whole-file loaders (file access functions): the buffer is emptied first; 4 zero bytes follow
  // the data in memory, so loaded text is terminated. A file larger than maxBytes is refused
  // (logged) before any of it is read.
  bool loadFile(const char* path, LogBase& log, uint64_t maxBytes = UINT32_MAX);
  // Reads a file in the header format (4-byte little-endian total header length H, H - 4 header
  // bytes, then the body). log may be null.
  bool loadFileWithHeader(const char* path, DataBuffer& header, uint32_t maxHeaderLength,
                          LogBase* log);

  // The capacity after appending `extra` bytes to `length`, or false when it would pass 32 bits.
  static bool grownCapacity(uint32_t length, uint64_t extra, uint32_t& capacity);

 private:
  void checkMarker() const {
    if (marker_ != kMarker) MarkerDamaged();
  }
  [[noreturn]] static void MarkerDamaged();
  bool growFor(uint64_t extra);
  void release();

  uint8_t marker_ = kMarker;
  bool borrowed_ = false;
  uint8_t* data_ = nullptr;
  uint32_t length_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace quillon
