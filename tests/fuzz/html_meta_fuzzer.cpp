// Feeds arbitrary bytes as a page to the title and meta readers: no crash, no read past the
// page, and every answer is a piece of what the page holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/html_help.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  quillon::StringBuffer out;
  // The readers drop or rewrite bytes ("&quot;", line breaks, "/") but never make a text
  // longer than a few times the page.
  auto check = [&](bool ok) {
    if (ok && out.length() > 6 * size + 16) std::abort();
  };
  check(quillon::HtmlHelp::GetTitle(page, out));
  check(quillon::HtmlHelp::GetMetaContent(page, "description", out));
  check(quillon::HtmlHelp::GetMetaContent(page, "keywords", out));
  out.clear();
  check(quillon::HtmlHelp::GetMetaCharset(page, out));
  return 0;
}
