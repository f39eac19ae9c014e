#include "app/ini_file.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "base/ascii.h"

namespace tollwick {
namespace {

using quillon::EqualsNoCase;
using quillon::HexDigit;
using quillon::HexValue;
using quillon::LowerAscii;

constexpr size_t kNone = std::string_view::npos;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
// The letters of the named escapes and the characters they stand for. QSettings writes the
// first nine; it also reads "\?" and "\'".
constexpr std::string_view kEscapeLetters = "abfnrtv\"\\?'";
constexpr std::string_view kEscapedCharacters = "\a\b\f\n\r\t\v\"\\?'";
constexpr std::string_view kWrittenEscapes = kEscapedCharacters.substr(0, 9);
constexpr std::string_view kByteArrayOpening = "@ByteArray(";
// Lines read between two asks whether to stop: a few thousand take well under a millisecond.
constexpr size_t kLinesPerStopCheck = 4096;

// What a value is read as: a text, or the bytes of a byte array and the UTF-8 of a text.
enum class ValueForm { Text, Bytes };

bool IsHexDigit(char c) { return HexValue(c) >= 0; }
bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

size_t SkipBlanks(std::string_view text, size_t i) {
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

std::string_view TrimBlanks(std::string_view text) {
  text.remove_prefix(SkipBlanks(text, 0));
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

void AppendUtf8(uint32_t codePoint, std::string& out) {
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) codePoint = 0xFFFD;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at the start of text (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  if (length == 3 && ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0))) {
    return 0;
  }
  if (length == 4 && ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90))) {
    return 0;
  }
  return length;
}

// The code point of a well-formed sequence of the given length.
uint32_t CodePointOf(std::string_view sequence, size_t length) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t value = static_cast<unsigned char>(sequence[0]) & kLeadBits[length];
  for (size_t i = 1; i < length; ++i) value = value << 6 | (sequence[i] & 0x3F);
  return value;
}

// Text as Qt's UTF-8 decoding sees it: each byte that starts no well-formed sequence becomes
// U+FFFD.
std::string WellFormedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t length = Utf8SequenceLength(text);
    out.append(length == 0 ? kReplacementCharacter : text.substr(0, length));
    text.remove_prefix(std::max<size_t>(length, 1));
  }
  return out;
}

// Whether text is well-formed UTF-8 throughout.
bool IsUtf8(std::string_view text) {
  while (!text.empty()) {
    const size_t length = Utf8SequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

// The code point at the start of text, U+FFFD for a byte that starts no well-formed sequence;
// moves text past it.
uint32_t NextCodePoint(std::string_view& text) {
  const size_t length = Utf8SequenceLength(text);
  const uint32_t codePoint = length == 0 ? 0xFFFD : CodePointOf(text, length);
  text.remove_prefix(std::max<size_t>(length, 1));
  return codePoint;
}

// A code point's UTF-16 units as one number that sorts as they do.
uint64_t Utf16Units(uint32_t codePoint) {
  if (codePoint < 0x10000) return uint64_t{codePoint} << 16;
  const uint32_t offset = codePoint - 0x10000;
  return uint64_t{0xD800 + (offset >> 10)} << 16 | (0xDC00 + (offset & 0x3FF));
}

// The bytes of a "@ByteArray(...)" value: each character below U+0100 one byte, others "?".
std::string Latin1Bytes(std::string_view utf8) {
  std::string out;
  while (!utf8.empty()) {
    const size_t length = std::max<size_t>(1, Utf8SequenceLength(utf8));
    const auto lead = static_cast<unsigned char>(utf8[0]);
    if (length == 1) {
      out += utf8[0];
    } else {
      const bool latin1 = length == 2 && lead <= 0xC3;
      out += latin1 ? static_cast<char>(((lead & 0x1F) << 6) | (utf8[1] & 0x3F)) : '?';
    }
    utf8.remove_prefix(length);
  }
  return out;
}

// The value of exactly count hex digits at the start of text.
bool ReadHexDigits(std::string_view text, size_t count, uint32_t& value) {
  if (text.size() < count) return false;
  value = 0;
  for (char c : text.substr(0, count)) {
    if (!IsHexDigit(c)) return false;
    value = value * 16 + static_cast<uint32_t>(HexValue(c));
  }
  return true;
}

void AppendPercentEscape(uint32_t unit, std::string& out) {
  out += unit < 0x100 ? "%" : "%U";
  for (int shift = unit < 0x100 ? 4 : 12; shift >= 0; shift -= 4) out += HexDigit(unit >> shift);
}

// Letters, digits, "_", "-" and "." stay; "/" (a group separator) becomes "\"; every other
// character becomes %XX below U+0100, else %UXXXX per UTF-16 unit (text read as Qt reads it).
std::string EscapeKey(std::string_view key) {
  std::string out;
  const std::string text = WellFormedUtf8(key);
  for (std::string_view rest = text; !rest.empty();) {
    const size_t length = Utf8SequenceLength(rest);
    const uint32_t c = CodePointOf(rest, length);
    rest.remove_prefix(length);
    if (c == '/') {
      out += '\\';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.') {
      out += static_cast<char>(c);
    } else if (c >= 0x10000) {
      AppendPercentEscape(0xD800 + ((c - 0x10000) >> 10), out);
      AppendPercentEscape(0xDC00 + ((c - 0x10000) & 0x3FF), out);
    } else {
      AppendPercentEscape(c, out);
    }
  }
  return out;
}

// The reverse of EscapeKey; also reads the %UXXXX form of characters above U+00FF. A "%"
// without its digits stands for itself.
std::string UnescapeKey(std::string_view key) {
  std::string out;
  for (size_t i = 0; i < key.size();) {
    const bool wide = key.substr(i).starts_with("%U");
    const size_t digitsAt = i + (wide ? 2 : 1);
    const size_t digits = wide ? 4 : 2;
    uint32_t value = 0;
    if (key[i] == '\\') {
      out += '/';
      ++i;
    } else if (key[i] == '%' && ReadHexDigits(key.substr(digitsAt), digits, value)) {
      i = digitsAt + digits;
      uint32_t low = 0;
      if (value >= 0xD800 && value < 0xDC00 && key.substr(i).starts_with("%U") &&
          ReadHexDigits(key.substr(i + 2), 4, low) && low >= 0xDC00 && low < 0xE000) {
        value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
        i += 6;
      }
      AppendUtf8(value, out);
    } else {
      out += key[i++];
    }
  }
  return out;
}

// "\x" and the character's hex digits, lower-case and without a leading zero.
void AppendHexEscape(unsigned char c, std::string& out) {
  out += "\\x";
  if (c >= 16) out += LowerAscii(HexDigit(c >> 4));
  out += LowerAscii(HexDigit(c));
}

// "@" starts the forms of other types, so a text that starts with it gets a second one; a text
// holding NUL goes into "@String(...)".
std::string WithTypeMarker(std::string_view text) {
  if (text.find('\0') != kNone) return "@String(" + std::string(text) + ")";
  return (text.starts_with('@') ? "@" : "") + std::string(text);
}

// Units escaped as QSettings escapes them: the named escapes, "\0", "\x" and hex digits for
// the other control characters (in a byte array's form, for every byte from 0x7F up too), and
// quotes when ";", "," or "=" would split the value or a space at either end would be lost.
// The bytes of a text's UTF-8 sequences stay as they are.
std::string EscapeUnits(std::string_view units, ValueForm form) {
  std::string out;
  bool afterNumericEscape = false;
  for (unsigned char c : units) {
    // A hex digit right after a numeric escape would read as part of it.
    if (afterNumericEscape && IsHexDigit(static_cast<char>(c))) {
      AppendHexEscape(c, out);
      continue;
    }
    const size_t named = kWrittenEscapes.find(static_cast<char>(c));
    const bool numeric = named == kNone && (c < 0x20 || (c >= 0x7F && form == ValueForm::Bytes));
    afterNumericEscape = numeric;
    if (named != kNone) {
      out += '\\';
      out += kEscapeLetters[named];
    } else if (c == '\0') {
      out += "\\0";
    } else if (numeric) {
      AppendHexEscape(c, out);
    } else {
      out += static_cast<char>(c);
    }
  }
  const bool quote = out.find_first_of(";,=") != kNone || out.starts_with(' ') ||
                     out.ends_with(' ');
  return quote ? '"' + out + '"' : out;
}

// A text as QSettings writes a string.
std::string EscapeValue(std::string_view bytes) {
  return EscapeUnits(WithTypeMarker(WellFormedUtf8(bytes)), ValueForm::Text);
}

// Bytes as QSettings writes a byte array: each byte one character of "@ByteArray(...)".
std::string EscapeByteArray(std::string_view bytes) {
  return EscapeUnits(std::string(kByteArrayOpening) + std::string(bytes) + ")", ValueForm::Bytes);
}

// Reads the escape whose letter is at raw[i] and moves i past it: a named escape, octal digits,
// "x" and hex digits ("\x" alone gives nothing), or a line continuation (the line end, any of
// the four forms, is dropped). Any other letter gives nothing.
void ReadEscape(std::string_view raw, size_t& i, std::string& out) {
  const char letter = raw[i++];
  const size_t named = kEscapeLetters.find(letter);
  if (named != kNone) {
    out += kEscapedCharacters[named];
  } else if (letter == 'x' || IsOctalDigit(letter)) {
    const bool hex = letter == 'x';
    const size_t first = i;
    uint32_t code = hex ? 0 : static_cast<uint32_t>(letter - '0');
    while (i < raw.size() && (hex ? IsHexDigit(raw[i]) : IsOctalDigit(raw[i]))) {
      code = (code << (hex ? 4 : 3)) + static_cast<uint32_t>(HexValue(raw[i++]));
    }
    if (!hex || i > first) AppendUtf8(code & 0xFFFF, out);
  } else if (IsLineEnd(letter) && i < raw.size() && IsLineEnd(raw[i]) && raw[i] != letter) {
    ++i;
  }
}

// The text inside "<opening>...)", or none.
std::optional<std::string_view> Inside(std::string_view text, std::string_view opening) {
  if (!text.starts_with(opening) || !text.ends_with(')')) return std::nullopt;
  return text.substr(opening.size(), text.size() - opening.size() - 1);
}

// The text of an unescaped value: "@String(...)" and "@ByteArray(...)" unwrapped (a byte
// array's bytes as they are when read as bytes), "@@" read as "@"; none for the forms of other
// types, which no text reads as.
std::optional<std::string> TextOfTypedForm(std::string_view text, ValueForm form) {
  static constexpr std::string_view kOtherTypes[] = {"@Variant(", "@DateTime(", "@Rect(",
                                                     "@Size(",    "@Point(",    "@Invalid("};
  if (const auto inner = Inside(text, "@String(")) return std::string(*inner);
  if (const auto inner = Inside(text, kByteArrayOpening)) {
    std::string bytes = Latin1Bytes(*inner);
    return form == ValueForm::Bytes ? bytes : WellFormedUtf8(bytes);
  }
  if (std::any_of(std::begin(kOtherTypes), std::end(kOtherTypes),
                  [text](std::string_view type) { return Inside(text, type).has_value(); })) {
    return std::nullopt;
  }
  return std::string(text.substr(text.starts_with("@@") ? 1 : 0));
}

// Reads the escapes and quotes of a raw value as QSettings' own reader does, so that a file
// edited by hand reads the same here as in the dialog. Blanks around an unquoted value go.
std::optional<std::string> UnescapeValue(std::string_view raw, ValueForm form) {
  std::string text;
  bool inQuotes = false, quoted = false;
  size_t keepFrom = 0;  // blanks before this point came from escapes: kept
  size_t i = SkipBlanks(raw, 0);
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '\\') {
      if (++i >= raw.size()) break;
      ReadEscape(raw, i, text);
      keepFrom = text.size();
    } else if (c == '"') {
      quoted = true;
      inQuotes = !inQuotes;
      i = inQuotes ? i + 1 : SkipBlanks(raw, i + 1);
    } else if (c == ',' && !inQuotes) {
      return std::string();  // a list, which read as one text gives nothing
    } else {
      const size_t end = std::min(raw.find_first_of("\\\",", i + 1), raw.size());
      text.append(raw.substr(i, end - i));
      i = end;
    }
  }
  while (!quoted && text.size() > keepFrom && IsBlank(text.back())) text.pop_back();
  return TextOfTypedForm(WellFormedUtf8(text), form);
}

// Whether a raw value ends where it would end again when written back: every quote closed, no
// backslash left to escape what follows, and no escaped CR last, which the LF written after it
// would make a line continuation.
bool EndsWhole(std::string_view raw) {
  bool inQuotes = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\') {
      if (++i == raw.size() || (raw[i] == '\r' && i + 1 == raw.size())) return false;
    } else if (raw[i] == '"') {
      inQuotes = !inQuotes;
    }
  }
  return !inQuotes;
}

// One logical line of the file, and the position in it of its first "=" outside quotes.
struct IniLine {
  std::string_view text;
  size_t equals = kNone;
};

// Where the next logical line starts: after white space and ";" comment lines.
size_t SkipSpaceAndComments(std::string_view data, size_t i) {
  while (true) {
    while (i < data.size() && IsSpace(data[i])) ++i;
    if (i >= data.size() || data[i] != ';') return i;
    while (i < data.size() && !IsLineEnd(data[i])) ++i;
  }
}

// The position of the last character of the escape whose backslash is at i: the next
// character, and the second of a CR LF or LF CR pair that it starts.
size_t EscapeEnd(std::string_view data, size_t i) {
  if (i + 1 >= data.size()) return i;
  const bool linePair = i + 2 < data.size() && IsLineEnd(data[i + 1]) &&
                        IsLineEnd(data[i + 2]) && data[i + 1] != data[i + 2];
  return i + (linePair ? 2 : 1);
}

// Reads the logical line at pos: it ends at a line end or a ";" outside quotes, and a
// backslash carries it over a line end. False at the end of the data.
bool NextLine(std::string_view data, size_t& pos, IniLine& line) {
  const size_t start = SkipSpaceAndComments(data, pos);
  line.equals = kNone;
  bool inQuotes = false;
  size_t i = start;
  for (; i < data.size(); ++i) {
    const char c = data[i];
    if (c == '=' && !inQuotes && line.equals == kNone) {
      line.equals = i - start;
    } else if (c == '"') {
      inQuotes = !inQuotes;
    } else if (c == '\\') {
      i = EscapeEnd(data, i);
    } else if ((IsLineEnd(c) || c == ';') && !inQuotes) {
      break;
    }
  }
  pos = i;
  line.text = data.substr(start, i - start);
  return !line.text.empty();
}

// A "[name]" line as the prefix of its keys: the name and "/", empty for the General section.
std::string SectionPrefix(std::string_view line) {
  const size_t close = line.find(']');
  std::string_view name = TrimBlanks(line.substr(1, close == kNone ? kNone : close - 1));
  if (EqualsNoCase(name, "general")) return std::string();
  if (EqualsNoCase(name, "%general")) name.remove_prefix(1);
  return UnescapeKey(name) + "/";
}

std::string SectionHeader(std::string_view name) {
  const std::string escaped = EscapeKey(name);
  if (escaped.empty()) return "[General]\n";
  // "%" keeps a section named "General" apart from the General section.
  return (EqualsNoCase(escaped, "general") ? "[%" : "[") + escaped + "]\n";
}

// A key as QSettings keeps it: no "/" at either end and none doubled.
std::string NormalizedKey(std::string_view key) {
  std::string out;
  for (char c : key) {
    if (c == '/' && (out.empty() || out.back() == '/')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == '/') out.pop_back();
  return out;
}

// A full key's section (before the first "/"; empty for the General section) and key.
std::pair<std::string_view, std::string_view> SplitKey(std::string_view fullKey) {
  const size_t slash = fullKey.find('/');
  if (slash == kNone) return {std::string_view(), fullKey};
  return {fullKey.substr(0, slash), fullKey.substr(slash + 1)};
}

}  // namespace

bool IniFile::parse(std::string_view bytes, const StopCheck& stop) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  std::string prefix;  // the current section and "/", empty in the General section
  size_t pos = 0;
  IniLine line;
  for (size_t lines = 1; NextLine(bytes, pos, line); ++lines) {
    if (stop && lines % kLinesPerStopCheck == 0 && stop()) return false;
    if (line.text.front() == '[') {
      prefix = SectionPrefix(line.text);
    } else if (line.equals != kNone) {
      const std::string key =
          NormalizedKey(prefix + UnescapeKey(TrimBlanks(line.text.substr(0, line.equals))));
      if (key.empty()) continue;
      const std::string_view raw = line.text.substr(line.equals + 1);
      // A value cut off by the end of the data is kept as the text it reads as: written back as
      // it stands, it would swallow the lines written after it.
      set(key, EndsWhole(raw) ? std::string(raw.substr(SkipBlanks(raw, 0)))
                              : EscapeValue(UnescapeValue(raw, ValueForm::Text).value_or("")));
    }
  }
  return true;
}

std::optional<std::string> IniFile::find(std::string_view fullKey) const {
  const std::string* raw = rawValue(fullKey);
  return raw != nullptr ? UnescapeValue(*raw, ValueForm::Text) : std::nullopt;
}

std::optional<std::string> IniFile::findBytes(std::string_view fullKey) const {
  const std::string* raw = rawValue(fullKey);
  return raw != nullptr ? UnescapeValue(*raw, ValueForm::Bytes) : std::nullopt;
}

void IniFile::write(std::string_view fullKey, std::string_view text) {
  set(fullKey, EscapeValue(text));
}

void IniFile::writeBytes(std::string_view fullKey, std::string_view bytes) {
  set(fullKey, IsUtf8(bytes) ? EscapeValue(bytes) : EscapeByteArray(bytes));
}

std::string IniFile::text() const {
  std::string out;
  for (const auto& [name, rawValues] : sections_) {
    if (!out.empty()) out += '\n';
    out += SectionHeader(name);
    for (const auto& [key, raw] : rawValues) out += EscapeKey(key) + "=" + raw + "\n";
  }
  return out;
}

const std::string* IniFile::rawValue(std::string_view fullKey) const {
  const auto [sectionName, key] = SplitKey(fullKey);
  const auto section = sections_.find(sectionName);
  if (section == sections_.end()) return nullptr;
  const auto found = section->second.find(key);
  return found != section->second.end() ? &found->second : nullptr;
}

void IniFile::set(std::string_view fullKey, std::string rawValue) {
  const auto [sectionName, key] = SplitKey(fullKey);
  auto section = sections_.find(sectionName);
  if (section == sections_.end()) section = sections_.emplace(sectionName, RawValues()).first;
  section->second.insert_or_assign(std::string(key), std::move(rawValue));
}

bool IniFile::Utf16Less::operator()(std::string_view a, std::string_view b) const {
  const auto [aAt, bAt] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  const auto isAscii = [](auto at, std::string_view text) {
    return at == text.end() || static_cast<unsigned char>(*at) < 0x80;
  };
  // Where both go on with ASCII (or end), the bytes before read alike in both.
  if (isAscii(aAt, a) && isAscii(bAt, b)) {
    if (bAt == b.end()) return false;
    return aAt == a.end() || *aAt < *bAt;
  }
  while (!a.empty() && !b.empty()) {
    const uint64_t aUnits = Utf16Units(NextCodePoint(a));
    const uint64_t bUnits = Utf16Units(NextCodePoint(b));
    if (aUnits != bUnits) return aUnits < bUnits;
  }
  return a.empty() && !b.empty();
}

}  // namespace tollwick
