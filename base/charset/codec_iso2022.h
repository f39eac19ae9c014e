// The 7-bit escape forms: ISO-2022-JP (RFC 1468) to and from Shift-JIS bytes (code page 932)
// and ISO-2022-KR (RFC 1557) to and from code page 949 bytes. Characters are not looked up
// here: the 932 and 949 tables do that.
#pragma once

#include <cstdint>

#include "base/charset/codec_unicode.h"
#include "base/data_buffer.h"

namespace quillon {

// ISO-2022-JP to Shift-JIS. Knows ESC $ @, ESC $ B (JIS X 0208), ESC ( B, ESC ( J (ASCII),
// ESC ( I and SO/SI (half-width katakana); other escapes and eight-bit bytes are dropped.
CodecResult DecodeIso2022Jp(const uint8_t* bytes, uint32_t length, DataBuffer& out);
// Shift-JIS to ISO-2022-JP: JIS X 0208 pairs after ESC $ B, half-width katakana as their
// full-width forms (with a following sound mark combined), ASCII after ESC ( B, which is also
// written before each CR or LF and at the end. Pairs outside JIS X 0208 are dropped.
CodecResult EncodeIso2022Jp(const uint8_t* bytes, uint32_t length, DataBuffer& out);

// ISO-2022-KR to code page 949: skips ESC $ ) C, follows SO and SI, sets the high bit of each
// double-byte pair; anything else is dropped.
CodecResult DecodeIso2022Kr(const uint8_t* bytes, uint32_t length, DataBuffer& out);
// Code page 949 to ISO-2022-KR: ESC $ ) C once at the start, SO before a run of KS X 1001
// pairs (written without the high bit), SI before the next single byte and at the end. Pairs
// outside KS X 1001 are dropped.
CodecResult EncodeIso2022Kr(const uint8_t* bytes, uint32_t length, DataBuffer& out);

}  // namespace quillon
