// Feeds arbitrary text to the JSON reader as a browser's debugging message would come: checked
// whole, its members looked up along the paths the renderer reads, every string decoded, and
// what was read written back as JSON that must read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/json_text.h"
#include "base/string_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quillon::JsonText;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  JsonText::IsValid(text);
  std::string_view value;
  int64_t number = 0;
  bool flag = false;
  quillon::StringBuffer decoded;
  for (std::string_view name : {"id", "method", "sessionId", "params", "result", "error"}) {
    if (!JsonText::Member(text, name, value)) continue;
    JsonText::ReadInt(value, number);
    JsonText::ReadBool(value, flag);
    std::string_view inner;
    for (std::string_view deeper : {"url", "request", "result", "value", "html", "message"}) {
      if (JsonText::Member(value, deeper, inner)) JsonText::ReadString(inner, decoded);
    }
    if (!JsonText::ReadString(value, decoded)) continue;
    quillon::StringBuffer written;
    if (JsonText::AppendString(written, decoded.view()) && !JsonText::IsValid(written.view())) {
      std::abort();
    }
  }
  return 0;
}
