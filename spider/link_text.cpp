#include "spider/link_text.h"

#include <cstdint>
#include <string_view>

#include "base/ascii.h"

namespace quillon {

namespace {

struct NamedReference {
  std::string_view name;  // between "&" and ";"
  char character;
};

constexpr NamedReference kNamedReferences[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};

// The largest Unicode code point; longer digit runs are not read further.
constexpr uint32_t kMaxCodePoint = 0x10FFFF;
// "&#x10FFFF;" is the longest numeric reference worth reading; anything longer stays as text.
constexpr size_t kMaxReferenceLength = 12;

int DigitValue(char c, bool hex) {
  if (hex) return HexValue(c);
  return (c >= '0' && c <= '9') ? c - '0' : -1;
}

// The code point of "#N" or "#xH" (without "&" and ";"); 0 when it is not a usable one.
uint32_t NumericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return 0;
  bool hex = body[1] == 'x' || body[1] == 'X';
  std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  uint32_t value = 0;
  for (char c : digits) {
    int digit = DigitValue(c, hex);
    if (digit < 0) return 0;
    value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    if (value > kMaxCodePoint) return 0;
  }
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  return value;
}

bool AppendUtf8(StringBuffer& out, uint32_t cp) {
  char bytes[4];
  uint32_t n = 0;
  if (cp < 0x80) {
    bytes[n++] = static_cast<char>(cp);
  } else if (cp < 0x800) {
    bytes[n++] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    bytes[n++] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    bytes[n++] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out.append(bytes, n);
}

}  // namespace

bool DecodeCharacterReferences(StringBuffer& text) {
  std::string_view in = text.view();
  if (in.find('&') == std::string_view::npos) return true;
  StringBuffer out;
  size_t i = 0;
  while (i < in.size()) {
    size_t amp = in.find('&', i);
    if (amp == std::string_view::npos) {
      if (!out.append(in.substr(i))) return false;
      break;
    }
    if (!out.append(in.substr(i, amp - i))) return false;
    size_t semicolon = in.substr(amp + 1, kMaxReferenceLength).find(';');
    bool decoded = false;
    if (semicolon != std::string_view::npos) {
      std::string_view body = in.substr(amp + 1, semicolon);
      for (const NamedReference& named : kNamedReferences) {
        if (body == named.name) {
          if (!out.appendChar(named.character)) return false;
          decoded = true;
          break;
        }
      }
      if (!decoded) {
        uint32_t cp = NumericReference(body);
        if (cp != 0) {
          if (!AppendUtf8(out, cp)) return false;
          decoded = true;
        }
      }
    }
    if (decoded) {
      i = amp + 1 + semicolon + 1;
    } else {
      if (!out.appendChar('&')) return false;
      i = amp + 1;
    }
  }
  return text.assign(out);
}

}  // namespace quillon
