// Splits the input at its first line feed into a base URL and a reference and combines them;
// a combined URL must be short enough and safe to put into a request line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/string_buffer.h"
#include "http/url_combiner.h"

namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string_view base = input.substr(0, split);
  const std::string_view reference =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  quillon::StringBuffer out;
  if (!quillon::CombineUrl(base, reference, out)) {
    if (!out.isEmpty()) std::abort();
    return 0;
  }
  const std::string_view url = out.view();
  if (url.size() >= quillon::kCombinedUrlLimit) std::abort();
  for (size_t i = 0; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7F || c == '\\') std::abort();
    if (c == '%' && !(i + 2 < url.size() && IsHex(url[i + 1]) && IsHex(url[i + 2]))) std::abort();
  }
  return 0;
}
