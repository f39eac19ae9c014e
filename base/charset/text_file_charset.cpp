#include "base/charset/text_file_charset.h"

#include <cstring>

#include "base/charset/charset.h"
#include "base/charset/encoding_convert.h"
#include "base/file_access.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

bool IsAnsiName(const char* name) {
  const char kAnsi[] = "ansi";
  for (size_t i = 0; i < sizeof(kAnsi); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c != kAnsi[i]) return false;
  }
  return true;
}

}  // namespace

bool SaveTextInCharset(XString& text, const char* charset, const char* path) {
  if (charset == nullptr) charset = "ansi";
  if (IsAnsiName(charset)) {
    StringBuffer& ansi = text.ansiBuffer();
    return writeWholeFile(path, ansi.getString(), ansi.length(), nullptr);
  }
  int from;
  const void* bytes;
  uint32_t length;
  if (text.hasValidUtf16()) {
    DataBuffer& wide = text.utf16Buffer();
    from = kCodePageUtf16Le;
    bytes = wide.data();
    length = wide.length() >= 2 ? wide.length() - 2 : 0;  // without the terminator
  } else {
    StringBuffer& utf8 = text.utf8Buffer();
    from = kCodePageUtf8;
    bytes = utf8.getString();
    length = utf8.length();
  }
  DataBuffer converted;
  EncodingConvert converter;
  // Characters the charset lacks are dropped silently; only a charset without a converter
  // (which would write an empty file) fails the save.
  converter.convertWithPreamble(from, codePageForName(charset), bytes, length, converted);
  if (converter.unsupported() || converter.outOfMemory()) return false;
  return writeWholeFile(path, converted.data(), converted.length(), nullptr);
}

}  // namespace quillon
