// Converts bytes between code pages on the library's own codecs, pivoting through UTF-16LE:
// UTF-8/16/32, UTF-7, ISO-2022-JP/KR and the table-driven single- and multi-byte pages.
// Unmappable characters are dropped silently; nothing is logged and nothing is replaced.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"

namespace quillon {

inline constexpr int kCodePageUtf7 = 65000;
inline constexpr int kCodePageUtf32Le = 65005;
inline constexpr int kCodePageUtf32Be = 65006;
inline constexpr int kCodePageShiftJis = 932;
inline constexpr int kCodePageKorean = 949;
inline constexpr int kCodePageMacArabic = 10004;
inline constexpr int kCodePageIso2022JpFirst = 50220;
inline constexpr int kCodePageIso2022JpLast = 50222;
inline constexpr int kCodePageIso2022Kr = 50225;

// One conversion at a time; create one on the stack per conversion.
class EncodingConvert {
 public:
  EncodingConvert() = default;
  EncodingConvert(const EncodingConvert&) = delete;
  EncodingConvert& operator=(const EncodingConvert&) = delete;

  // Appends the bytes converted from one code page to another. True when every character
  // found a mapping; false when something was dropped or the conversion is unsupported.
  // Output already produced stays in out. A target of 0, or equal to the source, copies.
  bool convert(int fromCodePage, int toCodePage, const void* bytes, uint32_t length,
               DataBuffer& out);
  // The same with charset names; an unrecognised name gives false with nothing written.
  bool convertNamed(const char* fromName, const char* toName, const void* bytes, uint32_t length,
                    DataBuffer& out);
  bool convertFromName(const char* fromName, int toCodePage, const void* bytes, uint32_t length,
                       DataBuffer& out);
  bool convertToName(int fromCodePage, const char* toName, const void* bytes, uint32_t length,
                     DataBuffer& out);
  // Appends the target's byte-order mark (UTF-8, UTF-16LE/BE only), then converts; a target
  // of 0 means the source code page.
  bool convertWithPreamble(int fromCodePage, int toCodePage, const void* bytes, uint32_t length,
                           DataBuffer& out);

  // What the last call met, beyond its result: a code page with no codec (nothing written),
  // memory running out, and any byte or character dropped (invalid UTF-8 included, which the
  // result does not count).
  bool unsupported() const { return unsupported_; }
  bool outOfMemory() const { return outOfMemory_; }
  bool droppedAny() const { return dropped_; }

  int fromCodePage() const { return fromCodePage_; }
  int toCodePage() const { return toCodePage_; }

 private:
  void begin(int fromCodePage, int toCodePage);
  bool convertSteps(int from, int to, const uint8_t* bytes, uint32_t length, DataBuffer& out);
  bool convertTarget(int from, int to, const uint8_t* bytes, uint32_t length, DataBuffer& out);
  bool core(int from, int to, const uint8_t* bytes, uint32_t length, DataBuffer& out);
  bool dispatch(int from, int to, const uint8_t* bytes, uint32_t length, DataBuffer& out);
  bool copy(const uint8_t* bytes, uint32_t length, DataBuffer& out);
  // Notes a drop and passes the result through.
  bool note(bool result);
  bool fail();
  // Ends a conversion whose charset name resolved to no code page (0): unsupported, false.
  bool refuseUnknown(int from, int to);

  int fromCodePage_ = 0;
  int toCodePage_ = 0;
  bool unsupported_ = false;
  bool outOfMemory_ = false;
  bool dropped_ = false;
};

}  // namespace quillon
