// Parses the input as a URL and composes a request for it: the pieces must be sane and the
// head must hold exactly the template's lines, whatever the URL smuggles in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/log_base.h"
#include "base/string_buffer.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/parse_url.h"
#include "http/request_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  quillon::ParsedUrl url;
  if (!quillon::ParseUrl(text.c_str(), url)) return 0;
  if (url.port < 0 || url.port > quillon::kMaxPort) std::abort();
  for (char c : url.host.view()) {
    if (c == ':' || c == '%' || c == '&' || c == '?' || c == '=' || c == ' ' ||
        (c >= 'A' && c <= 'Z')) {
      std::abort();
    }
  }
  if (url.path.isEmpty()) url.path.assign("/");

  static quillon::HttpControl settings;
  quillon::RequestParts parts;
  parts.url = text.c_str();
  parts.host = url.host.getString();
  parts.port = url.port;
  parts.path = url.path.getString();
  parts.query = url.query.getString();
  parts.viaProxy = size > 0 && (data[0] & 1);
  quillon::HttpResult result;
  quillon::StringBuffer head;
  quillon::LogNull log;
  if (!quillon::ComposeRequest(settings, parts, result, head, log)) {
    if (!head.isEmpty()) std::abort();
    return 0;
  }
  // Request line, seven header lines, blank line.
  size_t lines = 0;
  for (size_t pos = head.view().find("\r\n"); pos != std::string_view::npos;
       pos = head.view().find("\r\n", pos + 2)) {
    ++lines;
  }
  if (lines != 9 || head.view().find_first_of("\r\n") != head.view().find("\r\n")) std::abort();
  return 0;
}
