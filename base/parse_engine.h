// A forward cursor over a private copy of loosely structured text (HTML, XML, mail addresses):
// it seeks patterns and copies pieces into the caller's buffers without building a tree.
// FindNoCase is the library's one case-insensitive search: it folds ASCII letters only, never
// by locale. Positions are 32-bit; reads never pass the end of the copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

// The first occurrence of pattern in text with "a"-"z" equal to "A"-"Z" and every other byte
// compared exactly; null when absent, when the pattern is empty or when either is null.
const char* FindNoCase(const char* text, const char* pattern);
// The same over byte ranges that may hold NUL bytes; the result points into text.
const char* FindNoCase(std::string_view text, std::string_view pattern);
// Whether FindNoCase finds pattern in text (never for an empty pattern).
inline bool ContainsNoCase(std::string_view text, std::string_view pattern) {
  return FindNoCase(text, pattern) != nullptr;
}

class ParseEngine {
 public:
  ParseEngine() = default;
  ParseEngine(const ParseEngine&) = delete;
  ParseEngine& operator=(const ParseEngine&) = delete;
  virtual ~ParseEngine() = default;

  // Replaces the text with a copy of the given one; position 0. False when memory runs out
  // (the engine is then empty).
  bool load(std::string_view text);
  bool load(const StringBuffer& text) { return load(text.view()); }
  bool load(const char* bytes, uint32_t length) { return load(std::string_view(bytes, length)); }
  // Appends more text to the copy; the position stays.
  bool append(std::string_view text);

  std::string_view text() const { return text_.view(); }
  uint32_t length() const { return text_.length(); }
  uint32_t position() const { return position_; }
  // Sets the position directly; a position past the end is taken as the end.
  void setPosition(uint32_t position);
  bool atEnd() const { return position_ >= text_.length(); }
  // The byte at the position, or 0 at the end.
  char current() const { return text_.charAt(position_); }
  // Moves forward by count bytes, stopping at the end.
  void step(uint32_t count = 1);

  // Finds the pattern (ASCII case folded) from the position: the position moves to the start
  // of the match (seek) or just after it (seekPast). Not found: false, position unchanged.
  bool seek(std::string_view pattern);
  bool seekPast(std::string_view pattern);
  // seekPast with exact, case-sensitive matching.
  bool seekPastExact(std::string_view pattern);
  // Finds the pattern and copies from the position through the end of the match into out; the
  // position moves after the match. Not found (or out of memory): false, nothing changed.
  bool copyThrough(std::string_view pattern, StringBuffer& out);

  // Moves over any run of the four bytes (repeat one to use fewer).
  void skip(char c1, char c2, char c3, char c4);
  // Moves to the next c at or after the position, or to the end.
  void skipTo(char c);
  // Moves to the next c; false with the position on the stop byte when that comes first,
  // true otherwise (also when the end is reached).
  bool advanceTo(char c, char stop);

  // The copies below append to out and leave the position on the byte that ended them (or at
  // the end). They return false only when memory runs out; out and position are then as before.

  // Up to the next c or the end.
  bool copyUntil(char c, StringBuffer& out);
  // Up to the first byte that is in the NUL-terminated set; an empty set copies nothing.
  bool copyUntilAny(const char* set, StringBuffer& out);
  // As copyUntilAny, but a set byte right after a backslash does not stop the copy.
  bool copyUntilAnyUnescaped(const char* set, StringBuffer& out);
  // Up to the next c outside quoted sections: a double or single quote opens a section that
  // the same quote closes. Without such a c before the end the quotes are ignored (copyUntil).
  bool copyUntilQuoted(char c, StringBuffer& out);
  // The same, but a quote directly after the quote that closed a section (or after a run of
  // such quotes) is plain text.
  bool copyUntilQuotedStrict(char c, StringBuffer& out);
  // Up to the first byte equal to one of the first n bytes of chars (callers use n = 2, 5, 7).
  bool copyUntilOneOf(const char* chars, uint32_t n, StringBuffer& out);
  // Copies bytes, counting depth up at open and down at close (checked after each byte), until
  // depth is 0 or the end; the byte that brings it to 0 is copied and passed. True when depth
  // came to 0; false at the end of the text (what was walked is copied) or out of memory.
  bool copyBalanced(char open, char close, int depth, StringBuffer& out);

  // Copies from the position up to index end (exclusive; the end of the text when past it,
  // nothing when before the position).
  bool copyTo(uint32_t end, StringBuffer& out);

  // The index of the next c outside quoted sections as copyUntilQuoted sees them, or length()
  // when there is none. The position does not move. Searches that keep walking over the same
  // text are answered from a table (see the .cpp), so a scan's searches take linear time.
  uint32_t findQuoted(char c, bool strict) const;

  // True once a load or a copy has run out of memory (copyThrough's false alone cannot say).
  bool outOfMemory() const { return outOfMemory_; }

 private:
  struct FreeDeleter {
    void operator()(uint32_t* block) const;
  };
  // Where a quoted search for c would stop from each position from base on; none when empty.
  struct QuotedStops {
    std::unique_ptr<uint32_t[], FreeDeleter> stops;
    uint32_t base = 0;
    char c = 0;
    bool strict = false;
  };

  uint32_t walkQuoted(char c, bool strict) const;
  void buildQuotedStops(char c, bool strict) const;
  void forgetQuotedStops();

  StringBuffer text_;
  uint32_t position_ = 0;
  bool outOfMemory_ = false;
  // A memo of the searches, not part of the engine's value: rebuilt from the text on demand.
  mutable QuotedStops quoted_;
  mutable uint64_t quotedWalked_ = 0;  // bytes walked by quoted searches since the last table
};

}  // namespace quillon
