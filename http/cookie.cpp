#include "http/cookie.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "base/ascii.h"
#include "base/hash_map.h"
#include "base/html_help.h"
#include "http/http_response_header.h"

namespace quillon {

namespace {

// Calls part(text) for each piece of value between the ";" that stand outside double quotes (a
// backslash makes the next character plain); quotes and backslashes stay in the pieces.
template <typename Part>
bool ForEachPart(std::string_view value, Part part) {
  size_t start = 0;
  bool inQuotes = false;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size()) {
      const char c = value[i];
      if (c == '\\') {
        ++i;
        continue;
      }
      if (c == '"') inQuotes = !inQuotes;
      if (c != ';' || inQuotes) continue;
    }
    if (!part(value.substr(start, std::min(i, value.size()) - start))) return false;
    start = i + 1;
  }
  return true;
}

int ReadInt(std::string_view text) {
  std::string copy(text.substr(0, 11));
  return static_cast<int>(std::strtol(copy.c_str(), nullptr, 10));
}

// Applies one trimmed, non-empty part of a Set-Cookie value to cookie.
bool ApplyPart(std::string_view part, Cookie& cookie) {
  const size_t equals = part.find('=');
  if (equals == std::string_view::npos) {
    if (EqualsNoCase(part, "secure")) {
      cookie.secure = true;
    } else if (EqualsNoCase(part, "discard")) {
      cookie.discard = true;
    } else {
      return cookie.setPair(part, std::string_view());
    }
    return true;
  }
  const std::string_view name = Trimmed(part.substr(0, equals));
  const std::string_view value = Trimmed(part.substr(equals + 1));
  if (EqualsNoCase(name, "domain")) return cookie.domain.assign(value);
  if (EqualsNoCase(name, "path")) return cookie.path.assign(value);
  if (EqualsNoCase(name, "expires")) return cookie.expire.assign(value);
  if (EqualsNoCase(name, "port") || EqualsNoCase(name, "comment") ||
      EqualsNoCase(name, "commentUrl")) {
    return true;
  }
  if (EqualsNoCase(name, "version")) {
    if (value == "0" || value == "1") cookie.version = value[0] - '0';
    return true;
  }
  if (EqualsNoCase(name, "max-age")) {
    cookie.maxAge = ReadInt(value);
    return true;
  }
  return name.empty() || cookie.setPair(name, value);
}

// The cookie of one Set-Cookie(2) field, or null when it has no domain (or memory ran out:
// outOfMemory tells).
std::unique_ptr<Cookie> ParseField(const MimeField& field, std::string_view defaultDomain,
                                   bool& outOfMemory) {
  std::unique_ptr<Cookie> cookie(new (std::nothrow) Cookie);
  if (!cookie) {
    outOfMemory = true;
    return nullptr;
  }
  cookie->version = EqualsNoCase(field.name.view(), "Set-Cookie2") ? 1 : 0;
  bool ok = ForEachPart(field.value.view(), [&cookie](std::string_view part) {
    part = Trimmed(part);
    return part.empty() || ApplyPart(part, *cookie);
  });
  if (!ok) {
    outOfMemory = true;
    return nullptr;
  }
  cookie->domain.trim();
  if (cookie->domain.isEmpty()) {
    if (defaultDomain.empty()) return nullptr;
    if (!cookie->domain.assign(defaultDomain)) {
      outOfMemory = true;
      return nullptr;
    }
  }
  return cookie;
}

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string_view WithoutLeadingDot(std::string_view domain) {
  return domain.starts_with('.') ? domain.substr(1) : domain;
}

// Whether host ends with domain where a label of host begins ("shop.acme.test" under
// "acme.test" or ".acme.test", never "myacme.test" under "acme.test").
bool EndsAtLabel(std::string_view host, std::string_view domain, bool caseSensitive) {
  if (domain.empty() || host.size() < domain.size()) return false;
  std::string_view tail = host.substr(host.size() - domain.size());
  if (caseSensitive ? tail != domain : !EqualsNoCase(tail, domain)) return false;
  return domain.starts_with('.') || host.size() == domain.size() ||
         host[host.size() - domain.size() - 1] == '.';
}

bool HostMatches(std::string_view domain, std::string_view host) {
  if (EqualsNoCase(host, WithoutLeadingDot(domain))) return true;
  // An IP-address host shares its cookies with no other host.
  return !HtmlHelp::IsIpAddressHost(host) && EndsAtLabel(host, domain, true);
}

}  // namespace

bool Cookie::setPair(std::string_view name, std::string_view value) {
  for (int i = 0; i < pairs_.count(); ++i) {
    StringPair* pair = pairs_.at<StringPair>(i);
    if (EqualsNoCase(pair->firstText(), name)) return pair->setSecond(value);
  }
  if (pairs_.count() >= kMaxPairs) return true;
  std::unique_ptr<StringPair> pair(new (std::nothrow) StringPair);
  if (!pair || !pair->setFirst(name) || !pair->setSecond(value) || !pairs_.append(pair.get())) {
    return false;
  }
  pair.release();
  return true;
}

bool CookieJar::add(Cookie* cookie) {
  if (cookie == nullptr) return false;
  if (cookies_.append(cookie)) return true;
  delete cookie;
  return false;
}

bool ParseSetCookies(const HttpResponseHeader& header, std::string_view defaultDomain,
                     OwningPtrArray& out) {
  for (int i = 0; i < header.fields.count(); ++i) {
    const MimeField& field = *header.fields.fieldAt(i);
    if (!EqualsNoCase(field.name.view(), "Set-Cookie") &&
        !EqualsNoCase(field.name.view(), "Set-Cookie2")) {
      continue;
    }
    bool outOfMemory = false;
    std::unique_ptr<Cookie> cookie = ParseField(field, defaultDomain, outOfMemory);
    if (outOfMemory) return false;
    if (cookie == nullptr) continue;
    if (!out.append(cookie.get())) return false;
    cookie.release();
  }
  return true;
}

bool CookieMatches(const Cookie& cookie, std::string_view host, std::string_view path) {
  if (!HostMatches(cookie.domain.view(), host)) return false;
  std::string_view own = cookie.path.view();
  return own.empty() || own == "/" || path.starts_with(own);
}

bool CookieDomainCoversHost(std::string_view domain, std::string_view host) {
  domain = WithoutLeadingDot(domain);
  if (domain.empty()) return false;
  if (EqualsNoCase(domain, host)) return true;
  if (HtmlHelp::IsIpAddressHost(host) || !EndsAtLabel(host, domain, false)) return false;
  // Above the registrable domain lie only public suffixes, shared by unrelated sites.
  StringBuffer registrable;
  return HtmlHelp::BaseDomain(host, registrable) && EndsAtLabel(domain, registrable.view(), false);
}

bool BuildCookieHeader(const CookieJar& jar, std::string_view host, std::string_view path,
                       bool secureRequest, StringBuffer& out) {
  out.clear();
  // Names already written (lower-cased): the first of two equal names wins.
  HashMap written;
  StringBuffer key;
  for (int c = 0; c < jar.count(); ++c) {
    const Cookie& cookie = *jar.at(c);
    if (!CookieMatches(cookie, host, path) || (cookie.secure && !secureRequest)) continue;
    for (int p = 0; p < cookie.pairCount(); ++p) {
      const StringPair& pair = *cookie.pairAt(p);
      std::string_view name = pair.firstText();
      // A line break read back from a damaged or hostile cookie file must not start a header.
      if (HoldsLineBreak(name) || HoldsLineBreak(pair.secondText())) continue;
      if (!key.assign(name)) return false;
      key.toLowerCase();
      if (written.contains(key.view())) continue;
      if (!written.add(key.view())) return false;
      std::string_view value = pair.secondText();
      const bool quote = value.find(' ') != std::string_view::npos;
      if ((!out.isEmpty() && !out.append("; ")) || !out.append(name) || !out.append("=") ||
          (quote && !out.append("\"")) || !out.append(value) || (quote && !out.append("\""))) {
        return false;
      }
    }
  }
  return true;
}

bool CookieDocumentName(std::string_view host, StringBuffer& name) {
  StringBuffer base;
  if (!HtmlHelp::BaseDomain(host, base)) return false;
  base.trim();
  base.toLowerCase();
  std::string_view trimmed = base.view();
  if (trimmed.starts_with('.')) trimmed.remove_prefix(1);
  if (!HtmlHelp::BaseDomain(trimmed, name) || name.isEmpty()) return false;
  name.replaceChar('.', '_');
  return name.append(".xml");
}

}  // namespace quillon
