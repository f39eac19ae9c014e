#include "app/site_address.h"

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

bool HasPasswordInAddress(std::string_view url) {
  const Span span = UserInfoSpan(url);
  return url.substr(span.start, span.end - span.start).find(':') != std::string_view::npos;
}

}  // namespace tollwick
