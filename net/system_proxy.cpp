#include "net/system_proxy.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/log_base.h"
#include "base/string_buffer.h"

namespace quillon {
namespace {

// The variable for the scheme: lower case first, as curl and wget read them.
const char* ProxyVariable(std::string_view scheme) {
  std::string lower(scheme);
  for (char& c : lower) c = LowerAscii(c);
  std::string upper(lower);
  for (char& c : upper) c = UpperAscii(c);
  const char* value = std::getenv((lower + "_proxy").c_str());
  if (value == nullptr) value = std::getenv((upper + "_PROXY").c_str());
  return value;
}

// "http://user:pw@host:port/path" becomes "host:port": the caller splits the text at ':'.
std::string HostPortOf(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  size_t end = url.find_first_of("/?#");
  if (end != std::string_view::npos) url = url.substr(0, end);
  size_t at = url.rfind('@');
  if (at != std::string_view::npos) url.remove_prefix(at + 1);
  return std::string(url);
}

}  // namespace

bool ReadSystemProxy(const char* scheme, StringBuffer& proxyText, bool& enabled, LogBase& log) {
  proxyText.clear();
  enabled = false;
  StringBuffer wanted(scheme ? scheme : "");
  wanted.trim();
  const char* value = ProxyVariable(wanted.view());
  if (value == nullptr) {
    log.addError(
        "Failed to read registry: "
        "CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet Settings/ProxyServer");
    return false;
  }
  StringBuffer server(value);
  server.trim();
  enabled = !server.isEmpty();
  std::string_view text = server.view();
  std::string whole = HostPortOf(text);
  if (whole.find('=') == std::string::npos) {
    proxyText.append(whole);
    return true;
  }
  // A per-scheme list: the entry after "scheme=" up to the next ';'.
  std::string key(wanted.view());
  key += '=';
  size_t pos = text.find(key);
  if (pos == std::string_view::npos) return true;
  std::string_view entry = text.substr(pos + key.size());
  size_t end = entry.find(';');
  if (end != std::string_view::npos) entry = entry.substr(0, end);
  proxyText.append(HostPortOf(entry));
  return true;
}

}  // namespace quillon
