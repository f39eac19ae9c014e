#include "http/parse_url.h"

#include <string_view>

#include "base/ascii.h"
#include "base/log_base.h"
#include "http/http_control.h"
#include "net/system_proxy.h"

namespace quillon {

namespace {

size_t Smallest(size_t a, size_t b) { return a < b ? a : b; }

enum class PortText { None, Valid, TooLarge };

// Reads the decimal number at the start of text (no sign). A number above 65535 (or one too
// long to read at all) is TooLarge.
PortText ReadPort(std::string_view text, int& port) {
  size_t i = 0;
  uint32_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    if (value > static_cast<uint32_t>(kMaxPort)) return PortText::TooLarge;
    ++i;
  }
  if (i == 0) return PortText::None;
  port = static_cast<int>(value);
  return PortText::Valid;
}

// Cuts text at the first c.
void CutAt(StringBuffer& text, char c) {
  std::string_view view = text.view();
  size_t pos = view.find(c);
  if (pos != std::string_view::npos) text.shorten(static_cast<uint32_t>(view.size() - pos));
}

}  // namespace

bool IsHttpAddress(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

bool ParseUrl(const char* url, ParsedUrl& out) {
  out.host.clear();
  out.port = kDefaultHttpPort;
  out.user.clear();
  out.password.clear();
  out.path.clear();
  out.query.clear();
  out.fragment.clear();
  if (url == nullptr) return false;

  StringBuffer copy;
  if (!copy.assign(url)) return false;
  copy.replaceChar('\\', '/');
  std::string_view rest = copy.view();

  if (StartsWithNoCase(rest, "http://")) {
    rest.remove_prefix(7);
  } else if (StartsWithNoCase(rest, "https://")) {
    rest.remove_prefix(8);
    out.port = kDefaultHttpsPort;
  } else if (StartsWithNoCase(rest, "file:///")) {
    rest.remove_prefix(8);
  } else if (StartsWithNoCase(rest, "ftp://")) {
    rest.remove_prefix(6);
  }

  // User information counts only when its "@" stands inside the authority, so that an "@" in a
  // path, query or fragment never moves the host.
  std::string_view userInfo;
  std::string_view hostPart = rest;
  size_t at = rest.find('@');
  if (at != std::string_view::npos && at < rest.find_first_of("/?#")) {
    userInfo = rest.substr(0, at);
    hostPart = rest.substr(at + 1);
  }

  // The authority ends at the first "/", "?" or "#"; what follows is the path text.
  const size_t slash = hostPart.find('/');
  const size_t authorityEnd = Smallest(slash, hostPart.find_first_of("?#"));
  size_t colon = hostPart.find(':');
  if (colon != std::string_view::npos && colon > authorityEnd) colon = std::string_view::npos;
  // "c:/dir/f.htm" (from file:///c:/...) names a drive, not a host; "h:8080" is a host and port.
  const bool driveLetter = colon == 1 &&
                           (LowerAscii(hostPart[0]) >= 'a' && LowerAscii(hostPart[0]) <= 'z') &&
                           (hostPart.size() == 2 || hostPart[2] == '/');

  std::string_view host;
  if (colon == std::string_view::npos) {
    host = hostPart.substr(0, authorityEnd);
  } else if (driveLetter) {
    // No host.
  } else {
    host = hostPart.substr(0, colon);
    size_t portEnd = authorityEnd == std::string_view::npos ? hostPart.size() : authorityEnd;
    if (ReadPort(hostPart.substr(colon + 1, portEnd - colon - 1), out.port) ==
        PortText::TooLarge) {
      return false;
    }
  }

  std::string_view pathText;
  if (driveLetter) {
    if (slash != std::string_view::npos) pathText = hostPart.substr(slash);
  } else if (authorityEnd != std::string_view::npos) {
    pathText = hostPart.substr(authorityEnd);
  }

  if (!userInfo.empty()) {
    size_t split = userInfo.find(':');
    if (split != std::string_view::npos &&
        (!out.user.assign(userInfo.substr(0, split)) ||
         !out.password.assign(userInfo.substr(split + 1)))) {
      return false;
    }
  }

  std::string_view path = pathText;
  std::string_view query;
  const size_t question = pathText.find('?');
  if (question != std::string_view::npos) {
    path = pathText.substr(0, question);
    query = pathText.substr(question + 1);
  }
  std::string_view fragment;
  std::string_view& cutFrom = query.find('#') != std::string_view::npos ? query : path;
  const size_t hash = cutFrom.rfind('#');
  if (hash != std::string_view::npos) {
    fragment = cutFrom.substr(hash + 1);
    cutFrom = cutFrom.substr(0, hash);
  }
  if (!out.path.assign(path) || !out.query.assign(query) || !out.fragment.assign(fragment) ||
      !out.host.assign(host)) {
    return false;
  }

  out.host.toLowerCase();
  out.host.trim();
  for (char c : {':', '%', '&', '?', '=', ' '}) CutAt(out.host, c);
  out.host.trim();
  out.path.trim();
  return true;
}

void ChooseProxy(const HttpControl& settings, const char* url, ProxyPurpose purpose,
                 StringBuffer& proxyHost, int& proxyPort, LogBase& log) {
  proxyHost.clear();
  proxyPort = settings.proxyPort;
  if (!settings.proxyDomain.isEmpty()) {
    proxyHost.append(settings.proxyDomain);
    return;
  }
  if (!settings.useSystemProxy) return;

  const char* scheme = StartsWithNoCase(url ? url : "", "https") ? "https" : "http";
  StringBuffer proxyText;
  bool enabled = false;
  LogNull quiet;
  const bool logIt = purpose == ProxyPurpose::Request;
  if (!ReadSystemProxy(scheme, proxyText, enabled, logIt ? log : quiet)) return;
  if (logIt) {
    log.addTag("IE_Proxy", proxyText.getString());
    log.addTagInt("IE_ProxyEnabled", enabled ? 1 : 0);
  }
  if (!enabled || proxyText.isEmpty()) return;

  std::string_view text = proxyText.view();
  size_t colon = text.find(':');
  int port = kDefaultHttpPort;
  if (colon != std::string_view::npos) {
    // A port that can't be read, or is out of range, leaves 80.
    int read = kDefaultHttpPort;
    if (ReadPort(text.substr(colon + 1), read) == PortText::Valid) port = read;
    text = text.substr(0, colon);
  }
  if (!proxyHost.assign(text)) return;
  proxyPort = port;
}

}  // namespace quillon
