// Feeds arbitrary text to the robots reader and asks it about a few paths; the first line of
// the input doubles as a URL for the path reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/string_buffer.h"
#include "spider/robots.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  quillon::RobotsRules rules;
  rules.parse(text, "Mozilla/5.0 (compatible; Tollwick)");
  rules.disallows("/");
  rules.disallows("/private/page.html");

  std::string firstLine(text.substr(0, text.find('\n')));
  quillon::StringBuffer path;
  if (quillon::RobotsPathOf(firstLine.c_str(), path)) rules.disallows(path.view());
  return 0;
}
