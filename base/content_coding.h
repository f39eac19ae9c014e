// Byte-to-text transfer encodings: Base64 (RFC 4648, "=" padding, no line breaks),
// quoted-printable (RFC 2045, 72-character lines), the "Q" encoding and encoded words of
// RFC 2047. Outputs are appended; every operation is false only when memory runs out.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/string_buffer.h"

namespace quillon {

class ContentCoding {
 public:
  static constexpr uint32_t kQuotedPrintableLineLength = 72;

  // Appends the Base64 text of the bytes, without line breaks. On false out is unchanged.
  static bool encodeBase64(const void* bytes, uint32_t length, StringBuffer& out);
  // Appends the decoded bytes to out, reading at most length characters; NUL or "=" ends the
  // text, characters outside the alphabet are skipped. A zero byte follows the output in memory.
  static bool decodeBase64(const char* text, uint32_t length, DataBuffer& out);
  // Appends the quoted-printable form (soft line breaks after 72 characters, "From " and "."
  // protected at line starts). On false out is unchanged.
  static bool encodeQuotedPrintable(const void* bytes, uint32_t length, StringBuffer& out);
  // Appends the bytes of a quoted-printable text: "=XX" and soft line breaks are undone.
  static bool decodeQuotedPrintable(const char* text, uint32_t length, DataBuffer& out);
  // Appends the RFC 2047 "Q" form (space as "_"). On false out is unchanged.
  static bool encodeQ(const void* bytes, uint32_t length, StringBuffer& out);
  // Appends the bytes of a "Q" text; control bytes, "?", 127 and 128-159 are dropped.
  static bool decodeQ(const char* text, uint32_t length, DataBuffer& out);

  // One header value as one encoded word, B or Q chosen by the charset ("utf-8" when empty).
  // A text that already holds "?Q?" or "?B?" near its start is copied unchanged.
  static bool encodeWord(const char* text, uint32_t length, const char* charset, StringBuffer& out);
  // One or more Q (or B) words separated by CR LF and a tab; long texts are cut on character
  // boundaries through UTF-16.
  static bool encodeWordsQ(const char* text, uint32_t length, const char* charset,
                           StringBuffer& out);
  static bool encodeWordsB(const char* text, uint32_t length, const char* charset,
                           StringBuffer& out);
  // Decodes every encoded word of a header value in place, converting to UTF-8.
  static bool decodeWords(StringBuffer& text);
  // The same, leaving the decoded bytes in their own charset.
  static bool decodeWordsRaw(StringBuffer& text);
};

}  // namespace quillon
