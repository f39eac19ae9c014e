// The one place where base/ converts text between code pages: a thin seam over
// EncodingConvert and the charset name resolver (base/charset/encoding_convert.h,
// base/charset/charset.h), reporting loss separately from failure. Nothing is logged: callers
// decide.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"

namespace quillon {

inline constexpr int kCodePageUtf16Le = 1200;
inline constexpr int kCodePageUtf16Be = 1201;
inline constexpr int kCodePageLatin1 = 28591;
inline constexpr int kCodePageWindows1252 = 1252;
inline constexpr int kCodePageUsAscii = 20127;

// Appends the converted bytes to out; *lossless (when given) false when characters were dropped;
// false when a code page is unknown (nothing appended) or memory runs out. A target of 0 or a
// target equal to the source copies the bytes unchanged. A leading byte-order mark of UTF-16
// input picks its byte order and is removed, as is a leading UTF-8 mark (EF BB BF).
bool ConvertCodePage(int fromCodePage, int toCodePage, const void* bytes, uint32_t length,
                     DataBuffer& out, bool* lossless = nullptr);

// The code page for any name of the charset table (codePageForName): case-insensitive ASCII,
// blanks around it and "_" for "-" allowed, 0 when unknown. "ansi" gives the ANSI code page.
int CodePageForCharsetName(const char* name);

}  // namespace quillon
