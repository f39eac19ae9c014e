// Feeds arbitrary bytes to CleanTag and reads attributes of the result: no crash, no read past
// either text, and the clean tag never grows beyond a small multiple of the raw one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/html_help.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  quillon::StringBuffer clean;
  if (!quillon::HtmlHelp::CleanTag(raw, clean)) return 0;
  // Each byte of the raw tag yields at most "&quot;" (a backslash-quote pair gives six bytes
  // for two), plus quotes, "=" and a space per attribute and the closing ">".
  if (clean.length() > 4 * size + 8) std::abort();
  quillon::StringBuffer value;
  for (const char* name : {"href", "content", "name", "http-equiv", ""}) {
    quillon::HtmlHelp::GetAttribute(clean.view(), name, value);
    quillon::HtmlHelp::GetAttribute(raw, name, value);
  }
  return 0;
}
