// Charset names and Windows code page numbers: the resolver (any accepted name to its code
// page), the reverse table (code page to the one name written for it) and the Charset value.
// Conversion is EncodingConvert's (base/charset/encoding_convert.h); nothing here is logged.
#pragma once

#include <cstdint>

#include "base/string_buffer.h"

namespace quillon {

// How EncodingConvert treats a code page of the charset table.
enum class CharsetConversion : uint8_t { kNone, kAlgorithmic, kTable, kUnknown };

// The code page for a charset name: blanks around it are ignored, ASCII letters (and the
// bytes 0xC0-0xDF) compare without case and "_" equals "-"; "ansi" gives the ANSI code page.
// 0 for null, names shorter than three characters and names not in the table.
int codePageForName(const char* name);

// Clears out and appends the name written for the code page; false (out empty) when the code
// page has none.
bool nameForCodePage(int codePage, StringBuffer& out);

// The written name of a code page, null when it has none. The text is static.
const char* WrittenNameForCodePage(int codePage);

// Whether the charset table lists the code page, and how it is converted.
CharsetConversion ConversionForCodePage(int codePage);

// A code page with its written name (lower case). Cleared: code page 0 and an empty name.
class Charset {
 public:
  Charset() = default;

  // Null does nothing. "default" or "x-user-defined" (exactly) clear; "ansi" and "oem" (any
  // case) take the current ANSI or OEM code page. Otherwise the resolved code page and its
  // written name (empty when it has none), or cleared when the name does not resolve.
  void setByName(const char* name);
  // Sets the code page with its written name; clears when the code page has no written name.
  void setByCodePage(int codePage);
  void clear();

  int codePage() const { return codePage_; }
  const char* name() const { return name_; }

 private:
  int codePage_ = 0;
  const char* name_ = "";
};

}  // namespace quillon
