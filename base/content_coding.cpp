#include "base/content_coding.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/memory.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding table: 0-63 for the alphabet, kEnd for NUL and "=", kSkip for everything else
// (line breaks, blanks and stray punctuation are passed over).
constexpr uint8_t kEnd = 0xFF;
constexpr uint8_t kSkip = 0xFE;

struct Base64Table {
  uint8_t value[256];
  constexpr Base64Table() : value() {
    for (int i = 0; i < 256; ++i) value[i] = kSkip;
    for (int i = 0; i < 64; ++i) value[static_cast<uint8_t>(kBase64Alphabet[i])] = i;
    value[0] = kEnd;
    value[static_cast<uint8_t>('=')] = kEnd;
  }
};
constexpr Base64Table kBase64Decode;

// Texts up to this many bytes of a long value are encoded as one word.
constexpr uint32_t kSingleQWordLimit = 34;
constexpr uint32_t kSingleBWordLimit = 23;
// Bytes of UTF-16 per word when a long value is cut.
constexpr uint32_t kQChunkUtf16Bytes = 34;
constexpr uint32_t kBChunkUtf16Bytes = 24;
// How far into a value encodeWord looks for an existing encoded word.
constexpr uint32_t kEncodedWordProbe = 100;
constexpr const char* kWordSeparator = "\r\n\t";

// Charsets whose words are Base64: their text is mostly outside ASCII, where Q would triple it.
constexpr const char* kBEncodedCharsets[] = {
    "shift_jis",  "shift-jis",    "iso-2022-jp", "euc-jp",      "euc-kr",     "iso-2022-kr",
    "gb2312",     "hz-gb-2312",   "euc-cn",      "cp-936",      "euc-tw",     "big5",
    "cp-950",     "cp-932",       "tis-620",     "windows-874", "iso-8859-9", "windows-1254",
    "iso-8859-6", "windows-1256", "cp-1256"};

// Collects output in a small block and appends it to a StringBuffer in pieces; remembers the
// buffer's original length so a failed encoding leaves it as it was.
class Appender {
 public:
  explicit Appender(StringBuffer& out) : out_(out), start_(out.length()) {}
  Appender(const Appender&) = delete;
  Appender& operator=(const Appender&) = delete;

  void put(char c) {
    if (used_ == sizeof(block_)) flush();
    block_[used_++] = c;
  }
  void put(std::string_view text) {
    for (char c : text) put(c);
  }
  void putHex(uint8_t byte) {
    put('=');
    put(HexDigit(byte >> 4));
    put(HexDigit(byte));
  }
  // Flushes; on failure removes everything appended since construction.
  bool finish() {
    flush();
    if (failed_) out_.shorten(out_.length() - start_);
    return !failed_;
  }

 private:
  void flush() {
    if (!failed_ && used_ > 0 && !out_.append(block_, used_)) failed_ = true;
    used_ = 0;
  }

  StringBuffer& out_;
  uint32_t start_;
  uint32_t used_ = 0;
  bool failed_ = false;
  char block_[4096];
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}


// Writes the Base64 text of n bytes to dst, which has room for ((n + 2) / 3) * 4 characters.
void EncodeBase64Block(const uint8_t* src, uint32_t n, char* dst) {
  uint32_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8) | src[i + 2];
    *dst++ = kBase64Alphabet[v >> 18];
    *dst++ = kBase64Alphabet[(v >> 12) & 63];
    *dst++ = kBase64Alphabet[(v >> 6) & 63];
    *dst++ = kBase64Alphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = uint32_t{src[i]} << 16;
    *dst++ = kBase64Alphabet[v >> 18];
    *dst++ = kBase64Alphabet[(v >> 12) & 63];
    *dst++ = '=';
    *dst++ = '=';
  } else if (n - i == 2) {
    uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8);
    *dst++ = kBase64Alphabet[v >> 18];
    *dst++ = kBase64Alphabet[(v >> 12) & 63];
    *dst++ = kBase64Alphabet[(v >> 6) & 63];
    *dst++ = '=';
  }
}

bool UsesBEncoding(std::string_view charset) {
  for (const char* name : kBEncodedCharsets) {
    if (EqualsIgnoreCase(charset, name)) return true;
  }
  return false;
}

// "=?" charset "?B?" or "?Q?" encoded text "?=".
bool AppendWord(const char* bytes, uint32_t length, std::string_view charset, bool useB,
                StringBuffer& out) {
  uint32_t start = out.length();
  bool ok = out.append("=?") && out.append(charset) && out.append(useB ? "?B?" : "?Q?") &&
            (useB ? ContentCoding::encodeBase64(bytes, length, out)
                  : ContentCoding::encodeQ(bytes, length, out)) &&
            out.append("?=");
  if (!ok) out.shorten(out.length() - start);
  return ok;
}

bool IsHighSurrogateAt(const uint8_t* utf16le, uint32_t offset) {
  uint32_t unit = utf16le[offset] | (uint32_t{utf16le[offset + 1]} << 8);
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool EncodeWords(const char* text, uint32_t length, const char* charset, bool useB,
                 StringBuffer& out) {
  if (text == nullptr || length == 0) return true;
  std::string_view name = (charset && *charset) ? charset : "utf-8";
  if (length <= (useB ? kSingleBWordLimit : kSingleQWordLimit)) {
    return AppendWord(text, length, name, useB, out);
  }

  // Cut through UTF-16 so that no word ends inside a character.
  int codePage = CodePageForCharsetName(std::string(name).c_str());
  if (codePage == 0) codePage = kCodePageUtf8;
  DataBuffer wide;
  if (!ConvertCodePage(codePage, kCodePageUtf16Le, text, length, wide)) {
    return AppendWord(text, length, name, useB, out);
  }
  const uint32_t chunk = useB ? kBChunkUtf16Bytes : kQChunkUtf16Bytes;
  const uint32_t start = out.length();
  const uint8_t* units = wide.data();
  const uint32_t total = wide.length();
  bool first = true;
  for (uint32_t pos = 0; pos < total;) {
    uint32_t take = std::min(chunk, total - pos);
    // Keep a surrogate pair together.
    if (take == chunk && pos + take < total && take >= 4 &&
        IsHighSurrogateAt(units, pos + take - 2)) {
      take -= 2;
    }
    DataBuffer piece;
    if (!ConvertCodePage(kCodePageUtf16Le, codePage, units + pos, take, piece)) {
      out.shorten(out.length() - start);
      return AppendWord(text, length, name, useB, out);
    }
    pos += take;
    if (piece.isEmpty()) continue;
    bool ok =
        (first || out.append(kWordSeparator)) &&
        AppendWord(reinterpret_cast<const char*>(piece.data()), piece.length(), name, useB, out);
    if (!ok) {
      out.shorten(out.length() - start);
      return false;
    }
    first = false;
  }
  return true;
}

bool IsLinearWhitespace(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

bool DecodeWords(StringBuffer& text, bool toUtf8) {
  std::string_view s = text.view();
  size_t pos = s.find("=?");
  if (pos == std::string_view::npos) return true;

  StringBuffer result;
  pos = 0;
  bool afterWord = false;
  for (;;) {
    size_t open = s.find("=?", pos);
    if (open == std::string_view::npos) {
      if (!result.append(s.substr(pos))) return false;
      break;
    }
    std::string_view before = s.substr(pos, open - pos);
    // A malformed word ends the scan; everything from it on is dropped.
    size_t question = s.find('?', open + 2);
    size_t end = std::string_view::npos;
    if (question != std::string_view::npos && question + 2 < s.size() && s[question + 2] == '?') {
      end = s.find("?=", question + 3);
    }
    if (end == std::string_view::npos) {
      if (!result.append(before)) return false;
      break;
    }
    // Blanks and line folds between two encoded words belong to neither (RFC 2047 section 6.2).
    if (!(afterWord && IsLinearWhitespace(before)) && !result.append(before)) return false;

    std::string_view charset = s.substr(open + 2, question - open - 2);
    if (EqualsIgnoreCase(charset, "8bit")) charset = "utf-8";
    const bool isB = s[question + 1] == 'B' || s[question + 1] == 'b';
    std::string_view encoded = s.substr(question + 3, end - question - 3);
    pos = end + 2;
    afterWord = true;
    if (encoded.empty()) continue;

    DataBuffer bytes;
    bool decoded =
        isB ? ContentCoding::decodeBase64(encoded.data(), static_cast<uint32_t>(encoded.size()),
                                          bytes)
            : ContentCoding::decodeQ(encoded.data(), static_cast<uint32_t>(encoded.size()), bytes);
    if (!decoded) return false;
    int codePage = 0;
    if (toUtf8 && !EqualsIgnoreCase(charset, "utf-8")) {
      codePage = CodePageForCharsetName(std::string(charset).c_str());
    }
    DataBuffer converted;
    if (codePage != 0 &&
        ConvertCodePage(codePage, kCodePageUtf8, bytes.data(), bytes.length(), converted)) {
      bytes.moveFrom(converted);
    }
    if (!result.append(reinterpret_cast<const char*>(bytes.data()), bytes.length())) {
      return false;
    }
  }
  return text.assign(result);
}

}  // namespace

bool ContentCoding::encodeBase64(const void* bytes, uint32_t length, StringBuffer& out) {
  if (bytes == nullptr || length == 0) return true;
  const uint64_t encodedLength = (uint64_t{length} + 2) / 3 * 4;
  if (encodedLength > UINT32_MAX) return false;
  const auto* src = static_cast<const uint8_t*>(bytes);

  // Encoded through a block on the stack; a long text is grown once first (StringBuffer has no
  // reserve), so it is not copied at every growth step.
  constexpr uint32_t kInputPerBlock = 3 * 1024;
  char block[kInputPerBlock / 3 * 4];
  const uint32_t start = out.length();
  if (encodedLength > sizeof(block)) {
    if (!out.appendChars('A', static_cast<uint32_t>(encodedLength))) return false;
    out.shorten(static_cast<uint32_t>(encodedLength));
  }
  for (uint32_t done = 0; done < length;) {
    uint32_t take = std::min(kInputPerBlock, length - done);
    EncodeBase64Block(src + done, take, block);
    if (!out.append(block, (take + 2) / 3 * 4)) {
      out.shorten(out.length() - start);
      return false;
    }
    done += take;
  }
  return true;
}

bool ContentCoding::decodeBase64(const char* text, uint32_t length, DataBuffer& out) {
  if (text == nullptr) length = 0;
  // Every 4 characters give at most 3 bytes; one more for the terminating zero.
  uint32_t room = 0;
  if (!AddSizes32(out.length(), uint64_t{length} / 4 * 3 + 4, room) || !out.reserve(room)) {
    return false;
  }
  uint8_t* dst = out.data() + out.length();
  uint32_t bits = 0;
  uint32_t count = 0;  // characters of the current group of 4
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t v = kBase64Decode.value[static_cast<uint8_t>(text[i])];
    if (v == kEnd) break;
    if (v == kSkip) continue;
    bits = (bits << 6) | v;
    if (++count == 4) {
      *dst++ = static_cast<uint8_t>(bits >> 16);
      *dst++ = static_cast<uint8_t>(bits >> 8);
      *dst++ = static_cast<uint8_t>(bits);
      bits = 0;
      count = 0;
    }
  }
  // A final group of 2 or 3 characters holds 1 or 2 whole bytes; a lone character none.
  if (count == 2) {
    *dst++ = static_cast<uint8_t>(bits >> 4);
  } else if (count == 3) {
    *dst++ = static_cast<uint8_t>(bits >> 10);
    *dst++ = static_cast<uint8_t>(bits >> 2);
  }
  *dst = 0;
  out.setLength(static_cast<uint32_t>(dst - out.data()));
  return true;
}

bool ContentCoding::encodeQuotedPrintable(const void* bytes, uint32_t length, StringBuffer& out) {
  if (bytes == nullptr) return true;
  const auto* b = static_cast<const uint8_t*>(bytes);
  auto crlfAt = [&](uint32_t k) { return k + 1 < length && b[k] == '\r' && b[k + 1] == '\n'; };

  Appender a(out);
  uint32_t column = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = b[i];
    if (crlfAt(i)) {
      a.put("\r\n");
      column = 0;
      ++i;
      continue;
    }
    // Protect what mail transports treat specially at the start of a line.
    bool protect =
        column == 0 &&
        (c == '.' || (c == 'F' && length - i >= 5 && std::memcmp(b + i, "From ", 5) == 0));
    if (protect) {
      a.putHex(c);
      column += 3;
    } else if (c == ' ' || c == '\t') {
      if (i + 1 == length || crlfAt(i + 1)) {
        a.putHex(c);  // trailing blanks would be stripped in transit
        column += 3;
      } else {
        a.put(static_cast<char>(c));
        column += 1;
      }
    } else if ((c >= 33 && c <= 60) || (c >= 62 && c <= 126)) {
      a.put(static_cast<char>(c));
      column += 1;
    } else {
      a.putHex(c);
      column += 3;
    }
    // A soft break is pointless at the very end of the input or before a hard one.
    if (column >= kQuotedPrintableLineLength && i + 1 < length && !crlfAt(i + 1)) {
      a.put("=\r\n");
      column = 0;
    }
  }
  return a.finish();
}

bool ContentCoding::decodeQuotedPrintable(const char* text, uint32_t length, DataBuffer& out) {
  if (text == nullptr) length = 0;
  uint32_t room = 0;
  if (!AddSizes32(out.length(), length, room) || !out.reserve(room)) return false;
  uint8_t* dst = out.data() + out.length();
  for (uint32_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c != '=') {
      *dst++ = static_cast<uint8_t>(c);
      continue;
    }
    if (i + 2 < length && text[i + 1] == '\r' && text[i + 2] == '\n') {
      i += 2;  // soft line break
    } else if (i + 1 < length && text[i + 1] == '\n') {
      i += 1;
    } else if (i + 2 < length && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      *dst++ = static_cast<uint8_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      *dst++ = '=';
    }
  }
  out.setLength(static_cast<uint32_t>(dst - out.data()));
  return true;
}

bool ContentCoding::encodeQ(const void* bytes, uint32_t length, StringBuffer& out) {
  if (bytes == nullptr) return true;
  const auto* b = static_cast<const uint8_t*>(bytes);
  Appender a(out);
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = b[i];
    if (c == ' ') {
      a.put('_');
    } else if ((c >= 33 && c <= 60) || c == 62 || (c >= 64 && c <= 94) || (c >= 96 && c <= 126)) {
      a.put(static_cast<char>(c));
    } else {
      a.putHex(c);
    }
  }
  return a.finish();
}

bool ContentCoding::decodeQ(const char* text, uint32_t length, DataBuffer& out) {
  if (text == nullptr) length = 0;
  uint32_t room = 0;
  if (!AddSizes32(out.length(), length, room) || !out.reserve(room)) return false;
  uint8_t* dst = out.data() + out.length();
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == '_') {
      *dst++ = ' ';
    } else if (c == '=' && i + 2 < length && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      *dst++ = static_cast<uint8_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else if (c < 32 || c == '?' || c == 127 || (c >= 128 && c <= 159)) {
      continue;
    } else {
      *dst++ = c;
    }
  }
  out.setLength(static_cast<uint32_t>(dst - out.data()));
  return true;
}

bool ContentCoding::encodeWord(const char* text, uint32_t length, const char* charset,
                               StringBuffer& out) {
  if (text == nullptr || length == 0) return true;
  std::string_view probe(text, std::min(length, kEncodedWordProbe));
  for (size_t i = 0; i + 3 <= probe.size(); ++i) {
    if (probe[i] == '?' && probe[i + 2] == '?' &&
        (probe[i + 1] == 'Q' || probe[i + 1] == 'q' || probe[i + 1] == 'B' ||
         probe[i + 1] == 'b')) {
      return out.append(text, length);
    }
  }
  std::string_view name = (charset && *charset) ? charset : "utf-8";
  return AppendWord(text, length, name, UsesBEncoding(name), out);
}

bool ContentCoding::encodeWordsQ(const char* text, uint32_t length, const char* charset,
                                 StringBuffer& out) {
  return EncodeWords(text, length, charset, false, out);
}

bool ContentCoding::encodeWordsB(const char* text, uint32_t length, const char* charset,
                                 StringBuffer& out) {
  return EncodeWords(text, length, charset, true, out);
}

bool ContentCoding::decodeWords(StringBuffer& text) { return DecodeWords(text, true); }

bool ContentCoding::decodeWordsRaw(StringBuffer& text) { return DecodeWords(text, false); }

}  // namespace quillon
