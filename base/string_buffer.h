// 8-bit text, always NUL-terminated, whose encoding (ANSI or UTF-8) its owner knows. Grows by
// a step that doubles up to 500,000 bytes; every operation checks an integrity marker first and
// ends the process when the object was destroyed or overwritten. Appends never throw: out of
// memory is a false result that leaves the text unchanged.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/quillon_object.h"

namespace quillon {

class DataBuffer;
class ExtPtrArray;

class StringBuffer : public QuillonObject {
 public:
  static constexpr uint8_t kMarker = 0xAA;
  static constexpr uint32_t kDefaultIncrement = 200;
  // The default constructor allocates this many bytes at once and grows by it.
  static constexpr uint32_t kDefaultConstructIncrement = 202;
  static constexpr uint32_t kMaxIncrement = 500000;
  // The step used after adopting a DataBuffer's memory.
  static constexpr uint32_t kAdoptedIncrement = 1024;

  struct Increment {
    uint32_t value;  // 0 means kDefaultIncrement
  };

  StringBuffer();
  explicit StringBuffer(const char* text);
  StringBuffer(const char* bytes, uint32_t length);
  explicit StringBuffer(std::string_view text);
  explicit StringBuffer(Increment increment);
  StringBuffer(const StringBuffer& other);
  StringBuffer& operator=(const StringBuffer& other);
  ~StringBuffer() override;

  // The text; never null, always NUL-terminated.
  const char* getString() const;
  std::string_view view() const;
  uint32_t length() const;
  uint32_t capacity() const;
  uint32_t increment() const;
  bool isEmpty() const { return length() == 0; }
  // The byte at index, or 0 when out of range.
  char charAt(uint32_t index) const;
  char lastChar() const;

  uint8_t flag() const { return flag_; }
  void setFlag(uint8_t flag) { flag_ = flag; }
  // From now on each growth adds at least half the length (not at most kMaxIncrement), so that
  // a text built by many appends costs linear time however long it gets.
  void growGeometrically() { geometric_ = true; }

  // Appends; false (text unchanged) when memory runs out. A null text does nothing.
  bool append(const char* text);
  bool append(const char* bytes, uint32_t length);
  bool append(std::string_view text);
  bool append(const StringBuffer& other);
  bool appendChar(char c);
  bool appendInt(int32_t value);
  bool appendInt64(int64_t value);
  bool appendUint32(uint32_t value);
  // Appends n copies of c.
  bool appendChars(char c, uint32_t count);

  void clear();  // length 0, capacity kept
  // Clear, then append; a text taken from this buffer itself (whole or a piece) is kept.
  bool assign(const char* text);
  bool assign(const char* bytes, uint32_t length);
  bool assign(std::string_view text);
  bool assign(const StringBuffer& other);
  bool prepend(const char* text);

  // Removes spaces, tabs, CR and LF at both ends.
  void trim();
  // Removes spaces and tabs at both ends.
  void trimBlanks();
  // ASCII letters; bytes 0xC0-0xDF get 0x20 added (lower), 0xE0-0xFF get 0x20 taken off (upper).
  void toLowerCase();
  void toUpperCase();
  // "&" "<" ">" and the double quote become entities, in that order.
  bool entityEscape();
  // Removes every CR, then turns every LF into CR LF.
  bool toCrlf();
  // Turns every CR LF into LF.
  void toLf();
  // Replaces every non-overlapping occurrence, left to right; returns the count (0 for an
  // empty pattern or when memory runs out, the text then unchanged).
  int replaceAll(const char* pattern, const char* replacement);
  // Replaces the first occurrence only; false when there was none.
  bool replaceFirst(const char* pattern, const char* replacement);
  void replaceChar(char from, char to);
  void removeChar(char c);
  // Keeps ASCII letters, digits, "!-.:_" and bytes of 0x80 and above.
  void keepTokenChars();
  // Tab, CR and LF become spaces, then each run of spaces becomes one.
  void collapseWhitespace();
  // Drops the last n bytes (all of them when n is larger than the length).
  void shorten(uint32_t n);
  // Deletes n bytes at pos when both lie inside the text.
  void removeRange(uint32_t pos, uint32_t n);

  bool equals(const char* text) const;
  bool equals(const StringBuffer& other) const;
  bool equalsIgnoreCase(const char* text) const;
  bool contains(const char* text) const;
  bool containsIgnoreCase(const char* text) const;
  bool beginsWith(const char* text) const;
  bool endsWith(const char* text) const;

  // Splits on one byte into new StringBuffers appended to out (see the .cpp for the quote and
  // backslash rules). Empty tokens are produced for adjacent separators and at the end.
  bool split(char separator, bool handleQuotes, bool handleBackslash, ExtPtrArray& out) const;
  // Pieces between occurrences of separator; empty pieces are skipped. maxPieces 0 = no limit;
  // when the limit is reached the last piece holds the rest of the text.
  bool splitOnString(const char* separator, uint32_t maxPieces, ExtPtrArray& out) const;

  // Appends the system's message text for an error code (0: the calling thread's last error),
  // trimmed.
  bool appendSystemErrorText(int code);

  // Converts the text from one code page to another; a 7-bit text converted from 437 to 1252,
  // 28591 or 65001 is left as it is.
  bool convertInPlace(int fromCodePage, int toCodePage);

  // Adopts the memory of a DataBuffer holding at least 2 bytes (its last byte, a zero, becomes
  // the terminator); the DataBuffer is left empty. False when it holds fewer than 2 bytes.
  bool takeDataBuffer(DataBuffer& data);

  // Reallocates to length + 1 when that frees at least 4 bytes.
  void shrink();

  // The capacity after growing to hold `extra` more bytes, or false when it would pass 32 bits.
  static bool grownCapacity(uint32_t length, uint32_t increment, uint64_t extra,
                            uint32_t& capacity);

 private:
  void checkMarker() const;
  bool ensureRoom(uint64_t extra);
  void releaseText();
  void setLength(uint32_t length);
  void initEmpty(uint32_t increment, uint32_t initialCapacity);
  // Removes the bytes for which isTrimmed holds from both ends.
  void trimWhere(bool (*isTrimmed)(char));

  uint8_t marker_ = kMarker;
  uint8_t flag_ = 0;
  bool geometric_ = false;
  char* text_;
  uint32_t capacity_;
  uint32_t length_;
  uint32_t increment_;
};

}  // namespace quillon
