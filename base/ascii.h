// Small ASCII-only text helpers: every case-insensitive comparison in the library folds the
// letters A-Z only, whatever the bytes above 0x7F mean in the text's charset.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The value of a hexadecimal digit in either case; -1 for any other character.
inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The upper-case hexadecimal digit of the low four bits of value.
inline char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Space, tab, CR or LF.
inline bool IsBlankOrLineEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without spaces, tabs, CR and LF at either end.
inline std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlankOrLineEnd(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrLineEnd(text.back())) text.remove_suffix(1);
  return text;
}

inline bool IsSevenBit(std::string_view text) {
  for (char c : text) {
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace quillon
