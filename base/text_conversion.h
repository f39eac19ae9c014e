// The one place where base/ converts text between code pages, pivoting through UTF-16 code
// units. Knows UTF-8, UTF-16LE/BE, ISO-8859-1, windows-1252, US-ASCII and the 7-bit part of
// code page 437; every other code page is unknown here. Nothing is logged: callers decide.
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

// The code page for a charset name (utf-8 65001, utf-16/unicode 1200, iso-8859-1 28591,
// windows-1252 1252, us-ascii 20127 and their usual aliases; case-insensitive ASCII, blanks
// around it and "_" for "-" allowed), 0 when unknown. "ansi" gives the ANSI code page.
int CodePageForCharsetName(const char* name);

}  // namespace quillon
