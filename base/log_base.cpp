#include "base/log_base.h"

#include <cstring>
#include <string>

#include "base/content_coding.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "base/xstring.h"

namespace quillon {

void LogBase::renderXml(StringBuffer&) {}
void LogBase::renderHtml(StringBuffer&) {}
void LogBase::renderText(StringBuffer&) {}
bool LogBase::addError(const char*) { return true; }
bool LogBase::addInfo(const char*) { return true; }
bool LogBase::addLine(const char*) { return true; }
bool LogBase::reset() { return true; }
bool LogBase::openContext(const char*, int) { return true; }
bool LogBase::closeContext() { return true; }
bool LogBase::addTag(const char*, const char*) { return true; }
bool LogBase::addTagInt(const char*, int32_t) { return true; }
bool LogBase::addTagInt64(const char*, int64_t) { return true; }
bool LogBase::addTagHex(const char*, uint32_t) { return true; }
bool LogBase::addTickTag(const char*) { return true; }
bool LogBase::saveXml(const char*, int) { return true; }

void LogBase::addWindowsError(int code) {
  if (code == 0) return;
  std::string message = SystemErrorText(code);
  StringBuffer text(std::string_view{message});
  text.trim();
  addTag("WindowsError", text.getString());
}

bool LogBase::addTagQuotedPrintable(const char* name, const char* text) {
  if (text == nullptr) return false;
  size_t length = std::strlen(text);
  if (length > UINT32_MAX) return false;
  return addTagQuotedPrintable(name, text, static_cast<uint32_t>(length));
}

bool LogBase::addTagQuotedPrintable(const char* name, const char* bytes, uint32_t length) {
  if (bytes == nullptr) return false;
  StringBuffer encoded;
  ContentCoding::encodeQuotedPrintable(bytes, length, encoded);
  return addTag(name, encoded.getString());
}

bool LogBase::addTagWide(const char* name, XString& text) {
  return addTag(name, text.getUtf8());
}

}  // namespace quillon
