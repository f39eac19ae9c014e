// Base of the public library objects (spider, HTTP client, cache, XML): each owns the Logger
// that its public operations reset and fill, and that the application reads afterwards.
#pragma once

#include "base/logger.h"
#include "base/quillon_object.h"

namespace quillon {

class StringBuffer;

class ClsBase : public QuillonObject {
 public:
  ClsBase() = default;
  ClsBase(const ClsBase&) = delete;
  ClsBase& operator=(const ClsBase&) = delete;
  ~ClsBase() override = default;

  // The object's log: the record of its last public operation.
  Logger& log() { return log_; }
  // The last operation's log as indented text with CR LF line ends.
  void lastErrorText(StringBuffer& out);
  void lastErrorXml(StringBuffer& out);
  void lastErrorHtml(StringBuffer& out);

 protected:
  Logger log_;
};

}  // namespace quillon
