#include "base/parse_engine.h"

#include <cstring>

#include "base/memory.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon {

namespace {

struct FoldTable {
  unsigned char upper[256];
  constexpr FoldTable() : upper() {
    for (int i = 0; i < 256; ++i) {
      upper[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 32 : i);
    }
  }
};
constexpr FoldTable kFold;

bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

bool EqualsNoCase(const unsigned char* a, const unsigned char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (kFold.upper[a[i]] != kFold.upper[b[i]]) return false;
  }
  return true;
}

// A 256-entry membership table for the copy-until-any family: the bytes of set before its NUL,
// at most limit of them.
struct ByteSet {
  explicit ByteSet(const char* set, uint32_t limit = UINT32_MAX) {
    for (uint32_t i = 0; set && i < limit && set[i]; ++i) {
      member[static_cast<unsigned char>(set[i])] = true;
    }
  }
  bool has(char c) const { return member[static_cast<unsigned char>(c)]; }

  bool member[256] = {};
};

// The offset of the first byte of stops at or after from, or text's size. With unescapedOnly, a
// stop right after a backslash does not count.
uint32_t FirstStop(std::string_view text, uint32_t from, const ByteSet& stops, bool unescapedOnly) {
  uint32_t end = from;
  while (end < text.size() &&
         !(stops.has(text[end]) && (!unescapedOnly || end == 0 || text[end - 1] != '\\'))) {
    ++end;
  }
  return end;
}

const char* FindNoCaseRange(const char* text, size_t textLength, const char* pattern,
                            size_t patternLength) {
  if (patternLength == 0 || patternLength > textLength) return nullptr;
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  const auto* p = reinterpret_cast<const unsigned char*>(pattern);
  const size_t lastStart = textLength - patternLength;
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen start positions at a time: a candidate needs the pattern's first byte at the start
  // and its last byte at the end (both case-folded) before the whole pattern is compared. For a
  // letter, (x | 0x20) equals its lower case only for x in its two cases, so one OR and one
  // compare test both cases; other bytes are compared exactly.
  const unsigned char first = p[0];
  const unsigned char last = p[patternLength - 1];
  const char firstFold = IsAsciiLetter(first) ? 0x20 : 0;
  const char lastFold = IsAsciiLetter(last) ? 0x20 : 0;
  const __m128i firstOr = _mm_set1_epi8(firstFold);
  const __m128i firstWant = _mm_set1_epi8(static_cast<char>(first | firstFold));
  const __m128i lastOr = _mm_set1_epi8(lastFold);
  const __m128i lastWant = _mm_set1_epi8(static_cast<char>(last | lastFold));
  for (; i + 16 <= lastStart + 1; i += 16) {
    __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + patternLength - 1));
    __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(head, firstOr), firstWant),
                                 _mm_cmpeq_epi8(_mm_or_si128(tail, lastOr), lastWant));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
    while (mask != 0) {
      size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (EqualsNoCase(t + at, p, patternLength)) return text + at;
      mask &= mask - 1;
    }
  }
#endif
  const unsigned char firstUpper = kFold.upper[p[0]];
  for (; i <= lastStart; ++i) {
    if (kFold.upper[t[i]] == firstUpper && EqualsNoCase(t + i, p, patternLength)) return text + i;
  }
  return nullptr;
}

}  // namespace

const char* FindNoCase(const char* text, const char* pattern) {
  if (!text || !pattern) return nullptr;
  return FindNoCaseRange(text, std::strlen(text), pattern, std::strlen(pattern));
}

const char* FindNoCase(std::string_view text, std::string_view pattern) {
  return FindNoCaseRange(text.data(), text.size(), pattern.data(), pattern.size());
}

bool ParseEngine::load(std::string_view text) {
  position_ = 0;
  forgetQuotedStops();
  std::string_view current = text_.view();
  if (!text.empty() && text.data() >= current.data() &&
      text.data() < current.data() + current.size()) {
    // Loading a piece of our own text: copy it out before the buffer is reused.
    StringBuffer piece(text);
    if (piece.length() != text.size()) {
      text_.clear();
      outOfMemory_ = true;
      return false;
    }
    return load(piece.view());
  }
  text_.clear();
  if (!text_.append(text)) {
    outOfMemory_ = true;
    return false;
  }
  return true;
}

bool ParseEngine::append(std::string_view text) {
  forgetQuotedStops();  // a c in the new text can end searches that found none
  if (text_.append(text)) return true;
  outOfMemory_ = true;
  return false;
}

void ParseEngine::setPosition(uint32_t position) {
  position_ = position < text_.length() ? position : text_.length();
}

void ParseEngine::step(uint32_t count) {
  uint64_t to = uint64_t{position_} + count;
  position_ = to < text_.length() ? static_cast<uint32_t>(to) : text_.length();
}

bool ParseEngine::seek(std::string_view pattern) {
  std::string_view all = text_.view();
  const char* at = FindNoCase(all.substr(position_), pattern);
  if (!at) return false;
  position_ = static_cast<uint32_t>(at - all.data());
  return true;
}

bool ParseEngine::seekPast(std::string_view pattern) {
  std::string_view all = text_.view();
  const char* at = FindNoCase(all.substr(position_), pattern);
  if (!at) return false;
  position_ = static_cast<uint32_t>(at - all.data() + pattern.size());
  return true;
}

bool ParseEngine::seekPastExact(std::string_view pattern) {
  if (pattern.empty()) return false;
  std::string_view all = text_.view();
  size_t at = all.find(pattern, position_);
  if (at == std::string_view::npos) return false;
  position_ = static_cast<uint32_t>(at + pattern.size());
  return true;
}

bool ParseEngine::copyThrough(std::string_view pattern, StringBuffer& out) {
  std::string_view all = text_.view();
  const char* at = FindNoCase(all.substr(position_), pattern);
  if (!at) return false;
  return copyTo(static_cast<uint32_t>(at - all.data() + pattern.size()), out);
}

void ParseEngine::skip(char c1, char c2, char c3, char c4) {
  std::string_view all = text_.view();
  while (position_ < all.size()) {
    char c = all[position_];
    if (c != c1 && c != c2 && c != c3 && c != c4) break;
    ++position_;
  }
}

void ParseEngine::skipTo(char c) {
  std::string_view all = text_.view();
  size_t at = all.find(c, position_);
  position_ = at == std::string_view::npos ? static_cast<uint32_t>(all.size())
                                           : static_cast<uint32_t>(at);
}

bool ParseEngine::advanceTo(char c, char stop) {
  std::string_view all = text_.view();
  for (; position_ < all.size(); ++position_) {
    if (all[position_] == c) return true;
    if (all[position_] == stop) return false;
  }
  return true;
}

bool ParseEngine::copyTo(uint32_t end, StringBuffer& out) {
  std::string_view all = text_.view();
  if (end > all.size()) end = static_cast<uint32_t>(all.size());
  if (end < position_) return true;
  if (!out.append(all.data() + position_, end - position_)) {
    outOfMemory_ = true;
    return false;
  }
  position_ = end;
  return true;
}

bool ParseEngine::copyUntil(char c, StringBuffer& out) {
  std::string_view all = text_.view();
  size_t at = all.find(c, position_);
  return copyTo(at == std::string_view::npos ? length() : static_cast<uint32_t>(at), out);
}

bool ParseEngine::copyUntilAny(const char* set, StringBuffer& out) {
  if (!set || !*set) return true;
  return copyTo(FirstStop(text_.view(), position_, ByteSet(set), false), out);
}

bool ParseEngine::copyUntilAnyUnescaped(const char* set, StringBuffer& out) {
  if (!set || !*set) return true;
  return copyTo(FirstStop(text_.view(), position_, ByteSet(set), true), out);
}

uint32_t ParseEngine::findQuoted(char c, bool strict) const {
  if (quoted_.stops && quoted_.c == c && quoted_.strict == strict && position_ >= quoted_.base &&
      position_ < length()) {
    return quoted_.stops[position_ - quoted_.base];
  }
  uint32_t stop = walkQuoted(c, strict);
  // A search that finds no c outside quotes walks to the end of the text, and on a page of
  // such tags every search would. Searches of one scan walk disjoint stretches unless they
  // rescan, so once the walks add up to more than the text, the stops of every later position
  // are worked out in one backward pass (a table of 4 bytes per byte of text, kept until the
  // text changes): the searches of a scan cost linear time together.
  quotedWalked_ += (stop < length() ? stop + 1 : stop) - position_;
  if (quotedWalked_ > length()) buildQuotedStops(c, strict);
  return stop;
}

uint32_t ParseEngine::walkQuoted(char c, bool strict) const {
  std::string_view all = text_.view();
  bool inQuote = false;
  char opener = 0;
  bool afterClose = false;  // the previous bytes were a closing quote and quotes after it
  for (uint32_t i = position_; i < all.size(); ++i) {
    char ch = all[i];
    if (ch == c && !inQuote) return i;
    if (ch != '"' && ch != '\'') {
      afterClose = false;
      continue;
    }
    if (!inQuote) {
      if (strict && afterClose) continue;  // stuck to the closing quote: plain text
      inQuote = true;
      opener = ch;
    } else if (ch == opener) {
      inQuote = false;
      afterClose = true;
    }
  }
  return static_cast<uint32_t>(all.size());
}

void ParseEngine::buildQuotedStops(char c, bool strict) const {
  quotedWalked_ = 0;
  quoted_ = QuotedStops();
  std::string_view all = text_.view();
  const auto end = static_cast<uint32_t>(all.size());
  if (position_ >= end) return;
  auto* stops = static_cast<uint32_t*>(AllocBytes(sizeof(uint32_t) * (end - position_)));
  if (!stops) return;  // the searches keep walking: slower, same answers
  quoted_.stops.reset(stops);
  quoted_.base = position_;
  quoted_.c = c;
  quoted_.strict = strict;
  // The walk's states: outside quotes, outside right after a closing quote (where the strict
  // rule reads quotes as text), inside double and inside single quotes. next[s] is where a
  // walk entering the following position in state s stops.
  enum { kOutside, kAfterClose, kInDouble, kInSingle };
  uint32_t next[4] = {end, end, end, end};
  for (uint32_t i = end; i-- > position_;) {
    const char ch = all[i];
    const bool quote = ch == '"' || ch == '\'';
    const uint32_t outside = ch == c    ? i
                             : ch == '"'  ? next[kInDouble]
                             : ch == '\'' ? next[kInSingle]
                                          : next[kOutside];
    const uint32_t afterClose = !strict || ch == c ? outside
                                : quote            ? next[kAfterClose]
                                                   : next[kOutside];
    next[kInDouble] = ch == '"' ? next[kAfterClose] : next[kInDouble];
    next[kInSingle] = ch == '\'' ? next[kAfterClose] : next[kInSingle];
    next[kOutside] = outside;
    next[kAfterClose] = afterClose;
    stops[i - position_] = outside;
  }
}

void ParseEngine::forgetQuotedStops() {
  quoted_ = QuotedStops();
  quotedWalked_ = 0;
}

void ParseEngine::FreeDeleter::operator()(uint32_t* block) const { FreeBytes(block); }

bool ParseEngine::copyUntilQuoted(char c, StringBuffer& out) {
  uint32_t end = findQuoted(c, false);
  // No c outside quotes before the end: an unclosed quote must not swallow the rest.
  if (end >= length()) return copyUntil(c, out);
  return copyTo(end, out);
}

bool ParseEngine::copyUntilQuotedStrict(char c, StringBuffer& out) {
  uint32_t end = findQuoted(c, true);
  if (end >= length()) return copyUntil(c, out);
  return copyTo(end, out);
}

bool ParseEngine::copyUntilOneOf(const char* chars, uint32_t n, StringBuffer& out) {
  return copyTo(FirstStop(text_.view(), position_, ByteSet(chars, n), false), out);
}

bool ParseEngine::copyBalanced(char open, char close, int depth, StringBuffer& out) {
  std::string_view all = text_.view();
  int64_t level = depth;
  for (uint32_t i = position_; i < all.size(); ++i) {
    if (all[i] == open) {
      ++level;
    } else if (all[i] == close) {
      --level;
    }
    if (level == 0) return copyTo(i + 1, out);
  }
  copyTo(length(), out);
  return false;
}

}  // namespace quillon
