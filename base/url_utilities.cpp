// HtmlHelp's URL utilities: percent decoding, the wildcard test of the spider's pattern lists
// and the registrable-domain rule of the HTTP client and the cookie code.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "base/ascii.h"
#include "base/html_help.h"
#include "base/parse_engine.h"

namespace quillon {

namespace {

// Endings under which the registrable domain is the last two labels.
constexpr std::string_view kGenericEndings[] = {"com", "org",  "edu",  "net",  "mil",   "biz",
                                                "info", "coop", "name", "aero", "museum"};
// Free hosting services that give each user a subdomain of their own.
constexpr std::string_view kHostingServices[] = {"blogspot", "typepad",   "blogs",
                                                 "weblogs",  "tripod",    "f2s",
                                                 "geocities", "wordpress", "lockergnome"};
// Second-level labels under a country code that sit below the registrable domain.
constexpr std::string_view kCountrySecondLevels[] = {"co", "com", "edu", "org", "net"};

template <size_t N>
bool IsOneOf(std::string_view label, const std::string_view (&list)[N]) {
  for (std::string_view entry : list) {
    if (label == entry) return true;
  }
  return false;
}

// A malformed escape digit reads as 0, as the decoder always took it.
uint8_t HexOrZero(char c) { return HexValue(c) < 0 ? 0 : static_cast<uint8_t>(HexValue(c)); }

bool SameText(std::string_view a, std::string_view b, bool caseSensitive) {
  return caseSensitive ? a == b : EqualsNoCase(a, b);
}

size_t FindText(std::string_view text, std::string_view part, bool caseSensitive) {
  if (caseSensitive) return text.find(part);
  const char* at = FindNoCase(text, part);
  return at ? static_cast<size_t>(at - text.data()) : std::string_view::npos;
}

std::string_view TrimmedView(std::string_view text) {
  constexpr std::string_view kTrim = " \t\r\n";
  size_t start = text.find_first_not_of(kTrim);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kTrim) - start + 1);
}

bool AppendLabels(StringBuffer& out, std::initializer_list<std::string_view> labels) {
  bool first = true;
  for (std::string_view label : labels) {
    if (!first && !out.appendChar('.')) return false;
    if (!out.append(label)) return false;
    first = false;
  }
  return true;
}

}  // namespace

bool HtmlHelp::UrlDecode(std::string_view text, DataBuffer& out) {
  out.clear();
  if (text.size() > UINT32_MAX || !out.reserve(static_cast<uint32_t>(text.size()) + 1)) {
    return false;
  }
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    uint8_t byte = static_cast<uint8_t>(c);
    if (c == '+') {
      byte = ' ';
      ++i;
    } else if (c == '%') {
      if (text.size() - i - 1 < 2) break;  // a cut-off escape ends the text
      byte = static_cast<uint8_t>(HexOrZero(text[i + 1]) << 4 | HexOrZero(text[i + 2]));
      i += 3;
    } else {
      ++i;
    }
    if (!out.appendByte(byte)) return false;
  }
  return true;
}

bool HtmlHelp::MatchesWildcard(std::string_view text, const char* pattern, bool caseSensitive) {
  std::string_view rule = pattern ? pattern : "";
  if (text.empty()) return rule.find_first_not_of('*') == std::string_view::npos;
  if (rule.empty()) return false;
  size_t star = rule.find('*');
  if (star == std::string_view::npos) return SameText(text, rule, caseSensitive);

  std::string_view head = rule.substr(0, star);
  if (text.size() < head.size() || !SameText(text.substr(0, head.size()), head, caseSensitive)) {
    return false;
  }
  std::string_view rest = text.substr(head.size());
  rule.remove_prefix(star + 1);
  // Each part between two stars: its first occurrence, then on after it.
  for (star = rule.find('*'); star != std::string_view::npos; star = rule.find('*')) {
    std::string_view part = rule.substr(0, star);
    size_t at = FindText(rest, part, caseSensitive);
    if (!part.empty()) {
      if (at == std::string_view::npos) return false;
      rest.remove_prefix(at + part.size());
    }
    rule.remove_prefix(star + 1);
  }
  // What follows the last star must end the text; nothing after it matches any rest.
  if (rule.empty()) return true;
  return rest.size() >= rule.size() &&
         SameText(rest.substr(rest.size() - rule.size()), rule, caseSensitive);
}

bool HtmlHelp::IsIpAddressHost(std::string_view host) {
  if (host.find(':') != std::string_view::npos || host.starts_with('[')) return true;
  if (host.ends_with('.')) host.remove_suffix(1);
  std::string_view last = host.substr(host.rfind('.') + 1);
  if (last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X')) {
    last.remove_prefix(2);
    return std::all_of(last.begin(), last.end(), [](char c) { return HexValue(c) >= 0; });
  }
  return !last.empty() &&
         std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool HtmlHelp::BaseDomain(std::string_view host, StringBuffer& out) {
  out.clear();
  std::string_view name = TrimmedView(host);
  name = TrimmedView(name.substr(0, name.find_first_of(":%&? =")));

  // The number of non-empty labels and the last three of them.
  size_t count = 0;
  std::string_view last, second, third;
  for (size_t from = 0; from <= name.size();) {
    size_t dot = name.find('.', from);
    if (dot == std::string_view::npos) dot = name.size();
    if (dot > from) {
      third = second;
      second = last;
      last = name.substr(from, dot - from);
      ++count;
    }
    from = dot + 1;
  }

  if (count < 2) return out.append(name);
  if (count == 2 || IsOneOf(last, kGenericEndings)) {
    if (count == 3 && (last == "com" || last == "net") && IsOneOf(second, kHostingServices)) {
      return AppendLabels(out, {third, second, last});
    }
    return AppendLabels(out, {second, last});
  }
  if (last == "us") {
    if (second.size() == 2 || second == "dni" || second == "fed") {
      return out.append(name.starts_with("www.") ? name.substr(4) : name);
    }
    return AppendLabels(out, {second, last});
  }
  if (IsOneOf(second, kCountrySecondLevels) || (second == "gov" && last.size() == 2)) {
    return AppendLabels(out, {third, second, last});
  }
  return AppendLabels(out, {second, last});
}

}  // namespace quillon
