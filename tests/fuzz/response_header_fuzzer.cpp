// Parses the input as a response head, reads it back the ways the client does, and writes its
// fields as request lines: no field may come out as more than one line unless folded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/log_base.h"
#include "base/string_buffer.h"
#include "http/http_response_header.h"
#include "http/mime_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  quillon::HttpResponseHeader header;
  header.parse(head);
  if (head.substr(0, 4) != "HTTP" && (header.statusCode != 0 || header.fields.count() != 0)) {
    std::abort();
  }
  if (header.fields.count() > static_cast<int>(quillon::HttpResponseHeader::kMaxHeaderLines)) {
    std::abort();
  }
  quillon::StringBuffer out;
  header.getAttribute("content-type", "charset", out);
  header.fieldContains("content-type", "text/html");
  header.renderFields(out);
  quillon::HttpResponseHeader::LooksLikeBareHtml(head);

  quillon::MimeHeader request;
  for (int i = 0; i < header.fields.count(); ++i) {
    const quillon::MimeField* field = header.fields.fieldAt(i);
    request.setField(field->name.view(), field->value.view());
  }
  quillon::StringBuffer lines;
  quillon::LogNull log;
  if (!request.appendRequestLines(lines, log)) return 0;
  int starts = 0;
  std::string_view text = lines.view();
  for (size_t pos = 0; pos < text.size();) {
    if (text[pos] != '\t') ++starts;
    size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) std::abort();
    if (text.substr(pos, end - pos).find_first_of("\r\n") != std::string_view::npos) std::abort();
    pos = end + 2;
  }
  if (starts != request.count()) std::abort();
  return 0;
}
