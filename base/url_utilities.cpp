// HtmlHelp's URL utilities: percent decoding, the wildcard test of the spider's pattern lists
// and the registrable-domain rule of the HTTP client and the cookie code.
#include <libpsl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/ascii.h"
#include "base/html_help.h"
#include "base/parse_engine.h"

namespace quillon {

namespace {

struct SuffixListFree {
  void operator()(psl_ctx_t* list) const { psl_free(list); }
};

// The public suffix list: the system's copy when it is newer than the one built into libpsl,
// loaded once per process. Null only when libpsl has neither.
const psl_ctx_t* SuffixList() {
  static const std::unique_ptr<psl_ctx_t, SuffixListFree> latest(psl_latest(nullptr));
  return latest ? latest.get() : psl_builtin();
}

// An IPv6 literal at the start of text ("[::1]:80" gives "[::1]", "::1" stays whole); empty
// when text is no such literal.
std::string_view LeadingIpv6Literal(std::string_view text) {
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    return close == std::string_view::npos ? text : text.substr(0, close + 1);
  }
  text = text.substr(0, text.find_first_of(" ?&="));
  return std::count(text.begin(), text.end(), ':') >= 2 ? text : std::string_view();
}

// The registrable domain of name (dots around it ignored) as a tail of name; empty when the
// list gives none (a public suffix itself, or a name the list does not know).
std::string_view RegistrableTail(std::string_view name) {
  const size_t first = name.find_first_not_of('.');
  if (first == std::string_view::npos) return {};
  name = name.substr(first, name.find_last_not_of('.') - first + 1);
  if (name.find('\0') != std::string_view::npos) return {};
  // libpsl reads lower-case names; ASCII folding keeps every offset.
  std::string lower(name);
  for (char& c : lower) c = LowerAscii(c);
  const char* found = psl_registrable_domain(SuffixList(), lower.c_str());
  if (found == nullptr) return {};
  return name.substr(static_cast<size_t>(found - lower.c_str()));
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
  // An address is matched exactly: no other host shares its cookies.
  std::string_view literal = LeadingIpv6Literal(name);
  if (!literal.empty()) return out.append(literal);
  name = TrimmedView(name.substr(0, name.find_first_of(":%&? =")));
  if (IsIpAddressHost(name)) return out.append(name);
  // A name the list gives no registrable domain for (localhost, a public suffix) stands alone.
  std::string_view registrable = RegistrableTail(name);
  return out.append(registrable.empty() ? name : registrable);
}

}  // namespace quillon
