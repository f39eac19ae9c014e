// The facade's string: one text kept as UTF-8, handed out as ANSI or UTF-8 on demand, and saved
// to a file in a named charset. Appends are cheap; the ANSI form is made again only after a
// change. It does not parse or escape anything.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/string_buffer.h"
#include "base/xstring.h"
#include "spider/vn_object.h"

namespace quillon {

class VnString : public VnObject {
 public:
  VnString() = default;
  VnString(const VnString&) = delete;
  VnString& operator=(const VnString&) = delete;
  ~VnString() override = default;

  // Replace the text; false (text empty) when memory runs out. Null sets an empty text.
  bool setFromAnsi(const char* text);
  bool setFromUtf8(const char* text);
  bool setFromUtf8(std::string_view text);
  // Append; false (text unchanged) when memory runs out.
  bool appendAnsi(const char* text);
  bool appendUtf8(std::string_view text);
  void clear();

  // The text in the ANSI code page (characters it cannot hold are dropped) or as UTF-8. The
  // pointer stays valid until the next change; never null.
  const char* getAnsi();
  const char* getUtf8() const { return utf8_.getString(); }
  uint32_t utf8Length() const { return utf8_.length(); }
  bool isEmpty() const { return utf8_.isEmpty(); }

  // Writes the whole text to path in charset ("ansi", "utf-8", "unicode", ...; null is "ansi").
  // False when the charset has no converter or the file cannot be written.
  bool saveToFile(const char* path, const char* charset);

 private:
  // The text as an XString, rebuilt from utf8_ after a change; null when memory runs out.
  XString* current();

  StringBuffer utf8_;
  XString converted_;
  bool convertedValid_ = true;
};

}  // namespace quillon
