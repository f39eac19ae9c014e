// The recording error log: a tree of contexts, data items and lines (LogEntry2), the stack of
// open contexts over it (ErrorLog) and the thread-safe LogBase that fills it (Logger), with its
// XML, HTML and indented-text renderings. No size limit: the owner resets it per operation.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "base/ext_ptr_array.h"
#include "base/log_base.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"

namespace quillon {

// One node of the log tree. Kinds: 'C' context (name, children), 'T' data item (name, value),
// 'E' error, 'I' info and 'X' plain line (value only).
class LogEntry2 : public QuillonObject {
 public:
  static constexpr char kContext = 'C';
  static constexpr char kTag = 'T';
  static constexpr char kError = 'E';
  static constexpr char kInfo = 'I';
  static constexpr char kLine = 'X';

  LogEntry2() = default;
  LogEntry2(const LogEntry2&) = delete;
  LogEntry2& operator=(const LogEntry2&) = delete;
  ~LogEntry2() override = default;  // children go with their parent

  // Each setter first drops the previous content; false (entry left empty) when memory runs out.
  bool setContext(std::string_view name);
  bool setTag(std::string_view name, std::string_view value);
  // kind is 'E', 'I' or 'X'.
  bool setText(char kind, std::string_view value);

  char kind() const { return kind_; }
  // Null when the entry has none.
  const StringBuffer* name() const { return name_.get(); }
  const StringBuffer* value() const { return value_.get(); }
  ExtPtrArray* children() const { return children_.get(); }

  // Append this entry and its subtree to out.
  void renderXml(StringBuffer& out) const;
  void renderHtml(StringBuffer& out) const;
  void renderText(StringBuffer& out, uint32_t depth) const;

 private:
  void clearContent();

  char kind_ = kInfo;
  std::unique_ptr<OwningPtrArray> children_;
  std::unique_ptr<StringBuffer> name_;
  std::unique_ptr<StringBuffer> value_;
};

// The stack of open contexts. Element 0 is the root context "QuillonLog", owned here; the
// contexts above it are owned by their parents' children. Not locked.
class ErrorLog {
 public:
  static constexpr const char* kRootName = "QuillonLog";

  ErrorLog();
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  ~ErrorLog();

  // Drops the whole tree and starts a new root; false only when memory runs out.
  bool reset();
  // Adds the entry to the current context and takes it; false (entry deleted) on failure.
  bool append(LogEntry2* entry);
  // Adds a context entry (taken) and makes it current. A null or failed one is still counted,
  // with any opened inside it, so that its closeContext does not close its parent.
  bool openContext(LogEntry2* context);
  // Pops the current context; one left empty disappears unless its parent is the root.
  void closeContext();

  // Null only when memory ran out creating it.
  LogEntry2* root() const;
  // The number of open contexts, the root included.
  int depth() const { return stack_.count(); }

 private:
  LogEntry2* current() const;
  void deleteRoot();

  ExtPtrArray stack_;
  uint32_t unmatchedOpens_ = 0;
};

// The log of one public object: every operation, renderings included, holds a mutex, so the
// object's threads may log at once.
class Logger : public LogBase {
 public:
  Logger() = default;
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  ~Logger() override = default;

  void renderXml(StringBuffer& out) override;
  void renderHtml(StringBuffer& out) override;
  void renderText(StringBuffer& out) override;
  bool addError(const char* text) override;
  bool addInfo(const char* text) override;
  bool addLine(const char* text) override;
  bool reset() override;
  // The flag is not used (callers pass 1).
  bool openContext(const char* name, int flag = 1) override;
  bool closeContext() override;
  bool addTag(const char* name, const char* value) override;
  bool addTagInt(const char* name, int32_t value) override;
  bool addTagInt64(const char* name, int64_t value) override;
  bool addTagHex(const char* name, uint32_t value) override;
  // The tick count in hexadecimal.
  bool addTickTag(const char* name) override;
  // Writes the XML form as the whole file (no byte-order mark); the write's result.
  bool saveXml(const char* path, int reserved = 0) override;

 private:
  bool addText(char kind, const char* text);
  bool appendEntry(LogEntry2* entry);

  std::mutex mutex_;
  ErrorLog log_;
};

// A data item's name as stored: trimmed of spaces, tabs, CR and LF, inner spaces made "_".
// False when nothing is left (the item is dropped) or memory runs out.
bool NormaliseTagName(const char* name, StringBuffer& out);

// The error report text handed to the application: the text form with CR LF line ends only.
void ErrorReportText(LogBase& log, StringBuffer& out);

}  // namespace quillon
