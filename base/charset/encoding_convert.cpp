#include "base/charset/encoding_convert.h"

#include "base/charset/charset.h"
#include "base/charset/codec_iso2022.h"
#include "base/charset/codec_table.h"
#include "base/charset/codec_unicode.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

bool IsIso2022Jp(int codePage) {
  return codePage >= kCodePageIso2022JpFirst && codePage <= kCodePageIso2022JpLast;
}

// The bytes of x-mac-arabic that take right-to-left direction.
bool IsMacArabicRightToLeft(uint8_t b) {
  return b == 0x81 || b == 0x8C || b == 0x93 || b == 0x98 || b == 0x9B ||
         (b >= 0xA0 && b <= 0xA4) || (b >= 0xA6 && b <= 0xAB) || (b >= 0xAD && b <= 0xBA) ||
         (b >= 0xBC && b <= 0xBE) || b == 0xC0 || (b >= 0xDB && b <= 0xDF) ||
         (b >= 0xFB && b <= 0xFD);
}

uint8_t RecodeMacArabic(uint8_t b) {
  if (b == 0x81) return 0xA0;
  if ((b >= 0xA0 && b <= 0xAF && b != 0xA5 && b != 0xAC) || (b >= 0xB0 && b <= 0xBA) ||
      (b >= 0xBC && b <= 0xBE) || (b >= 0xDB && b <= 0xDF) || (b >= 0xFB && b <= 0xFD)) {
    return static_cast<uint8_t>(b - 0x80);
  }
  return b;
}

void Reverse(uint8_t* first, uint8_t* last) {
  while (first < last) {
    uint8_t t = *first;
    *first++ = *--last;
    *last = t;
  }
}

// Puts x-mac-arabic text from visual into logical order: runs of right-to-left neutrals
// (digits, punctuation) are reversed, and those bytes re-coded to their plain forms.
bool MacArabicToLogical(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  if (length == 0) return true;
  if (!out.append(bytes, length)) return false;
  uint8_t* p = out.data();
  uint32_t runStart = 0;
  bool inRun = false;
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = p[i];
    if (b >= 0x20 && IsMacArabicRightToLeft(b)) {
      if (!inRun) runStart = i;
      inRun = true;
    } else if (inRun) {
      if (i - runStart > 1) Reverse(p + runStart, p + i);
      inRun = false;
    }
    p[i] = RecodeMacArabic(b);
  }
  if (inRun && length - runStart > 1) Reverse(p + runStart, p + length);
  return true;
}

// Makes room up front for the expected output.
bool ReserveExtra(DataBuffer& out, uint64_t extra) {
  uint64_t wanted = out.length() + extra;
  if (wanted > UINT32_MAX) return true;  // the writers grow step by step instead
  return out.reserve(static_cast<uint32_t>(wanted));
}

}  // namespace

void EncodingConvert::begin(int fromCodePage, int toCodePage) {
  fromCodePage_ = fromCodePage;
  toCodePage_ = toCodePage;
  unsupported_ = false;
  outOfMemory_ = false;
  dropped_ = false;
}

bool EncodingConvert::note(bool result) {
  if (!result) dropped_ = true;
  return result;
}

bool EncodingConvert::fail() {
  outOfMemory_ = true;
  return false;
}

bool EncodingConvert::copy(const uint8_t* bytes, uint32_t length, DataBuffer& out) {
  if (length == 0 || out.append(bytes, length)) return true;
  return fail();
}

bool EncodingConvert::convert(int fromCodePage, int toCodePage, const void* bytes, uint32_t length,
                              DataBuffer& out) {
  begin(fromCodePage, toCodePage);
  const uint8_t* input = static_cast<const uint8_t*>(bytes);
  if (input == nullptr) length = 0;
  return convertSteps(fromCodePage, toCodePage, input, length, out);
}

bool EncodingConvert::convertSteps(int from, int to, const uint8_t* bytes, uint32_t length,
                                   DataBuffer& out) {
  if (to == 0 || from == to) return copy(bytes, length, out);

  if (from == kCodePageMacArabic) {
    DataBuffer logical;
    if (!MacArabicToLogical(bytes, length, logical)) return fail();
    return convertTarget(from, to, logical.data(), logical.length(), out);
  }
  if (IsIso2022Jp(from) || from == kCodePageIso2022Kr) {
    bool japanese = IsIso2022Jp(from);
    DataBuffer decoded;
    CodecResult r = japanese ? DecodeIso2022Jp(bytes, length, decoded)
                             : DecodeIso2022Kr(bytes, length, decoded);
    if (r == CodecResult::kOutOfMemory) return fail();
    if (r == CodecResult::kDropped) dropped_ = true;
    if (decoded.isEmpty()) return true;
    return convertSteps(japanese ? kCodePageShiftJis : kCodePageKorean, to, decoded.data(),
                        decoded.length(), out);
  }
  return convertTarget(from, to, bytes, length, out);
}

bool EncodingConvert::convertTarget(int from, int to, const uint8_t* bytes, uint32_t length,
                                    DataBuffer& out) {
  if (to == kCodePageUtf16Be) {
    DataBuffer wide;
    bool result = core(from, kCodePageUtf16Le, bytes, length, wide);
    if (unsupported_ || outOfMemory_) return false;
    if (SwapByteOrder(wide.data(), wide.length(), 2, out) == CodecResult::kOutOfMemory) {
      return fail();
    }
    // The core's result, so that a dropped character is not reported as a clean conversion.
    return result;
  }
  if (IsIso2022Jp(to) || to == kCodePageIso2022Kr) {
    bool japanese = IsIso2022Jp(to);
    DataBuffer pivot;
    bool result = core(from, japanese ? kCodePageShiftJis : kCodePageKorean, bytes, length, pivot);
    if (unsupported_ || outOfMemory_) return false;
    CodecResult r = japanese ? EncodeIso2022Jp(pivot.data(), pivot.length(), out)
                             : EncodeIso2022Kr(pivot.data(), pivot.length(), out);
    if (r == CodecResult::kOutOfMemory) return fail();
    return note(r == CodecResult::kOk) && result;
  }
  if (to == kCodePageUtf7) {
    DataBuffer wide;
    if (!core(from, kCodePageUtf16Le, bytes, length, wide)) return false;
    if (EncodeUtf7(wide.data(), wide.length(), out) == CodecResult::kOutOfMemory) return fail();
    return true;
  }
  if (to == kCodePageUtf32Le || to == kCodePageUtf32Be) {
    DataBuffer utf8;
    if (!core(from, kCodePageUtf8, bytes, length, utf8)) return false;
    CodecResult r = Utf8ToUtf32(utf8.data(), utf8.length(), to == kCodePageUtf32Be, out);
    if (r == CodecResult::kOutOfMemory) return fail();
    return note(r == CodecResult::kOk);
  }
  return core(from, to, bytes, length, out);
}

bool EncodingConvert::core(int from, int to, const uint8_t* bytes, uint32_t length,
                           DataBuffer& out) {
  // Byte-order marks of the source.
  if ((from == kCodePageUtf16Le || from == kCodePageUtf16Be) && length >= 2) {
    bool mark = true;
    if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
      from = kCodePageUtf16Be;
    } else if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
      from = kCodePageUtf16Le;
    } else {
      mark = false;
    }
    if (mark) {
      bytes += 2;
      length -= 2;
      if (length == 0) return true;
    }
  } else if (from == kCodePageUtf8 && length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB &&
             bytes[2] == 0xBF) {
    bytes += 3;
    length -= 3;
    if (length == 0) return true;
  }
  if (from == to) return copy(bytes, length, out);

  // Bring the source to UTF-16LE, UTF-8 or a table code page.
  DataBuffer source;
  if (from == kCodePageUtf16Be) {
    if (length < 2) {
      if (length != 0) dropped_ = true;
      return true;
    }
    CodecResult r = SwapByteOrder(bytes, length, 2, source);
    if (r == CodecResult::kOutOfMemory) return fail();
    if (r == CodecResult::kDropped) dropped_ = true;
    from = kCodePageUtf16Le;
  } else if (from == kCodePageUtf32Le || from == kCodePageUtf32Be) {
    if (length < 4) {
      if (length != 0) dropped_ = true;
      return true;
    }
    CodecResult r = Utf32ToUtf8(bytes, length, from == kCodePageUtf32Be, source);
    if (r == CodecResult::kOutOfMemory) return fail();
    if (r == CodecResult::kDropped) dropped_ = true;
    from = kCodePageUtf8;
  } else if (from == kCodePageUtf7) {
    CodecResult r = DecodeUtf7(bytes, length, source);
    if (r == CodecResult::kOutOfMemory) return fail();
    if (r == CodecResult::kDropped) dropped_ = true;
    from = kCodePageUtf16Le;
  } else {
    return dispatch(from, to, bytes, length, out);
  }
  return dispatch(from, to, source.data(), source.length(), out);
}

bool EncodingConvert::dispatch(int from, int to, const uint8_t* bytes, uint32_t length,
                               DataBuffer& out) {
  // The table of a table target is needed before anything is written.
  const CodeTable* target = nullptr;
  if (to != kCodePageUtf16Le && to != kCodePageUtf8) {
    target = CodeTableFor(to);
    if (target == nullptr) {
      if (HasCodeTable(to)) return fail();
      unsupported_ = true;
      return false;
    }
  }

  if (from == kCodePageUtf16Le) {
    if (to == kCodePageUtf16Le) return copy(bytes, length, out);
    bool whole = length % 2 == 0;
    if (!ReserveExtra(out, length / 2 + 4)) return fail();
    if (to == kCodePageUtf8) {
      Utf8Encoder encoder(out);
      if (!FeedUtf16Le(bytes, length, encoder)) return fail();
      return note(encoder.finish() && whole);
    }
    TableEncoder encoder(*target, to, out);
    if (!FeedUtf16Le(bytes, length, encoder)) return fail();
    return note(encoder.result() && whole);
  }

  if (from == kCodePageUtf8) {
    uint32_t invalid = 0;
    bool result = true;
    if (to == kCodePageUtf16Le) {
      if (!ReserveExtra(out, uint64_t{length} * 2)) return fail();
      Utf16LeSink sink(out);
      if (!DecodeUtf8(bytes, length, sink, &invalid)) return fail();
    } else if (to == kCodePageUtf8) {
      // Only reached from UTF-32: the round trip cleans invalid sequences.
      if (!ReserveExtra(out, length)) return fail();
      Utf8Encoder encoder(out);
      if (!DecodeUtf8(bytes, length, encoder, &invalid)) return fail();
      note(encoder.finish());
    } else {
      if (!ReserveExtra(out, uint64_t{length} * 2 + 4)) return fail();
      TableEncoder encoder(*target, to, out);
      if (!DecodeUtf8(bytes, length, encoder, &invalid)) return fail();
      result = note(encoder.result());
    }
    if (invalid != 0) dropped_ = true;
    return result;
  }

  const CodeTable* source = CodeTableFor(from);
  if (source == nullptr) {
    if (HasCodeTable(from)) return fail();
    unsupported_ = true;
    return false;
  }
  if (to == kCodePageUtf16Le) {
    if (!ReserveExtra(out, uint64_t{length} * 2)) return fail();
    Utf16LeSink sink(out);
    bool decoded = DecodeWithTable(*source, bytes, length, sink);
    if (!decoded && sink.failed()) return fail();
    return note(decoded);
  }
  // Two steps; the result is the encoder's alone.
  if (!ReserveExtra(out, uint64_t{length} * 2 + 4)) return fail();
  if (to == kCodePageUtf8) {
    Utf8Encoder encoder(out);
    bool decoded = DecodeWithTable(*source, bytes, length, encoder);
    if (encoder.outOfMemory()) return fail();
    if (!decoded) dropped_ = true;
    return note(encoder.finish());
  }
  TableEncoder encoder(*target, to, out);
  bool decoded = DecodeWithTable(*source, bytes, length, encoder);
  if (encoder.outOfMemory()) return fail();
  if (!decoded) dropped_ = true;
  return note(encoder.result());
}

bool EncodingConvert::convertNamed(const char* fromName, const char* toName, const void* bytes,
                                   uint32_t length, DataBuffer& out) {
  int from = codePageForName(fromName);
  int to = codePageForName(toName);
  if (from == 0 || to == 0) return refuseUnknown(from, to);
  return convert(from, to, bytes, length, out);
}

bool EncodingConvert::convertFromName(const char* fromName, int toCodePage, const void* bytes,
                                      uint32_t length, DataBuffer& out) {
  int from = codePageForName(fromName);
  if (from == 0) return refuseUnknown(from, toCodePage);
  return convert(from, toCodePage, bytes, length, out);
}

bool EncodingConvert::convertToName(int fromCodePage, const char* toName, const void* bytes,
                                    uint32_t length, DataBuffer& out) {
  int to = codePageForName(toName);
  if (to == 0) return refuseUnknown(fromCodePage, to);
  return convert(fromCodePage, to, bytes, length, out);
}

bool EncodingConvert::refuseUnknown(int from, int to) {
  begin(from, to);
  unsupported_ = true;
  return false;
}

bool EncodingConvert::convertWithPreamble(int fromCodePage, int toCodePage, const void* bytes,
                                          uint32_t length, DataBuffer& out) {
  if (toCodePage == 0) toCodePage = fromCodePage;
  static const uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
  static const uint8_t kUtf16BeMark[] = {0xFE, 0xFF};
  static const uint8_t kUtf16LeMark[] = {0xFF, 0xFE};
  bool marked = true;
  if (toCodePage == kCodePageUtf8) {
    marked = out.append(kUtf8Mark, sizeof(kUtf8Mark));
  } else if (toCodePage == kCodePageUtf16Be) {
    marked = out.append(kUtf16BeMark, sizeof(kUtf16BeMark));
  } else if (toCodePage == kCodePageUtf16Le) {
    marked = out.append(kUtf16LeMark, sizeof(kUtf16LeMark));
  }
  if (!marked) {
    begin(fromCodePage, toCodePage);
    return fail();
  }
  return convert(fromCodePage, toCodePage, bytes, length, out);
}

}  // namespace quillon
