#include "base/json_text.h"

namespace quillon {

namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void SkipSpace(std::string_view text, size_t& pos) {
  while (pos < text.size() && IsJsonSpace(text[pos])) ++pos;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits at pos as a code unit; -1 when they are not there.
int32_t ReadHex4(std::string_view text, size_t pos) {
  if (pos + 4 > text.size()) return -1;
  int32_t unit = 0;
  for (size_t i = 0; i < 4; ++i) {
    int digit = HexValue(text[pos + i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

bool AppendUtf8(StringBuffer& out, uint32_t code) {
  char bytes[4];
  uint32_t length = 0;
  if (code < 0x80) {
    bytes[length++] = static_cast<char>(code);
  } else if (code < 0x800) {
    bytes[length++] = static_cast<char>(0xC0 | (code >> 6));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    bytes[length++] = static_cast<char>(0xE0 | (code >> 12));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    bytes[length++] = static_cast<char>(0xF0 | (code >> 18));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out.append(bytes, length);
}

constexpr uint32_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(int32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(int32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Reads the "\u" escape at pos (after the backslash and the u) into out, with its low
// surrogate when one follows; pos moves past what was read.
bool ReadUnicodeEscape(std::string_view text, size_t& pos, StringBuffer& out) {
  int32_t unit = ReadHex4(text, pos);
  if (unit < 0) return false;
  pos += 4;
  uint32_t code = static_cast<uint32_t>(unit);
  if (IsHighSurrogate(unit)) {
    int32_t low = pos + 6 <= text.size() && text[pos] == '\\' && text[pos + 1] == 'u'
                      ? ReadHex4(text, pos + 2)
                      : -1;
    if (IsLowSurrogate(low)) {
      code = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) +
             (static_cast<uint32_t>(low) - 0xDC00);
      pos += 6;
    } else {
      code = kReplacementCharacter;
    }
  } else if (IsLowSurrogate(unit)) {
    code = kReplacementCharacter;
  }
  return AppendUtf8(out, code);
}

char SimpleEscape(char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return 0;
  }
}

bool MatchLiteral(std::string_view text, size_t& pos, std::string_view literal) {
  if (text.substr(pos, literal.size()) != literal) return false;
  pos += literal.size();
  return true;
}

}  // namespace

bool JsonText::SkipString(std::string_view text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return false;
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c == '\\') {
      if (++pos >= text.size()) return false;
      if (text[pos] == 'u') {
        if (ReadHex4(text, pos + 1) < 0) return false;
        pos += 4;
      } else if (SimpleEscape(text[pos]) == 0) {
        return false;
      }
    }
  }
  return false;
}

bool JsonText::SkipNumber(std::string_view text, size_t& pos) {
  if (pos < text.size() && text[pos] == '-') ++pos;
  if (pos >= text.size() || !IsDigit(text[pos])) return false;
  if (text[pos] == '0') {
    ++pos;
  } else {
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
  }
  if (pos < text.size() && text[pos] == '.') {
    if (++pos >= text.size() || !IsDigit(text[pos])) return false;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
  }
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    if (pos >= text.size() || !IsDigit(text[pos])) return false;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
  }
  return true;
}

bool JsonText::SkipValue(std::string_view text, size_t& pos) {
  // The open containers, innermost last: a fixed stack instead of recursion.
  char open[kMaxDepth];
  int depth = 0;
  // After "{" or ",": the member name and its colon come before the value.
  auto skipName = [&]() {
    SkipSpace(text, pos);
    if (!SkipString(text, pos)) return false;
    SkipSpace(text, pos);
    if (pos >= text.size() || text[pos] != ':') return false;
    ++pos;
    return true;
  };
  for (;;) {
    SkipSpace(text, pos);
    if (pos >= text.size()) return false;
    const char c = text[pos];
    bool scalar = true;
    if (c == '{' || c == '[') {
      if (depth == kMaxDepth) return false;
      open[depth++] = c;
      ++pos;
      SkipSpace(text, pos);
      if (pos < text.size() && text[pos] == (c == '{' ? '}' : ']')) {
        ++pos;
        --depth;
      } else {
        if (c == '{' && !skipName()) return false;
        scalar = false;
      }
    } else if (c == '"') {
      if (!SkipString(text, pos)) return false;
    } else if (c == '-' || IsDigit(c)) {
      if (!SkipNumber(text, pos)) return false;
    } else if (!MatchLiteral(text, pos, "true") && !MatchLiteral(text, pos, "false") &&
               !MatchLiteral(text, pos, "null")) {
      return false;
    }
    if (!scalar) continue;
    // A value ended: close containers until one goes on with ",".
    for (;;) {
      if (depth == 0) return true;
      SkipSpace(text, pos);
      if (pos >= text.size()) return false;
      const char top = open[depth - 1];
      if (text[pos] == (top == '{' ? '}' : ']')) {
        ++pos;
        --depth;
        continue;
      }
      if (text[pos] != ',') return false;
      ++pos;
      if (top == '{' && !skipName()) return false;
      break;
    }
  }
}

bool JsonText::IsValid(std::string_view text) {
  size_t pos = 0;
  if (!SkipValue(text, pos)) return false;
  SkipSpace(text, pos);
  return pos == text.size();
}

bool JsonText::Member(std::string_view object, std::string_view name, std::string_view& value) {
  size_t pos = 0;
  SkipSpace(object, pos);
  if (pos >= object.size() || object[pos] != '{') return false;
  ++pos;
  SkipSpace(object, pos);
  if (pos < object.size() && object[pos] == '}') return false;
  for (;;) {
    SkipSpace(object, pos);
    const size_t nameStart = pos;
    if (!SkipString(object, pos)) return false;
    const std::string_view found = object.substr(nameStart + 1, pos - nameStart - 2);
    SkipSpace(object, pos);
    if (pos >= object.size() || object[pos] != ':') return false;
    ++pos;
    SkipSpace(object, pos);
    const size_t valueStart = pos;
    if (!SkipValue(object, pos)) return false;
    if (found == name) {
      value = object.substr(valueStart, pos - valueStart);
      return true;
    }
    SkipSpace(object, pos);
    if (pos >= object.size() || object[pos] != ',') return false;
    ++pos;
  }
}

bool JsonText::ReadString(std::string_view value, StringBuffer& out) {
  out.clear();
  size_t end = 0;
  if (!SkipString(value, end)) return false;
  // Runs without escapes are copied whole.
  size_t pos = 1;
  while (pos < end - 1) {
    size_t run = value.find('\\', pos);
    if (run == std::string_view::npos || run > end - 1) run = end - 1;
    if (run > pos && !out.append(value.substr(pos, run - pos))) return false;
    pos = run;
    if (pos >= end - 1) break;
    const char kind = value[pos + 1];
    pos += 2;
    if (kind == 'u') {
      if (!ReadUnicodeEscape(value, pos, out)) return false;
    } else if (!out.appendChar(SimpleEscape(kind))) {
      return false;
    }
  }
  return true;
}

bool JsonText::ReadInt(std::string_view value, int64_t& out) {
  size_t pos = 0;
  const bool negative = !value.empty() && value[0] == '-';
  if (negative) ++pos;
  if (pos >= value.size()) return false;
  uint64_t magnitude = 0;
  for (; pos < value.size(); ++pos) {
    if (!IsDigit(value[pos])) return false;
    const uint64_t digit = static_cast<uint64_t>(value[pos] - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit) return false;
  out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool JsonText::ReadBool(std::string_view value, bool& out) {
  if (value != "true" && value != "false") return false;
  out = value == "true";
  return true;
}

bool JsonText::AppendString(StringBuffer& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (!out.appendChar('"')) return false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    if (!out.append(text.substr(start, i - start))) return false;
    const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    const bool ok = c == '"' || c == '\\'
                        ? out.appendChar('\\') && out.appendChar(static_cast<char>(c))
                        : out.append(escaped, sizeof escaped);
    if (!ok) return false;
    start = i + 1;
  }
  return out.append(text.substr(start)) && out.appendChar('"');
}

}  // namespace quillon
