#include "base/xstring.h"

#include <bit>
#include <cstring>

#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

// The UTF-16 form is handed out as char16_t text over its little-endian bytes.
static_assert(std::endian::native == std::endian::little, "UTF-16LE form read as char16_t");

namespace {

constexpr uint8_t kUtf16Terminator[2] = {0, 0};
constexpr char16_t kEmptyUtf16[1] = {0};
// Units gathered before they are appended, when building the UTF-16 form from wide text.
constexpr uint32_t kWideStageUnits = 1024;

// Converts into a text buffer through a scratch DataBuffer; the target is emptied first and
// stays empty when the conversion fails.
bool ConvertInto(int fromCodePage, int toCodePage, const char* bytes, uint32_t length,
                 StringBuffer& target, bool& lossless) {
  target.clear();
  DataBuffer converted;
  if (!ConvertCodePage(fromCodePage, toCodePage, bytes, length, converted, &lossless)) {
    return false;
  }
  if (converted.isEmpty()) return true;
  if (target.append(reinterpret_cast<const char*>(converted.data()), converted.length())) {
    return true;
  }
  target.clear();
  return false;
}

// Appends the two zero bytes that end the UTF-16 form, growing the buffer only by them (the
// buffer's own step would add 20,000 bytes to every small text).
bool AppendUtf16Terminator(DataBuffer& utf16) {
  uint64_t needed = uint64_t{utf16.length()} + sizeof(kUtf16Terminator);
  if (needed > UINT32_MAX) return false;
  if (utf16.capacity() < needed && !utf16.reserve(static_cast<uint32_t>(needed))) return false;
  return utf16.append(kUtf16Terminator, sizeof(kUtf16Terminator));
}

// Reserves room for a text of this many UTF-16 units and its terminator; a failure is left
// for the appends that follow to report.
void ReserveUtf16(DataBuffer& utf16, uint64_t units) {
  uint64_t bytes = units * 2 + sizeof(kUtf16Terminator);
  if (bytes <= UINT32_MAX && utf16.capacity() < bytes) utf16.reserve(static_cast<uint32_t>(bytes));
}

bool PointsInto(const DataBuffer& buffer, const void* p) {
  const uint8_t* data = buffer.data();
  const auto* byte = static_cast<const uint8_t*>(p);
  return data != nullptr && byte >= data && byte < data + buffer.capacity();
}

}  // namespace

XString::XString() { clear(); }

XString::XString(const XString& other)
    : QuillonObject(other),
      utf16_(other.utf16_),
      ansi_(other.ansi_),
      utf8_(other.utf8_),
      utf16Valid_(other.utf16Valid_),
      ansiValid_(other.ansiValid_),
      utf8Valid_(other.utf8Valid_),
      representable_(other.representable_) {
  dropFailedCopies(other);
}

XString& XString::operator=(const XString& other) {
  if (this == &other) return *this;
  utf16_ = other.utf16_;
  ansi_ = other.ansi_;
  utf8_ = other.utf8_;
  utf16Valid_ = other.utf16Valid_;
  ansiValid_ = other.ansiValid_;
  utf8Valid_ = other.utf8Valid_;
  representable_ = other.representable_;
  dropFailedCopies(other);
  return *this;
}

void XString::dropFailedCopies(const XString& other) {
  if (utf16Valid_ && utf16_.length() != other.utf16_.length()) utf16Valid_ = false;
  if (ansiValid_ && ansi_.length() != other.ansi_.length()) ansiValid_ = false;
  if (utf8Valid_ && utf8_.length() != other.utf8_.length()) utf8Valid_ = false;
  // A lossy ANSI form is no value of its own.
  bool faithfulAnsi = ansiValid_ && representable_ != Representable::No;
  if (!utf16Valid_ && !utf8Valid_ && !faithfulAnsi) clear();
}

void XString::keepOnly(bool utf16, bool ansi, bool utf8, Representable representable) {
  if (!utf16) utf16_.clear();
  if (!ansi) ansi_.clear();
  if (!utf8) utf8_.clear();
  utf16Valid_ = utf16;
  ansiValid_ = ansi;
  utf8Valid_ = utf8;
  representable_ = representable;
}

void XString::clear() {
  ansi_.clear();
  utf8_.clear();
  utf16_.clear();
  // Without its terminator the UTF-16 form cannot be valid; the other two still are.
  utf16Valid_ = AppendUtf16Terminator(utf16_);
  ansiValid_ = true;
  utf8Valid_ = true;
  representable_ = Representable::Yes;
}

bool XString::setFromAnsi(const char* text) {
  if (text == nullptr || *text == '\0') {
    clear();
    return true;
  }
  if (!ansi_.assign(text)) {
    clear();
    return false;
  }
  keepOnly(false, true, false, Representable::Yes);
  return true;
}

bool XString::setFromUtf8(const char* text) {
  if (text == nullptr) {
    clear();
    return true;
  }
  return setFromUtf8(text, static_cast<uint32_t>(std::strlen(text)));
}

bool XString::setFromUtf8(const char* bytes, uint32_t length) {
  if (bytes == nullptr || length == 0) {
    clear();
    return true;
  }
  if (!utf8_.assign(bytes, length)) {
    clear();
    return false;
  }
  keepOnly(false, false, true, Representable::Unknown);
  return true;
}

bool XString::setFromUtf16(const char16_t* text) {
  if (text == nullptr || *text == 0) {
    clear();
    return true;
  }
  uint64_t units = 0;
  while (text[units] != 0) ++units;
  // The text may be this value's own UTF-16 form or a part of it: then the new form is built
  // aside, since clearing or growing the form would lose the text.
  DataBuffer aside;
  DataBuffer& target = PointsInto(utf16_, text) ? aside : utf16_;
  target.clear();
  ReserveUtf16(target, units);
  if (!target.appendWideText(text)) {
    clear();
    return false;
  }
  if (&target == &aside) utf16_.moveFrom(aside);
  keepOnly(true, false, false, Representable::Unknown);
  return true;
}

bool XString::setFromWide(const wchar_t* text, uint32_t length) {
  if (text == nullptr || length == 0) {
    clear();
    return true;
  }
  utf16_.clear();
  ReserveUtf16(utf16_, length);
  char16_t stage[kWideStageUnits + 1];
  uint32_t staged = 0;
  bool ok = true;
  for (uint32_t i = 0; i < length && ok; ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      stage[staged++] = static_cast<char16_t>(c);
    } else if (c < 0x10000) {
      // Surrogate values are no characters in UTF-32; they are dropped like values past U+10FFFF.
      if (c < 0xD800 || c > 0xDFFF) stage[staged++] = static_cast<char16_t>(c);
    } else if (c <= 0x10FFFF) {
      stage[staged++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      stage[staged++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
    if (staged >= kWideStageUnits || i + 1 == length) {
      ok = utf16_.append(stage, staged * 2);
      staged = 0;
    }
  }
  if (!ok || !AppendUtf16Terminator(utf16_)) {
    clear();
    return false;
  }
  keepOnly(true, false, false, Representable::Unknown);
  return true;
}

bool XString::ensureUtf16() {
  if (utf16Valid_) return true;
  utf16_.clear();
  // Never more units than source bytes, for UTF-8 and single-byte code pages alike.
  ReserveUtf16(utf16_, utf8Valid_ ? utf8_.length() : ansi_.length());
  bool ok;
  if (utf8Valid_) {
    ok = ConvertCodePage(kCodePageUtf8, kCodePageUtf16Le, utf8_.getString(), utf8_.length(),
                         utf16_);
  } else {
    ok = ConvertCodePage(AnsiCodePage(), kCodePageUtf16Le, ansi_.getString(), ansi_.length(),
                         utf16_);
  }
  if (!ok || !AppendUtf16Terminator(utf16_)) {
    utf16_.clear();
    return false;
  }
  utf16Valid_ = true;
  return true;
}

bool XString::convertToAnsi(bool& lossless) {
  if (utf16Valid_) {
    uint32_t length = utf16_.length() >= 2 ? utf16_.length() - 2 : 0;
    return ConvertInto(kCodePageUtf16Le, AnsiCodePage(),
                       reinterpret_cast<const char*>(utf16_.data()), length, ansi_, lossless);
  }
  return ConvertInto(kCodePageUtf8, AnsiCodePage(), utf8_.getString(), utf8_.length(), ansi_,
                     lossless);
}

bool XString::ensureAnsi() {
  if (ansiValid_) return true;
  bool lossless = false;
  if (!convertToAnsi(lossless)) return false;
  ansiValid_ = true;
  representable_ = lossless ? Representable::Yes : Representable::No;
  return true;
}

bool XString::ensureUtf8() {
  if (utf8Valid_) return true;
  bool lossless = false;
  bool ok;
  // An ANSI form that dropped characters is a poorer source than the UTF-16 form it came from.
  if (ansiValid_ && (representable_ != Representable::No || !utf16Valid_)) {
    ok = ConvertInto(AnsiCodePage(), kCodePageUtf8, ansi_.getString(), ansi_.length(), utf8_,
                     lossless);
  } else {
    uint32_t length = utf16_.length() >= 2 ? utf16_.length() - 2 : 0;
    ok = ConvertInto(kCodePageUtf16Le, kCodePageUtf8,
                     reinterpret_cast<const char*>(utf16_.data()), length, utf8_, lossless);
  }
  if (!ok) return false;
  utf8Valid_ = true;
  return true;
}

const char* XString::getAnsi() { return ansiBuffer().getString(); }

const char* XString::getUtf8() { return utf8Buffer().getString(); }

const char16_t* XString::getUtf16() {
  if (!ensureUtf16() || utf16_.length() < 2) return kEmptyUtf16;
  return reinterpret_cast<const char16_t*>(utf16_.data());
}

StringBuffer& XString::ansiBuffer() {
  ensureAnsi();
  return ansi_;
}

StringBuffer& XString::utf8Buffer() {
  ensureUtf8();
  return utf8_;
}

DataBuffer& XString::utf16Buffer() {
  ensureUtf16();
  return utf16_;
}

bool XString::isAnsiRepresentable() {
  if (representable_ != Representable::Unknown) return representable_ == Representable::Yes;
  if (!utf16Valid_ && !utf8Valid_) {
    representable_ = Representable::Yes;  // the value was set as ANSI
    return true;
  }
  bool lossless = false;
  if (!convertToAnsi(lossless)) {
    ansiValid_ = false;
    return false;
  }
  representable_ = lossless ? Representable::Yes : Representable::No;
  ansiValid_ = lossless;
  if (!lossless) ansi_.clear();
  return lossless;
}

uint32_t XString::lengthInChars() {
  if (ansiValid_) return ansi_.length();
  if (!ensureUtf16() || utf16_.length() < 2) return 0;
  return (utf16_.length() - 2) / 2;
}

bool XString::isEmpty() {
  if (utf8Valid_) return utf8_.isEmpty();
  if (utf16Valid_) return utf16_.length() <= 2;
  return ansi_.isEmpty();
}

}  // namespace quillon
