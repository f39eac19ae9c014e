// One parsed HTTP response head: status line, reason, the header fields in arrival order and
// the announced Content-Length. Parsing is lenient and never fails on odd text; it does not
// read from a socket, enforce a head size limit or decide how the body is delimited.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/string_buffer.h"
#include "http/mime_header.h"

namespace quillon {

class HttpResponseHeader {
 public:
  // At most this many lines of a head become fields; the rest is ignored.
  static constexpr uint32_t kMaxHeaderLines = 100000;
  // How much of an answer without a status line is examined for HTML.
  static constexpr uint32_t kBareHtmlProbe = 500;

  HttpResponseHeader() = default;
  HttpResponseHeader(const HttpResponseHeader&) = delete;
  HttpResponseHeader& operator=(const HttpResponseHeader&) = delete;

  // Resets, then reads head. Without "HTTP" at the start the status stays 0 and nothing else is
  // read; a status line without a reason phrase gives the status and no fields. False only when
  // Content-Length does not fit 64 bits (contentLengthInvalid is then set) or memory runs out.
  bool parse(std::string_view head);
  void reset();
  bool copyFrom(const HttpResponseHeader& other);

  // The first field of that name, case-insensitive; appended to out. False when absent.
  bool getField(std::string_view name, StringBuffer& out) const;
  // Appends the value of attribute attr of the first field name: the field's value is split at
  // each ";" outside double quotes (a backslash makes the next character plain) and the part
  // whose name before "=" equals attr (case-insensitive) gives its value, trimmed and without
  // surrounding double quotes. False when there is no such part.
  bool getAttribute(std::string_view name, std::string_view attr, StringBuffer& out) const;
  // Whether the first field of that name contains text (case-insensitive).
  bool fieldContains(std::string_view name, const char* text) const;
  // Appends "name: value\r\n" per field.
  bool renderFields(StringBuffer& out) const;

  // An answer without a status line whose first 500 bytes begin with "<!---" or hold "<html"
  // (any case) is taken as a page sent without a head.
  static bool LooksLikeBareHtml(std::string_view received);
  // Status 200, empty reason, no fields, no content length.
  void markBareHtml();

  int statusCode = 0;
  StringBuffer reasonText;
  StringBuffer statusLine;
  MimeHeader fields;
  uint64_t contentLength = 0;
  bool hasContentLength = false;
  // Content-Length was negative or did not fit 64 bits; the fetch must fail.
  bool contentLengthInvalid = false;

 private:
  bool parseFields(std::string_view block);
};

}  // namespace quillon
