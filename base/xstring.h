// One text value held in up to three forms at once: UTF-16LE, ANSI (the system's ANSI code
// page) and UTF-8, each converted lazily from a valid one. At least one form is always valid;
// an empty value has all three valid.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"

namespace quillon {

class XString : public QuillonObject {
 public:
  XString();
  XString(const XString& other);
  XString& operator=(const XString& other);
  ~XString() override = default;

  // Each setter makes its form the only valid one. Null or empty texts set an empty value.
  // False when memory runs out, the value then empty. The text may be one of this value's own
  // forms, or a piece of one.
  bool setFromAnsi(const char* text);
  bool setFromUtf8(const char* text);
  bool setFromUtf8(const char* bytes, uint32_t length);
  // A NUL-terminated UTF-16 text.
  bool setFromUtf16(const char16_t* text);
  // A length-counted system wide string (wchar_t, UTF-32 on Linux).
  bool setFromWide(const wchar_t* text, uint32_t length);

  // The forms, converted on demand (characters that do not convert are dropped). When even
  // that fails (out of memory) the form stays invalid and reads as empty.
  const char* getAnsi();
  const char* getUtf8();
  // NUL-terminated UTF-16LE.
  const char16_t* getUtf16();
  StringBuffer& ansiBuffer();
  StringBuffer& utf8Buffer();
  // The UTF-16LE bytes, ending in two zero bytes.
  DataBuffer& utf16Buffer();

  // Whether the text converts to the ANSI code page without loss (cached). Asked before the
  // ANSI form exists, a text that does not convert leaves that form empty and invalid.
  bool isAnsiRepresentable();
  // The ANSI length when that form is valid, else the UTF-16 units without the terminator.
  uint32_t lengthInChars();
  bool isEmpty();
  void clear();

  bool hasValidAnsi() const { return ansiValid_; }
  bool hasValidUtf8() const { return utf8Valid_; }
  bool hasValidUtf16() const { return utf16Valid_; }

 private:
  enum class Representable : uint8_t { Unknown, Yes, No };

  // Make a form valid by converting from another; false (form empty and invalid) on failure.
  bool ensureUtf16();
  bool ensureAnsi();
  bool ensureUtf8();
  // Converts the UTF-16 form (else the UTF-8 form) into the ANSI buffer.
  bool convertToAnsi(bool& lossless);
  // After setting one form: the others emptied and invalid.
  void keepOnly(bool utf16, bool ansi, bool utf8, Representable representable);
  // After a copy: a form whose copy ran out of memory becomes invalid.
  void dropFailedCopies(const XString& other);

  DataBuffer utf16_;
  StringBuffer ansi_;
  StringBuffer utf8_;
  bool utf16Valid_ = true;
  bool ansiValid_ = true;
  bool utf8Valid_ = true;
  Representable representable_ = Representable::Yes;
};

}  // namespace quillon
