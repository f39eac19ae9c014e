#include "base/charset/codec_unicode.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

// Units gathered before a sink sees them: big enough that the per-block cost vanishes,
// small enough for the stack.
constexpr size_t kStageUnits = 4096;

bool IsHigh(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Collects units for a sink; flushes a full block.
class Stage {
 public:
  explicit Stage(UnitSink& sink) : sink_(sink) {}
  void push(char16_t unit) {
    if (count_ == kStageUnits) flush();
    units_[count_++] = unit;
  }
  bool flush() {
    if (count_ != 0 && !failed_ && !sink_.put(units_, count_)) failed_ = true;
    count_ = 0;
    return !failed_;
  }
  bool failed() const { return failed_; }

 private:
  UnitSink& sink_;
  char16_t units_[kStageUnits];
  size_t count_ = 0;
  bool failed_ = false;
};

uint8_t* PutUtf8(uint8_t* p, uint32_t cp) {
  if (cp < 0x80) {
    *p++ = static_cast<uint8_t>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<uint8_t>(0xC0 | (cp >> 6));
    *p++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<uint8_t>(0xE0 | (cp >> 12));
    *p++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<uint8_t>(0xF0 | (cp >> 18));
    *p++ = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  }
  return p;
}

// The length of the well-formed UTF-8 sequence at p (RFC 3629 table 3-7), 0 when ill-formed
// or cut off; *cp gets its value.
uint32_t ReadUtf8(const uint8_t* p, uint32_t left, uint32_t* cp) {
  uint8_t b = p[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  uint32_t need;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (b < 0xC2) return 0;
  if (b < 0xE0) {
    need = 1;
    *cp = b & 0x1F;
  } else if (b < 0xF0) {
    need = 2;
    *cp = b & 0x0F;
    if (b == 0xE0) low = 0xA0;   // overlong
    if (b == 0xED) high = 0x9F;  // encoded surrogates
  } else if (b < 0xF5) {
    need = 3;
    *cp = b & 0x07;
    if (b == 0xF0) low = 0x90;   // overlong
    if (b == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (left <= need) return 0;
  for (uint32_t k = 1; k <= need; ++k) {
    uint8_t c = p[k];
    if (c < low || c > high) return 0;
    low = 0x80;
    high = 0xBF;
    *cp = (*cp << 6) | (c & 0x3F);
  }
  return need + 1;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsUtf7Direct(uint32_t unit) {
  if ((unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z') ||
      (unit >= '0' && unit <= '9')) {
    return true;
  }
  switch (unit) {
    case '\'':
    case '(':
    case ')':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '?':
    case ' ':
    case '\t':
    case '\r':
    case '\n':
      return true;
    default:
      return false;
  }
}

}  // namespace

uint8_t* ByteWriter::room(size_t count) {
  if (failed_) return nullptr;
  uint64_t length = out_.length();
  uint64_t need = length + count;
  if (need > out_.capacity() || out_.data() == nullptr || out_.isBorrowed()) {
    uint64_t wanted = std::max<uint64_t>({need, length + length / 2, 16});
    if (wanted > UINT32_MAX) wanted = need;
    if (wanted > UINT32_MAX || !out_.reserve(static_cast<uint32_t>(wanted))) {
      failed_ = true;
      return nullptr;
    }
  }
  return out_.data() + length;
}

void ByteWriter::commit(const uint8_t* end) {
  out_.setLength(static_cast<uint32_t>(end - out_.data()));
}

bool ByteWriter::append(const void* bytes, size_t count) {
  if (count == 0) return !failed_;
  uint8_t* p = room(count);
  if (p == nullptr) return false;
  std::memcpy(p, bytes, count);
  commit(p + count);
  return true;
}

bool Utf16LeSink::put(const char16_t* units, size_t count) {
  uint8_t* p = writer_.room(count * 2);
  if (p == nullptr) return false;
  for (size_t i = 0; i < count; ++i) {
    *p++ = static_cast<uint8_t>(units[i] & 0xFF);
    *p++ = static_cast<uint8_t>(units[i] >> 8);
  }
  writer_.commit(p);
  return true;
}

bool Utf8Encoder::put(const char16_t* units, size_t count) {
  uint8_t* p = writer_.room(count * 3 + 4);
  if (p == nullptr) return false;
  for (size_t i = 0; i < count; ++i) {
    uint32_t unit = units[i];
    if (unit < 0x80 && pendingHigh_ == 0) {
      if (unit != 0) *p++ = static_cast<uint8_t>(unit);
      continue;
    }
    if (pendingHigh_ != 0) {
      uint32_t high = pendingHigh_;
      pendingHigh_ = 0;
      if (IsLow(unit)) {
        p = PutUtf8(p, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
        continue;
      }
      encoded_ = false;  // the high surrogate had no partner
    }
    if (IsHigh(unit)) {
      pendingHigh_ = static_cast<char16_t>(unit);
    } else if (IsLow(unit)) {
      encoded_ = false;
    } else if (unit != 0) {
      p = PutUtf8(p, unit);
    }
  }
  writer_.commit(p);
  return true;
}

bool Utf8Encoder::finish() {
  if (pendingHigh_ != 0) {
    pendingHigh_ = 0;
    encoded_ = false;
  }
  return encoded_ && !writer_.failed();
}

bool FeedUtf16Le(const uint8_t* bytes, uint32_t length, UnitSink& sink) {
  char16_t units[kStageUnits];
  uint32_t whole = length / 2;
  for (uint32_t done = 0; done < whole;) {
    uint32_t take = std::min<uint32_t>(whole - done, kStageUnits);
    const uint8_t* p = bytes + size_t{done} * 2;
    for (uint32_t i = 0; i < take; ++i) {
      units[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    if (!sink.put(units, take)) return false;
    done += take;
  }
  return true;
}

bool DecodeUtf8(const uint8_t* bytes, uint32_t length, UnitSink& sink, uint32_t* invalid) {
  Stage stage(sink);
  uint32_t i = 0;
  while (i < length) {
    uint8_t b = bytes[i];
    if (b < 0x80) {
      stage.push(b);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    uint32_t used = ReadUtf8(bytes + i, length - i, &cp);
    if (used == 0) {
      ++*invalid;
      ++i;
      continue;
    }
    i += used;
    if (cp >= 0x10000) {
      stage.push(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      stage.push(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      stage.push(static_cast<char16_t>(cp));
    }
    if (stage.failed()) return false;
  }
  return stage.flush();
}

CodecResult Utf32ToUtf8(const uint8_t* bytes, uint32_t length, bool bigEndian, DataBuffer& out) {
  ByteWriter writer(out);
  uint32_t count = length / 4;
  uint8_t* p = writer.room(size_t{count} * 4);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* q = bytes + size_t{k} * 4;
    uint32_t value = bigEndian ? (uint32_t{q[0]} << 24) | (q[1] << 16) | (q[2] << 8) | q[3]
                               : (uint32_t{q[3]} << 24) | (q[2] << 16) | (q[1] << 8) | q[0];
    p = PutUtf8(p, value < 0x200000 ? value : 0xFFFD);
  }
  writer.commit(p);
  return length % 4 == 0 ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult Utf8ToUtf32(const uint8_t* bytes, uint32_t length, bool bigEndian, DataBuffer& out) {
  ByteWriter writer(out);
  uint8_t* p = writer.room(size_t{length} * 4);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  bool ok = true;
  for (uint32_t i = 0; i < length;) {
    uint32_t cp = 0;
    uint32_t used = ReadUtf8(bytes + i, length - i, &cp);
    if (used == 0) {
      ok = false;
      break;
    }
    i += used;
    uint8_t b[4] = {static_cast<uint8_t>(cp), static_cast<uint8_t>(cp >> 8),
                    static_cast<uint8_t>(cp >> 16), static_cast<uint8_t>(cp >> 24)};
    for (int k = 0; k < 4; ++k) *p++ = bigEndian ? b[3 - k] : b[k];
  }
  writer.commit(p);
  return ok ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult DecodeUtf7(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  Utf16LeSink sink(out);
  Stage stage(sink);
  bool clean = true;
  uint32_t i = 0;
  while (i < length) {
    uint8_t c = bytes[i++];
    if (c != '+') {
      if (c < 0x80) {
        stage.push(c);
      } else {
        clean = false;  // not a UTF-7 byte
      }
      continue;
    }
    if (i < length && bytes[i] == '-') {  // "+-" is a plus sign
      stage.push('+');
      ++i;
      continue;
    }
    uint32_t bits = 0;
    int bitCount = 0;
    while (i < length) {
      int value = Base64Value(bytes[i]);
      if (value < 0) break;
      ++i;
      bits = (bits << 6) | static_cast<uint32_t>(value);
      bitCount += 6;
      if (bitCount >= 16) {
        bitCount -= 16;
        stage.push(static_cast<char16_t>((bits >> bitCount) & 0xFFFF));
      }
    }
    // RFC 2152: the bits left over at the end of a run must be fewer than six and zero.
    if (bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0) clean = false;
    if (i < length && bytes[i] == '-') ++i;  // the run's terminator is absorbed
  }
  if (!stage.flush()) return CodecResult::kOutOfMemory;
  return clean ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult EncodeUtf7(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  ByteWriter writer(out);
  uint32_t count = length / 2;
  // Worst case: every unit alone in a run, "+" three Base64 digits "-".
  uint8_t* p = writer.room(size_t{count} * 5 + 4);
  if (p == nullptr) return CodecResult::kOutOfMemory;
  bool inRun = false;
  uint32_t bits = 0;
  int bitCount = 0;
  auto closeRun = [&]() {
    if (!inRun) return;
    if (bitCount > 0) *p++ = static_cast<uint8_t>(kBase64[(bits << (6 - bitCount)) & 0x3F]);
    *p++ = '-';
    inRun = false;
    bits = 0;
    bitCount = 0;
  };
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t unit = bytes[2 * k] | (bytes[2 * k + 1] << 8);
    if (k == 0 && unit == 0xFEFF) continue;
    if (IsUtf7Direct(unit)) {
      closeRun();
      *p++ = static_cast<uint8_t>(unit);
    } else if (unit == '+') {
      closeRun();
      *p++ = '+';
      *p++ = '-';
    } else {
      if (!inRun) {
        *p++ = '+';
        inRun = true;
      }
      bits = (bits << 16) | unit;
      bitCount += 16;
      while (bitCount >= 6) {
        bitCount -= 6;
        *p++ = static_cast<uint8_t>(kBase64[(bits >> bitCount) & 0x3F]);
      }
      bits &= (1u << bitCount) - 1;
    }
  }
  closeRun();
  writer.commit(p);
  return length % 2 == 0 ? CodecResult::kOk : CodecResult::kDropped;
}

CodecResult SwapByteOrder(const uint8_t* bytes, uint32_t length, uint32_t width, DataBuffer& out) {
  uint32_t whole = length - length % width;
  if (whole != 0) {
    ByteWriter writer(out);
    uint8_t* p = writer.room(whole);
    if (p == nullptr) return CodecResult::kOutOfMemory;
    for (uint32_t i = 0; i < whole; i += width) {
      for (uint32_t k = 0; k < width; ++k) p[i + k] = bytes[i + width - 1 - k];
    }
    writer.commit(p + whole);
  }
  return whole == length ? CodecResult::kOk : CodecResult::kDropped;
}

}  // namespace quillon
