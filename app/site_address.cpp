#include "app/site_address.h"

#include <algorithm>
#include <cctype>

namespace tollwick {

namespace {

struct Span {
  size_t start = 0;
  size_t end = 0;  // after the "@"
};

// Where the user information lies: the authority (up to the first "/", "?" or "#") up to its
// last "@", as the URL parser reads it. Empty when there is none.
Span UserInfoSpan(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  const size_t start = scheme + 3;
  const size_t authorityEnd = url.find_first_of("/\\?#", start);
  const size_t at = url.substr(0, authorityEnd).rfind('@');
  if (at == std::string_view::npos || at < start) return {};
  return {start, at + 1};
}

}  // namespace

std::string WithoutUserInfo(std::string_view url) {
  const Span span = UserInfoSpan(url);
  std::string out(url);
  return out.erase(span.start, span.end - span.start);
}

namespace {

bool IsHostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// The host and port part of an authority without its user information ("host:80", "[::1]").
std::string HostProblem(std::string_view hostPort, std::string_view url) {
  std::string_view host = hostPort;
  std::string_view port;
  const size_t close = hostPort.rfind(']');
  const size_t colon = hostPort.rfind(':');
  if (colon != std::string_view::npos && (close == std::string_view::npos || colon > close)) {
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  }
  const std::string quoted = "\"" + std::string(url) + "\"";
  if (host.empty()) return quoted + " has no host";
  const bool literal = host.front() == '[' && host.back() == ']';
  if (!literal && !std::all_of(host.begin(), host.end(), IsHostCharacter)) {
    return quoted + " has no valid host name (\"" + std::string(host) + "\")";
  }
  if (port.empty()) return std::string();
  const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  if (!digits || std::stoi(std::string(port)) < 1 || std::stoi(std::string(port)) > 65535) {
    return quoted + " has no valid port (\"" + std::string(port) + "\"; 1 to 65535)";
  }
  return std::string();
}

}  // namespace

std::string SiteAddressProblem(std::string_view url) {
  const size_t scheme = url.find("://");
  const std::string_view name = url.substr(0, scheme == std::string_view::npos ? 0 : scheme);
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != "http" && lower != "https") {
    return "only http and https addresses can be crawled (\"" + std::string(url) + "\")";
  }
  const Span user = UserInfoSpan(url);
  const size_t hostStart = user.end != 0 ? user.end : scheme + 3;
  const size_t end = url.find_first_of("/\\?#", hostStart);
  return HostProblem(url.substr(hostStart, end == std::string_view::npos ? url.npos
                                                                         : end - hostStart),
                     url);
}

bool HasPasswordInAddress(std::string_view url) {
  const Span span = UserInfoSpan(url);
  return url.substr(span.start, span.end - span.start).find(':') != std::string_view::npos;
}

}  // namespace tollwick
