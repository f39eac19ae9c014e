// The error log interface every operation receives. Logger records into a tree that renders as
// XML, HTML or indented text; LogNull discards everything. The base implementation of each
// operation does nothing and succeeds, except addWindowsError, built on addTag.
#pragma once

#include <cstdint>

#include "base/quillon_object.h"

namespace quillon {

class StringBuffer;
class XString;

class LogBase : public QuillonObject {
 public:
  ~LogBase() override = default;

  virtual void renderXml(StringBuffer& out);
  virtual void renderHtml(StringBuffer& out);
  virtual void renderText(StringBuffer& out);
  virtual bool addError(const char* text);
  virtual bool addInfo(const char* text);
  virtual bool addLine(const char* text);
  virtual bool reset();
  virtual bool openContext(const char* name, int flag = 1);
  virtual bool closeContext();
  // Named data item; false when the normalised name is empty or the value is null.
  virtual bool addTag(const char* name, const char* value);
  virtual bool addTagInt(const char* name, int32_t value);
  virtual bool addTagInt64(const char* name, int64_t value);
  virtual bool addTagHex(const char* name, uint32_t value);
  // Logs the system message text of a (non-zero) error code as data "WindowsError".
  virtual void addWindowsError(int code);
  virtual bool addTickTag(const char* name);
  virtual bool saveXml(const char* path, int reserved = 0);

  // Logs text in quoted-printable form (used for file names).
  bool addTagQuotedPrintable(const char* name, const char* text);
  bool addTagQuotedPrintable(const char* name, const char* bytes, uint32_t length);
  // Logs the UTF-8 form of an XString.
  bool addTagWide(const char* name, XString& text);
};

// A log nobody reads.
class LogNull : public LogBase {};

// Opens a named context for the lifetime of the guard (only when `open`, for contexts that
// appear in verbose logs alone).
class LogContextGuard {
 public:
  LogContextGuard(LogBase& log, const char* name, bool open = true) : log_(log), open_(open) {
    if (open_) log_.openContext(name, 1);
  }
  ~LogContextGuard() {
    if (open_) log_.closeContext();
  }
  LogContextGuard(const LogContextGuard&) = delete;
  LogContextGuard& operator=(const LogContextGuard&) = delete;

 private:
  LogBase& log_;
  bool open_;
};

}  // namespace quillon
