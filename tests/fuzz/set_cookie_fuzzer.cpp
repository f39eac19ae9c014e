// Reads the input as the Set-Cookie lines of a response head, stores the cookies in the memory
// store and builds the Cookie line from what comes back: nothing may crash, and the line may
// never hold a line break (it would start a header of its own).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/log_base.h"
#include "http/cookie_mgr.h"
#include "http/http_control.h"
#include "http/http_result.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quillon::HttpResult result;
  std::string head = "HTTP/1.1 200 OK\r\n";
  head.append(reinterpret_cast<const char*>(data), size);
  head += "\r\n\r\n";
  if (!result.header.parse(head)) return 0;
  quillon::HttpControl settings;
  settings.cookieDir.assign("memory");
  quillon::LogNull log;
  quillon::SaveResponseCookies(settings, result, "shop.acme.test", log);
  for (const char* path : {"/", "/a/b"}) {
    quillon::StringBuffer line;
    quillon::AddCookieHeader(settings, "shop.acme.test", path, true, line, log);
    std::string_view text = line.view();
    if (!text.empty() && text.find_first_of("\r\n") != text.size() - 2) std::abort();
  }
  return 0;
}
