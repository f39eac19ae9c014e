#include "spider/vn_string.h"

#include "base/charset/text_file_charset.h"

namespace quillon {

bool VnString::setFromAnsi(const char* text) {
  convertedValid_ = false;
  XString source;
  if (!source.setFromAnsi(text)) {
    utf8_.clear();
    return false;
  }
  if (!utf8_.assign(source.getUtf8())) {
    utf8_.clear();
    return false;
  }
  return true;
}

bool VnString::setFromUtf8(const char* text) {
  return setFromUtf8(text == nullptr ? std::string_view() : std::string_view(text));
}

bool VnString::setFromUtf8(std::string_view text) {
  convertedValid_ = false;
  if (!utf8_.assign(text)) {
    utf8_.clear();
    return false;
  }
  return true;
}

bool VnString::appendAnsi(const char* text) {
  XString source;
  if (!source.setFromAnsi(text)) return false;
  convertedValid_ = false;
  return utf8_.append(source.getUtf8());
}

bool VnString::appendUtf8(std::string_view text) {
  convertedValid_ = false;
  return utf8_.append(text);
}

void VnString::clear() {
  utf8_.clear();
  convertedValid_ = false;
}

XString* VnString::current() {
  if (!convertedValid_) {
    if (!converted_.setFromUtf8(utf8_.getString(), utf8_.length())) return nullptr;
    convertedValid_ = true;
  }
  return &converted_;
}

const char* VnString::getAnsi() {
  XString* text = current();
  return text == nullptr ? "" : text->getAnsi();
}

bool VnString::saveToFile(const char* path, const char* charset) {
  XString* text = current();
  return text != nullptr && SaveTextInCharset(*text, charset, path);
}

}  // namespace quillon
