#include "base/text_conversion.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "base/platform.h"

namespace quillon {

namespace {

constexpr int kCodePageIbm437 = 437;

// Output is gathered in a small stack block and handed to the DataBuffer in pieces, so a
// conversion costs a few appends rather than one per character.
constexpr uint32_t kStageBytes = 4096;
// Charset names longer than this are not in the table.
constexpr size_t kMaxCharsetNameLength = 64;

enum class Codec : uint8_t { Utf8, Utf16Le, Utf16Be, Latin1, Windows1252, SevenBit };

bool CodecForCodePage(int codePage, Codec& codec) {
  switch (codePage) {
    case kCodePageUtf8:
      codec = Codec::Utf8;
      return true;
    case kCodePageUtf16Le:
      codec = Codec::Utf16Le;
      return true;
    case kCodePageUtf16Be:
      codec = Codec::Utf16Be;
      return true;
    case kCodePageLatin1:
      codec = Codec::Latin1;
      return true;
    case kCodePageWindows1252:
      codec = Codec::Windows1252;
      return true;
    // Only the 7-bit half of 437 is known here; its upper half is dropped both ways.
    case kCodePageUsAscii:
    case kCodePageIbm437:
      codec = Codec::SevenBit;
      return true;
    default:
      return false;
  }
}

// Bytes 0x80-0x9F of windows-1252 (the published mapping); 0 marks the five undefined bytes
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which are dropped.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Takes UTF-16 code units, joins surrogate pairs and writes each character in the target
// encoding. Lone surrogates and characters the target lacks are dropped and noted.
class Encoder {
 public:
  Encoder(Codec codec, DataBuffer& out, uint64_t sizeHint)
      : codec_(codec), out_(out), sizeHint_(sizeHint) {}
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  void unit(uint32_t unit) {
    if (hasPendingHigh_) {
      hasPendingHigh_ = false;
      if (IsLowSurrogate(unit)) {
        codePoint(0x10000 + ((pendingHigh_ - 0xD800) << 10) + (unit - 0xDC00));
        return;
      }
      lossy_ = true;  // the high surrogate had no partner
    }
    if (IsHighSurrogate(unit)) {
      pendingHigh_ = unit;
      hasPendingHigh_ = true;
    } else if (IsLowSurrogate(unit)) {
      lossy_ = true;
    } else {
      codePoint(unit);
    }
  }

  void markLossy() { lossy_ = true; }

  // Writes what is left; false when memory ran out.
  bool finish() {
    if (hasPendingHigh_) {
      hasPendingHigh_ = false;
      lossy_ = true;
    }
    flush();
    return !failed_;
  }

  bool lossless() const { return !lossy_; }

 private:
  void codePoint(uint32_t cp) {
    switch (codec_) {
      case Codec::Utf8:
        if (cp < 0x80) {
          byte(static_cast<uint8_t>(cp));
        } else if (cp < 0x800) {
          byte(static_cast<uint8_t>(0xC0 | (cp >> 6)));
          byte(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
          byte(static_cast<uint8_t>(0xE0 | (cp >> 12)));
          byte(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
          byte(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else {
          byte(static_cast<uint8_t>(0xF0 | (cp >> 18)));
          byte(static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
          byte(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
          byte(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        }
        return;
      case Codec::Utf16Le:
      case Codec::Utf16Be:
        if (cp < 0x10000) {
          utf16Unit(cp);
        } else {
          utf16Unit(0xD800 + ((cp - 0x10000) >> 10));
          utf16Unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        return;
      case Codec::Latin1:
        if (cp < 0x100) {
          byte(static_cast<uint8_t>(cp));
        } else {
          lossy_ = true;
        }
        return;
      case Codec::Windows1252:
        if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
          byte(static_cast<uint8_t>(cp));
          return;
        }
        for (uint32_t i = 0; i < 32; ++i) {
          if (kWindows1252High[i] != 0 && kWindows1252High[i] == cp) {
            byte(static_cast<uint8_t>(0x80 + i));
            return;
          }
        }
        lossy_ = true;
        return;
      case Codec::SevenBit:
        if (cp < 0x80) {
          byte(static_cast<uint8_t>(cp));
        } else {
          lossy_ = true;
        }
        return;
    }
  }

  void utf16Unit(uint32_t unit) {
    uint8_t low = static_cast<uint8_t>(unit & 0xFF);
    uint8_t high = static_cast<uint8_t>(unit >> 8);
    if (codec_ == Codec::Utf16Be) {
      byte(high);
      byte(low);
    } else {
      byte(low);
      byte(high);
    }
  }

  void byte(uint8_t value) {
    if (staged_ == kStageBytes) flush();
    stage_[staged_++] = value;
  }

  // Moves the staged bytes into out, growing it geometrically so long conversions stay linear.
  void flush() {
    uint32_t count = staged_;
    staged_ = 0;
    if (failed_ || count == 0) return;
    uint64_t length = out_.length();
    if (out_.capacity() - length < count) {
      uint64_t growth = std::max<uint64_t>({count, length / 2, sizeHint_});
      sizeHint_ = 0;
      uint64_t wanted = std::min<uint64_t>(length + growth, UINT32_MAX);
      if (wanted < length + count || !out_.reserve(static_cast<uint32_t>(wanted))) {
        failed_ = true;
        return;
      }
    }
    if (!out_.append(stage_, count)) failed_ = true;
  }

  Codec codec_;
  DataBuffer& out_;
  uint64_t sizeHint_;
  uint8_t stage_[kStageBytes];
  uint32_t staged_ = 0;
  uint32_t pendingHigh_ = 0;
  bool hasPendingHigh_ = false;
  bool lossy_ = false;
  bool failed_ = false;
};

// Well-formed UTF-8 only (RFC 3629): overlong forms, surrogates, values above U+10FFFF, stray
// continuation bytes and cut-off sequences are dropped. An ill-formed sequence loses its
// longest valid-looking prefix and decoding resumes at the byte that broke it.
void DecodeUtf8(const uint8_t* bytes, uint32_t length, Encoder& encoder) {
  uint32_t i = 0;
  while (i < length) {
    uint8_t lead = bytes[i];
    if (lead < 0x80) {
      encoder.unit(lead);
      ++i;
      continue;
    }
    uint32_t needed;
    uint32_t cp;
    uint8_t low = 0x80;  // the range of the next continuation byte
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      encoder.markLossy();
      ++i;
      continue;
    }
    uint32_t next = i + 1;
    uint32_t got = 0;
    while (got < needed && next < length) {
      uint8_t c = bytes[next];
      if (c < low || c > high) break;
      cp = (cp << 6) | (c & 0x3F);
      low = 0x80;
      high = 0xBF;
      ++next;
      ++got;
    }
    i = next;
    if (got < needed) {
      encoder.markLossy();
      continue;
    }
    if (cp >= 0x10000) {
      encoder.unit(0xD800 + ((cp - 0x10000) >> 10));
      encoder.unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      encoder.unit(cp);
    }
  }
}

void DecodeUtf16(const uint8_t* bytes, uint32_t length, bool bigEndian, Encoder& encoder) {
  uint32_t end = length & ~1u;
  for (uint32_t i = 0; i < end; i += 2) {
    uint32_t unit = bigEndian ? (uint32_t{bytes[i]} << 8) | bytes[i + 1]
                              : bytes[i] | (uint32_t{bytes[i + 1]} << 8);
    encoder.unit(unit);
  }
  if (length & 1) encoder.markLossy();  // half a code unit
}

void DecodeSingleByte(Codec codec, const uint8_t* bytes, uint32_t length, Encoder& encoder) {
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = bytes[i];
    if (b < 0x80 || codec == Codec::Latin1) {
      encoder.unit(b);
    } else if (codec == Codec::Windows1252) {
      uint32_t unit = b >= 0xA0 ? b : kWindows1252High[b - 0x80];
      if (unit != 0) {
        encoder.unit(unit);
      } else {
        encoder.markLossy();
      }
    } else {
      encoder.markLossy();
    }
  }
}

struct CharsetName {
  std::string_view name;
  int codePage;
};

// Lower case, with "-" where a name may also be written with "_".
constexpr CharsetName kCharsetNames[] = {
    {"utf-8", kCodePageUtf8},
    {"utf8", kCodePageUtf8},
    {"unicode-1-1-utf-8", kCodePageUtf8},
    {"unicode-2-0-utf-8", kCodePageUtf8},
    {"x-unicode-1-1-utf-8", kCodePageUtf8},
    {"x-unicode-2-0-utf-8", kCodePageUtf8},
    {"unicode", kCodePageUtf16Le},
    {"utf-16", kCodePageUtf16Le},
    {"utf16", kCodePageUtf16Le},
    {"utf-16le", kCodePageUtf16Le},
    {"ucs-2", kCodePageUtf16Le},
    {"ucs2", kCodePageUtf16Le},
    {"iso-10646-ucs-2", kCodePageUtf16Le},
    {"unicodefffe", kCodePageUtf16Be},
    {"utf-16be", kCodePageUtf16Be},
    {"iso-8859-1", kCodePageLatin1},
    {"iso-ir-100", kCodePageLatin1},
    {"iso-8859-1:1987", kCodePageLatin1},
    {"ibm819", kCodePageLatin1},
    {"cp819", kCodePageLatin1},
    {"csisolatin1", kCodePageLatin1},
    {"latin1", kCodePageLatin1},
    {"latin-1", kCodePageLatin1},
    {"windows-1252", kCodePageWindows1252},
    {"x-ansi", kCodePageWindows1252},
    {"us-ascii", kCodePageUsAscii},
    {"iso-ir-6", kCodePageUsAscii},
    {"iso646-us", kCodePageUsAscii},
    {"iso-646.irv:1991", kCodePageUsAscii},
    {"ibm367", kCodePageUsAscii},
    {"cp367", kCodePageUsAscii},
    {"csascii", kCodePageUsAscii},
    {"ansi-x3.4-1968", kCodePageUsAscii},
    {"ansi-x3.4-1986", kCodePageUsAscii},
    {"ascii", kCodePageUsAscii},
    {"ibm437", kCodePageIbm437},
    {"cp437", kCodePageIbm437},
    {"cspc8codepage437", kCodePageIbm437},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ConvertCodePage(int fromCodePage, int toCodePage, const void* bytes, uint32_t length,
                     DataBuffer& out, bool* lossless) {
  if (lossless != nullptr) *lossless = true;
  const uint8_t* input = static_cast<const uint8_t*>(bytes);
  if (input == nullptr) length = 0;

  if (toCodePage == 0 || fromCodePage == toCodePage) {
    if (length == 0 || out.append(input, length)) return true;
    if (lossless != nullptr) *lossless = false;
    return false;
  }

  Codec source;
  Codec target;
  if (!CodecForCodePage(fromCodePage, source) || !CodecForCodePage(toCodePage, target)) {
    if (lossless != nullptr) *lossless = false;
    return false;
  }

  bool bigEndian = source == Codec::Utf16Be;
  if ((source == Codec::Utf16Le || source == Codec::Utf16Be) && length >= 2) {
    if (input[0] == 0xFE && input[1] == 0xFF) {
      bigEndian = true;
      input += 2;
      length -= 2;
    } else if (input[0] == 0xFF && input[1] == 0xFE) {
      bigEndian = false;
      input += 2;
      length -= 2;
    }
  } else if (source == Codec::Utf8 && length > 2 && input[0] == 0xEF && input[1] == 0xBB &&
             input[2] == 0xBF) {
    input += 3;
    length -= 3;
  }

  // Roughly one output unit per input character: exact for most single-byte conversions.
  bool sourceWide = source == Codec::Utf16Le || source == Codec::Utf16Be;
  bool targetWide = target == Codec::Utf16Le || target == Codec::Utf16Be;
  uint64_t characters = sourceWide ? length / 2 : length;
  Encoder encoder(target, out, targetWide ? characters * 2 : characters);

  switch (source) {
    case Codec::Utf8:
      DecodeUtf8(input, length, encoder);
      break;
    case Codec::Utf16Le:
    case Codec::Utf16Be:
      DecodeUtf16(input, length, bigEndian, encoder);
      break;
    case Codec::Latin1:
    case Codec::Windows1252:
    case Codec::SevenBit:
      DecodeSingleByte(source, input, length, encoder);
      break;
  }
  bool ok = encoder.finish();
  if (lossless != nullptr) *lossless = ok && encoder.lossless();
  return ok;
}

int CodePageForCharsetName(const char* name) {
  if (name == nullptr) return 0;
  std::string_view text(name);
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.size() < 3 || text.size() > kMaxCharsetNameLength) return 0;

  char folded[kMaxCharsetNameLength];
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c == '_') c = '-';
    folded[i] = c;
  }
  std::string_view key(folded, text.size());
  if (key == "ansi") return AnsiCodePage();
  for (const CharsetName& entry : kCharsetNames) {
    if (entry.name == key) return entry.codePage;
  }
  return 0;
}

}  // namespace quillon
