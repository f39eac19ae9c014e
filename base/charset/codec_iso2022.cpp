#include "base/charset/codec_iso2022.h"

#include "base/charset/codec_unicode.h"

namespace quillon {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kShiftOut = 0x0E;
constexpr uint8_t kShiftIn = 0x0F;

// JIS X 0208 codes of the full-width forms of the half-width katakana 0xA1-0xDF.
constexpr uint16_t kFullWidthKana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527, 0x2529,
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B,
    0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541,
    0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555,
    0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,
};
constexpr uint8_t kVoicedMark = 0xDE;
constexpr uint8_t kSemiVoicedMark = 0xDF;

bool InRange(uint32_t c, uint32_t low, uint32_t high) { return c >= low && c <= high; }

void JisToShiftJis(uint32_t j1, uint32_t j2, uint8_t* out) {
  uint32_t s1 = ((j1 - 0x21) >> 1) + 0x81;
  if (s1 > 0x9F) s1 += 0x40;
  uint32_t s2;
  if (j1 & 1) {
    s2 = j2 + 0x1F;
    if (s2 >= 0x7F) ++s2;
  } else {
    s2 = j2 + 0x7E;
  }
  out[0] = static_cast<uint8_t>(s1);
  out[1] = static_cast<uint8_t>(s2);
}

bool IsShiftJisLead(uint32_t c) { return InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xFC); }
bool IsShiftJisTrail(uint32_t c) { return InRange(c, 0x40, 0xFC) && c != 0x7F; }

uint32_t ShiftJisToJis(uint32_t s1, uint32_t s2) {
  if (s1 >= 0xE0) s1 -= 0x40;
  uint32_t j1 = (s1 - 0x81) * 2 + 0x21;
  uint32_t j2;
  if (s2 >= 0x9F) {
    ++j1;
    j2 = s2 - 0x7E;
  } else {
    j2 = s2 - 0x1F;
    if (s2 >= 0x80) --j2;
  }
  return (j1 << 8) | j2;
}

}  // namespace

CodecResult DecodeIso2022Jp(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  enum class Mode { kAscii, kJis, kKatakana } mode = Mode::kAscii;
  bool shiftedOut = false;
  ByteWriter writer(out);
  uint8_t* p = writer.room(length);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  bool clean = true;
  uint32_t i = 0;
  while (i < length) {
    uint8_t c = bytes[i];
    if (c == kEsc) {
      uint8_t a = i + 1 < length ? bytes[i + 1] : 0;
      uint8_t b = i + 2 < length ? bytes[i + 2] : 0;
      if (a == '$' && (b == '@' || b == 'B')) {
        mode = Mode::kJis;
      } else if (a == '(' && (b == 'B' || b == 'J')) {
        mode = Mode::kAscii;
      } else if (a == '(' && b == 'I') {
        mode = Mode::kKatakana;
      } else {
        clean = false;  // an escape sequence of another set: its text would be garbage
        ++i;
        continue;
      }
      i += 3;
      continue;
    }
    if (c == kShiftOut || c == kShiftIn) {
      shiftedOut = c == kShiftOut;
      ++i;
      continue;
    }
    if ((shiftedOut || mode == Mode::kKatakana) && InRange(c, 0x21, 0x5F)) {
      *p++ = static_cast<uint8_t>(c + 0x80);
      ++i;
    } else if (mode == Mode::kJis && InRange(c, 0x21, 0x7E)) {
      if (i + 1 < length && InRange(bytes[i + 1], 0x21, 0x7E)) {
        JisToShiftJis(c, bytes[i + 1], p);
        p += 2;
        i += 2;
      } else {
        clean = false;
        ++i;
      }
    } else if (c < 0x80) {
      *p++ = c;
      ++i;
    } else {
      clean = false;  // eight-bit bytes are not ISO-2022-JP
      ++i;
    }
  }
  writer.commit(p);
  return clean ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult EncodeIso2022Jp(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  ByteWriter writer(out);
  // Worst case: every character switches sets (3 bytes) and takes 2 bytes.
  uint8_t* p = writer.room(size_t{length} * 5 + 3);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  bool inJis = false;
  bool clean = true;
  auto toJis = [&]() {
    if (inJis) return;
    *p++ = kEsc;
    *p++ = '$';
    *p++ = 'B';
    inJis = true;
  };
  auto toAscii = [&]() {
    if (!inJis) return;
    *p++ = kEsc;
    *p++ = '(';
    *p++ = 'B';
    inJis = false;
  };
  auto putJis = [&](uint32_t code) {
    toJis();
    *p++ = static_cast<uint8_t>(code >> 8);
    *p++ = static_cast<uint8_t>(code);
  };
  uint32_t i = 0;
  while (i < length) {
    uint8_t c = bytes[i];
    if (IsShiftJisLead(c) && i + 1 < length && IsShiftJisTrail(bytes[i + 1])) {
      // Lead bytes past 0xEF (user-defined and IBM rows) have no JIS X 0208 code.
      if (c <= 0xEF) {
        putJis(ShiftJisToJis(c, bytes[i + 1]));
      } else {
        clean = false;
      }
      i += 2;
    } else if (InRange(c, 0xA1, 0xDF)) {
      uint32_t code = kFullWidthKana[c - 0xA1];
      ++i;
      uint8_t next = i < length ? bytes[i] : 0;
      bool voicedRow = InRange(c, 0xB6, 0xC4) || InRange(c, 0xCA, 0xCE);
      if (next == kVoicedMark && voicedRow) {
        ++code;
        ++i;
      } else if (next == kVoicedMark && c == 0xB3) {
        code = 0x2574;  // VU
        ++i;
      } else if (next == kSemiVoicedMark && InRange(c, 0xCA, 0xCE)) {
        code += 2;
        ++i;
      }
      putJis(code);
    } else if (c < 0x80) {
      toAscii();
      *p++ = c;
      ++i;
    } else {
      clean = false;
      ++i;
    }
  }
  toAscii();
  writer.commit(p);
  return clean ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult DecodeIso2022Kr(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  ByteWriter writer(out);
  uint8_t* p = writer.room(length);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  bool doubleByte = false;
  bool clean = true;
  uint32_t i = 0;
  while (i < length) {
    uint8_t c = bytes[i];
    if (c == kEsc && i + 3 < length && bytes[i + 1] == '$' && bytes[i + 2] == ')' &&
        bytes[i + 3] == 'C') {
      i += 4;
    } else if (c == kShiftOut || c == kShiftIn) {
      doubleByte = c == kShiftOut;
      ++i;
    } else if (doubleByte && InRange(c, 0x21, 0x7E)) {
      if (i + 1 < length && InRange(bytes[i + 1], 0x21, 0x7E)) {
        *p++ = static_cast<uint8_t>(c | 0x80);
        *p++ = static_cast<uint8_t>(bytes[i + 1] | 0x80);
        i += 2;
      } else {
        clean = false;
        ++i;
      }
    } else if (c < 0x80 && c != kEsc) {
      *p++ = c;
      ++i;
    } else {
      clean = false;
      ++i;
    }
  }
  writer.commit(p);
  return clean ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult EncodeIso2022Kr(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  if (length == 0) return CodecResult::kOk;
  ByteWriter writer(out);
  uint8_t* p = writer.room(size_t{length} * 2 + 5);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  const uint8_t kDesignator[] = {kEsc, '$', ')', 'C'};
  for (uint8_t b : kDesignator) *p++ = b;
  bool shiftedOut = false;
  bool clean = true;
  uint32_t i = 0;
  while (i < length) {
    uint8_t c = bytes[i];
    if (c >= 0x81 && c != 0xFF && i + 1 < length && bytes[i + 1] >= 0x41) {
      uint8_t c2 = bytes[i + 1];
      if (InRange(c, 0xA1, 0xFE) && InRange(c2, 0xA1, 0xFE)) {
        if (!shiftedOut) *p++ = kShiftOut;
        shiftedOut = true;
        *p++ = static_cast<uint8_t>(c - 0x80);
        *p++ = static_cast<uint8_t>(c2 - 0x80);
      } else {
        clean = false;  // a code page 949 extension outside KS X 1001
      }
      i += 2;
    } else if (c < 0x80) {
      if (shiftedOut) *p++ = kShiftIn;
      shiftedOut = false;
      *p++ = c;
      ++i;
    } else {
      clean = false;
      ++i;
    }
  }
  if (shiftedOut) *p++ = kShiftIn;
  writer.commit(p);
  return clean ? CodecResult::kOk : CodecResult::kDropped;
}

}  // namespace quillon
