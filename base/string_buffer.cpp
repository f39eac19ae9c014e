#include "base/string_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ascii.h"
#include "base/charset/text_conversion.h"
#include "base/data_buffer.h"
#include "base/ext_ptr_array.h"
#include "base/memory.h"
#include "base/parse_engine.h"
#include "base/platform.h"

namespace quillon {

namespace {

// The text of a buffer whose construction ran out of memory; never freed, never written.
char g_emptyText[1] = {0};

constexpr uint8_t kDestroyedFill = 0xDD;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool StringBuffer::grownCapacity(uint32_t length, uint32_t increment, uint64_t extra,
                                 uint32_t& capacity) {
  // L + increment + n + 1, computed in 64 bits so that nothing wraps.
  uint64_t wanted = uint64_t{length} + increment + extra + 1;
  if (extra > UINT32_MAX || wanted > UINT32_MAX) return false;
  capacity = static_cast<uint32_t>(wanted);
  return true;
}

void StringBuffer::initEmpty(uint32_t increment, uint32_t initialCapacity) {
  increment_ = increment == 0 ? kDefaultIncrement : increment;
  length_ = 0;
  text_ = initialCapacity ? static_cast<char*>(AllocBytes(initialCapacity)) : nullptr;
  if (text_) {
    capacity_ = initialCapacity;
    text_[0] = 0;
  } else {
    text_ = g_emptyText;
    capacity_ = 1;
  }
}

StringBuffer::StringBuffer() { initEmpty(kDefaultConstructIncrement, kDefaultConstructIncrement); }

StringBuffer::StringBuffer(const char* text) {
  initEmpty(kDefaultIncrement, 0);
  append(text);
}

StringBuffer::StringBuffer(const char* bytes, uint32_t length) {
  initEmpty(kDefaultIncrement, 0);
  append(bytes, length);
}

StringBuffer::StringBuffer(std::string_view text) {
  initEmpty(kDefaultIncrement, 0);
  append(text);
}

StringBuffer::StringBuffer(Increment increment) { initEmpty(increment.value, 0); }

StringBuffer::StringBuffer(const StringBuffer& other) : QuillonObject(other) {
  other.checkMarker();
  initEmpty(kDefaultIncrement, 0);
  flag_ = other.flag_;
  append(other.text_, other.length_);
}

StringBuffer& StringBuffer::operator=(const StringBuffer& other) {
  if (this != &other) assign(other);
  return *this;
}

StringBuffer::~StringBuffer() {
  checkMarker();
  releaseText();
  // Overwrite every field so that a use after destruction trips the marker check. The marker
  // is written through a volatile lvalue: stores into an object that is ending its life are
  // otherwise dead to the optimiser and dropped.
  *static_cast<volatile uint8_t*>(&marker_) = kDestroyedFill;
  flag_ = kDestroyedFill;
  text_ = nullptr;
  capacity_ = 0xDDDDDDDD;
  length_ = 0xDDDDDDDD;
  increment_ = 0xDDDDDDDD;
}

void StringBuffer::checkMarker() const {
  if (marker_ != kMarker) {
    std::fputs("StringBuffer: integrity marker damaged (object destroyed or overwritten)\n",
               stderr);
    std::abort();
  }
}

void StringBuffer::releaseText() {
  if (text_ != g_emptyText) FreeBytes(text_);
  text_ = g_emptyText;
  capacity_ = 1;
  length_ = 0;
}

void StringBuffer::setLength(uint32_t length) {
  length_ = length;
  if (text_ != g_emptyText) text_[length_] = 0;  // the shared empty text is never written
}

const char* StringBuffer::getString() const {
  checkMarker();
  return text_;
}

std::string_view StringBuffer::view() const {
  checkMarker();
  return std::string_view(text_, length_);
}

uint32_t StringBuffer::length() const {
  checkMarker();
  return length_;
}

uint32_t StringBuffer::capacity() const {
  checkMarker();
  return capacity_;
}

uint32_t StringBuffer::increment() const {
  checkMarker();
  return increment_;
}

char StringBuffer::charAt(uint32_t index) const {
  checkMarker();
  return index < length_ ? text_[index] : 0;
}

char StringBuffer::lastChar() const {
  checkMarker();
  return length_ ? text_[length_ - 1] : 0;
}

bool StringBuffer::ensureRoom(uint64_t extra) {
  if (uint64_t{length_} + extra < capacity_) return true;
  uint32_t newCapacity = 0;
  const uint32_t increment = geometric_ && length_ / 2 > increment_ ? length_ / 2 : increment_;
  if (!grownCapacity(length_, increment, extra, newCapacity) &&
      !grownCapacity(length_, increment_, extra, newCapacity)) {
    return false;
  }
  char* block = static_cast<char*>(AllocBytes(newCapacity));
  if (!block) return false;
  std::memcpy(block, text_, length_ + 1);
  if (text_ != g_emptyText) FreeBytes(text_);
  text_ = block;
  capacity_ = newCapacity;
  if (increment_ < newCapacity && increment_ < kMaxIncrement) {
    increment_ = newCapacity / 2 < kMaxIncrement ? newCapacity / 2 : kMaxIncrement;
  }
  return true;
}

bool StringBuffer::append(const char* text) {
  if (!text) {
    checkMarker();
    return true;
  }
  return append(text, static_cast<uint32_t>(std::strlen(text)));
}

bool StringBuffer::append(const char* bytes, uint32_t length) {
  checkMarker();
  if (!bytes || length == 0) return true;
  // The bytes may lie inside this buffer; remember their offset across a reallocation.
  bool inside = bytes >= text_ && bytes < text_ + capacity_;
  size_t offset = inside ? static_cast<size_t>(bytes - text_) : 0;
  if (!ensureRoom(length)) return false;
  if (inside) bytes = text_ + offset;
  std::memmove(text_ + length_, bytes, length);
  length_ += length;
  text_[length_] = 0;
  return true;
}

bool StringBuffer::append(std::string_view text) {
  if (text.size() > UINT32_MAX) return false;
  return append(text.data(), static_cast<uint32_t>(text.size()));
}

bool StringBuffer::append(const StringBuffer& other) {
  other.checkMarker();
  return append(other.text_, other.length_);
}

bool StringBuffer::appendChar(char c) {
  checkMarker();
  if (!ensureRoom(1)) return false;
  text_[length_++] = c;
  text_[length_] = 0;
  return true;
}

bool StringBuffer::appendChars(char c, uint32_t count) {
  checkMarker();
  if (count == 0) return true;
  if (!ensureRoom(count)) return false;
  std::memset(text_ + length_, c, count);
  length_ += count;
  text_[length_] = 0;
  return true;
}

bool StringBuffer::appendInt(int32_t value) { return appendInt64(value); }

bool StringBuffer::appendInt64(int64_t value) {
  char digits[24];
  int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
  return append(digits, static_cast<uint32_t>(n));
}

bool StringBuffer::appendUint32(uint32_t value) {
  char digits[16];
  int n = std::snprintf(digits, sizeof digits, "%u", value);
  return append(digits, static_cast<uint32_t>(n));
}

void StringBuffer::clear() {
  checkMarker();
  setLength(0);
}

bool StringBuffer::assign(const char* text) {
  if (!text) {
    clear();
    return true;
  }
  return assign(text, static_cast<uint32_t>(std::strlen(text)));
}

bool StringBuffer::assign(const char* bytes, uint32_t length) {
  checkMarker();
  if (bytes && bytes >= text_ && bytes < text_ + capacity_ &&
      length < capacity_ - static_cast<size_t>(bytes - text_)) {
    // A piece of this buffer's own text: clearing first would lose it, so move it to the front.
    std::memmove(text_, bytes, length);
    setLength(length);
    return true;
  }
  clear();
  return append(bytes, length);
}

bool StringBuffer::assign(std::string_view text) {
  if (text.size() > UINT32_MAX) {
    clear();
    return false;
  }
  return assign(text.data(), static_cast<uint32_t>(text.size()));
}

bool StringBuffer::assign(const StringBuffer& other) {
  if (this == &other) return true;
  clear();
  return append(other);
}

bool StringBuffer::prepend(const char* text) {
  checkMarker();
  if (!text || !*text) return true;
  StringBuffer joined(text);
  if (!joined.append(text_, length_)) return false;
  return assign(joined);
}

void StringBuffer::trim() { trimWhere(IsBlankOrLineEnd); }

void StringBuffer::trimBlanks() { trimWhere(IsBlank); }

void StringBuffer::trimWhere(bool (*isTrimmed)(char)) {
  checkMarker();
  uint32_t end = length_;
  while (end > 0 && isTrimmed(text_[end - 1])) --end;
  uint32_t start = 0;
  while (start < end && isTrimmed(text_[start])) ++start;
  if (end < length_) shorten(length_ - end);
  removeRange(0, start);
}

void StringBuffer::toLowerCase() {
  checkMarker();
  for (uint32_t i = 0; i < length_; ++i) {
    auto b = static_cast<uint8_t>(text_[i]);
    if (b >= 'A' && b <= 'Z') b += 32;
    else if (b >= 0xC0 && b <= 0xDF) b += 0x20;
    text_[i] = static_cast<char>(b);
  }
}

void StringBuffer::toUpperCase() {
  checkMarker();
  for (uint32_t i = 0; i < length_; ++i) {
    auto b = static_cast<uint8_t>(text_[i]);
    if (b >= 'a' && b <= 'z') b -= 32;
    else if (b >= 0xE0) b -= 0x20;
    text_[i] = static_cast<char>(b);
  }
}

bool StringBuffer::entityEscape() {
  // The ampersand goes first so that the entities inserted later are not escaped again.
  static constexpr const char* kPairs[][2] = {
      {"&", "&amp;"}, {"<", "&lt;"}, {">", "&gt;"}, {"\"", "&quot;"}};
  StringBuffer copy(*this);
  for (const auto& pair : kPairs) {
    if (replaceAll(pair[0], pair[1]) == 0 && contains(pair[0])) {
      assign(copy);  // out of memory half way: leave the text as it was
      return false;
    }
  }
  return true;
}

bool StringBuffer::toCrlf() {
  checkMarker();
  removeChar('\r');
  uint32_t lineFeeds = 0;
  for (uint32_t i = 0; i < length_; ++i) lineFeeds += text_[i] == '\n';
  if (lineFeeds == 0) return true;
  return replaceAll("\n", "\r\n") > 0;
}

void StringBuffer::toLf() {
  checkMarker();
  uint32_t out = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    if (text_[i] == '\r' && i + 1 < length_ && text_[i + 1] == '\n') continue;
    text_[out++] = text_[i];
  }
  setLength(out);
}

int StringBuffer::replaceAll(const char* pattern, const char* replacement) {
  checkMarker();
  if (!pattern || !*pattern) return 0;
  if (!replacement) replacement = "";
  std::string_view text = view();
  std::string_view needle(pattern);
  size_t first = text.find(needle);
  if (first == std::string_view::npos) return 0;

  // One allocation: build the result in a new buffer, then take it over.
  StringBuffer result(Increment{increment_});
  int count = 0;
  size_t from = 0;
  for (size_t at = first; at != std::string_view::npos; at = text.find(needle, from)) {
    if (!result.append(text.substr(from, at - from)) || !result.append(replacement)) return 0;
    from = at + needle.size();
    ++count;
  }
  if (!result.append(text.substr(from))) return 0;
  if (!assign(result)) return 0;
  return count;
}

bool StringBuffer::replaceFirst(const char* pattern, const char* replacement) {
  checkMarker();
  if (!pattern || !*pattern) return false;
  size_t at = view().find(pattern);
  if (at == std::string_view::npos) return false;
  StringBuffer result(text_, static_cast<uint32_t>(at));
  if (!result.append(replacement) ||
      !result.append(view().substr(at + std::strlen(pattern)))) {
    return false;
  }
  return assign(result);
}

void StringBuffer::replaceChar(char from, char to) {
  checkMarker();
  for (uint32_t i = 0; i < length_; ++i) {
    if (text_[i] == from) text_[i] = to;
  }
}

void StringBuffer::removeChar(char c) {
  checkMarker();
  uint32_t out = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    if (text_[i] != c) text_[out++] = text_[i];
  }
  setLength(out);
}

void StringBuffer::keepTokenChars() {
  checkMarker();
  uint32_t out = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    auto b = static_cast<uint8_t>(text_[i]);
    bool keep = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                b == '!' || b == '-' || b == '.' || b == ':' || b == '_' || b >= 0x80;
    if (keep) text_[out++] = text_[i];
  }
  setLength(out);
}

void StringBuffer::collapseWhitespace() {
  checkMarker();
  uint32_t out = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    char c = text_[i];
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    if (c == ' ' && out > 0 && text_[out - 1] == ' ') continue;
    text_[out++] = c;
  }
  setLength(out);
}

void StringBuffer::shorten(uint32_t n) {
  checkMarker();
  setLength(n >= length_ ? 0 : length_ - n);
}

void StringBuffer::removeRange(uint32_t pos, uint32_t n) {
  checkMarker();
  if (n == 0 || pos >= length_ || n > length_ - pos) return;
  std::memmove(text_ + pos, text_ + pos + n, length_ - pos - n + 1);
  length_ -= n;
}

bool StringBuffer::equals(const char* text) const {
  checkMarker();
  return text && view() == std::string_view(text);
}

bool StringBuffer::equals(const StringBuffer& other) const { return view() == other.view(); }

bool StringBuffer::equalsIgnoreCase(const char* text) const {
  checkMarker();
  if (!text) return false;
  std::string_view other(text);
  return EqualsNoCase(view(), other);
}

bool StringBuffer::contains(const char* text) const {
  checkMarker();
  return text && view().find(text) != std::string_view::npos;
}

bool StringBuffer::containsIgnoreCase(const char* text) const {
  checkMarker();
  return text && (*text == '\0' || FindNoCase(view(), text) != nullptr);
}

bool StringBuffer::beginsWith(const char* text) const {
  checkMarker();
  return text && view().starts_with(text);
}

bool StringBuffer::endsWith(const char* text) const {
  checkMarker();
  return text && view().ends_with(text);
}

bool StringBuffer::split(char separator, bool handleQuotes, bool handleBackslash,
                         ExtPtrArray& out) const {
  checkMarker();
  auto* token = new (std::nothrow) StringBuffer();
  if (!token) return false;
  bool inQuotes = false;
  for (uint32_t i = 0; i < length_; ++i) {
    char c = text_[i];
    if (handleBackslash && c == '\\' && i + 1 < length_) {
      // The escaped byte is copied and never acts as a separator or quote.
      token->appendChar(c);
      token->appendChar(text_[++i]);
      continue;
    }
    if (handleQuotes && c == '"') inQuotes = !inQuotes;
    if (c == separator && !inQuotes) {
      if (!out.append(token)) {
        delete token;
        return false;
      }
      token = new (std::nothrow) StringBuffer();
      if (!token) return false;
      continue;
    }
    token->appendChar(c);
  }
  if (!out.append(token)) {
    delete token;
    return false;
  }
  return true;
}

bool StringBuffer::splitOnString(const char* separator, uint32_t maxPieces,
                                 ExtPtrArray& out) const {
  checkMarker();
  if (!separator || !*separator) return false;
  std::string_view text = view();
  std::string_view sep(separator);
  uint32_t pieces = 0;
  size_t from = 0;
  while (from <= text.size()) {
    size_t at = text.find(sep, from);
    bool lastAllowed = maxPieces != 0 && pieces + 1 == maxPieces;
    if (at == std::string_view::npos || lastAllowed) at = text.size();
    if (at > from) {
      auto* piece = new (std::nothrow) StringBuffer(text.substr(from, at - from));
      if (!piece || !out.append(piece)) {
        delete piece;
        return false;
      }
      ++pieces;
    }
    if (at == text.size()) break;
    from = at + sep.size();
  }
  return true;
}

bool StringBuffer::appendSystemErrorText(int code) {
  StringBuffer message(SystemErrorText(code == 0 ? LastSystemError() : code));
  message.trim();
  return append(message);
}

bool StringBuffer::convertInPlace(int fromCodePage, int toCodePage) {
  checkMarker();
  if (fromCodePage == toCodePage || length_ == 0) return true;
  if (fromCodePage == kCodePageOem &&
      (toCodePage == 1252 || toCodePage == 28591 || toCodePage == kCodePageUtf8)) {
    bool sevenBit = true;
    for (uint32_t i = 0; i < length_ && sevenBit; ++i) {
      sevenBit = static_cast<uint8_t>(text_[i]) < 0x80;
    }
    if (sevenBit) return true;
  }
  DataBuffer converted;
  if (!ConvertCodePage(fromCodePage, toCodePage, text_, length_, converted)) return false;
  return assign(reinterpret_cast<const char*>(converted.data()), converted.length());
}

bool StringBuffer::takeDataBuffer(DataBuffer& data) {
  checkMarker();
  if (data.length() < 2 || data.isBorrowed()) return false;
  uint32_t length = 0;
  uint32_t capacity = 0;
  void* block = data.releaseBlock(length, capacity);
  if (!block) return false;
  releaseText();
  text_ = static_cast<char*>(block);
  length_ = length - 1;
  text_[length_] = 0;  // the last byte becomes the terminator
  capacity_ = capacity;
  increment_ = kAdoptedIncrement;
  return true;
}

void StringBuffer::shrink() {
  checkMarker();
  if (text_ == g_emptyText || capacity_ < length_ + 1 + 4) return;
  void* block = ReallocBytes(text_, length_ + 1);
  if (!block) return;
  text_ = static_cast<char*>(block);
  capacity_ = length_ + 1;
}

}  // namespace quillon
