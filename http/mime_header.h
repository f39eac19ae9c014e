// An ordered list of header fields (name, value, no-fold flag) with case-insensitive names, as
// used for a request's extra headers and a response's fields. Setting a value decodes RFC 2047
// encoded words and removes folds; rendering for a request folds long 7-bit values and writes
// other values as encoded words. It knows nothing of which fields HTTP allows.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/ext_ptr_array.h"
#include "base/platform.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"

namespace quillon {

class LogBase;

class MimeField : public QuillonObject {
 public:
  // Stores the value with its encoded words decoded to UTF-8 and, when it holds a line feed,
  // the folds "\r\n\t" and "\r\n " removed. False when memory runs out.
  bool setValue(std::string_view text);

  StringBuffer name;
  StringBuffer value;
  // Written as it stands in a request even when long: user-agent, accept, accept-charset.
  bool noFold = false;
};

class MimeHeader {
 public:
  // A value that is 7-bit and not of a no-fold field gets a fold after ";" (outside quotes)
  // once a line holds more than this many characters...
  static constexpr uint32_t kFoldAfterColumn = 20;
  // ...and after "," too when the value is longer than this and holds "@" (address lists).
  static constexpr uint32_t kFoldCommaMinLength = 60;

  MimeHeader() = default;
  MimeHeader(const MimeHeader&) = delete;
  MimeHeader& operator=(const MimeHeader&) = delete;

  // Removes every field of that name, then appends the new one unless the trimmed value is
  // empty (so an empty value deletes). False when memory runs out.
  bool setField(std::string_view name, std::string_view value);
  // Appends a field even when one of that name exists. False when memory runs out.
  bool addField(std::string_view name, std::string_view value);
  void removeField(std::string_view name);
  void clear();
  // Replaces this header's fields and code page with copies of other's.
  bool copyFrom(const MimeHeader& other);

  int count() const { return fields_.count(); }
  // Null when out of range.
  const MimeField* fieldAt(int index) const { return fields_.at<MimeField>(index); }
  // The first field of that name (case-insensitive), or null.
  const MimeField* getField(std::string_view name) const;
  bool hasField(std::string_view name) const { return getField(name) != nullptr; }
  // Appends the first such field's value; false when there is none (or memory runs out).
  bool getFieldValue(std::string_view name, StringBuffer& out) const;

  // The code page the values came in (the response parser records its choice); 65001 default.
  int codePage() const { return codePage_; }
  void setCodePage(int codePage) { codePage_ = codePage; }

  // Appends "name: value\r\n" per field, values as stored. False when memory runs out.
  bool renderLines(StringBuffer& out) const;
  // Appends the fields as request header lines: 7-bit values folded (unless no-fold), others
  // as UTF-8 encoded words. False, with a log line, when a name or value holds a CR or LF that
  // would start a line of its own; also false when memory runs out.
  bool appendRequestLines(StringBuffer& head, LogBase& log) const;

  // Whether a field name gets the no-fold flag.
  static bool IsNoFoldName(std::string_view name);

 private:
  bool append(std::string_view name, std::string_view value);

  OwningPtrArray fields_;
  int codePage_ = kCodePageUtf8;
};

}  // namespace quillon
