#include "http/url_combiner.h"

#include <algorithm>
#include <new>
#include <string>

#include "base/ascii.h"

namespace quillon {

namespace {


bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
bool IsSchemeName(std::string_view s) {
  if (s.empty() || !IsAlpha(s[0])) return false;
  for (char c : s) {
    if (!IsAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// Printable characters that RFC 3986 allows nowhere in a URI; a request line must not carry
// them raw.
bool NeverAllowed(unsigned char c) {
  return c == '"' || c == '<' || c == '>' || c == '`' || c == '{' || c == '}' || c == '|' ||
         c == '^';
}

// "\" becomes "/"; spaces, controls, DEL, bytes of 0x80 and above and the characters no URI
// allows become %XX; a "%" that does not start a valid escape becomes %25. Valid escapes keep
// their letter case. None of this creates or removes a delimiter, so it may come before the
// split.
std::string Canonical(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\') {
      out += '/';
    } else if (c == '%') {
      if (i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
        out += '%';
      } else {
        out += "%25";
      }
    } else if (c <= 0x20 || c >= 0x7F || NeverAllowed(c)) {
      out += '%';
      out += HexDigit(c >> 4);
      out += HexDigit(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The five components of RFC 3986 appendix B; "has" tells an empty component from a missing one.
struct UriParts {
  std::string_view scheme;
  std::string_view authority;
  std::string_view path;
  std::string_view query;
  std::string_view fragment;
  bool hasScheme = false;
  bool hasAuthority = false;
  bool hasQuery = false;
  bool hasFragment = false;
};

UriParts SplitUri(std::string_view s) {
  UriParts parts;
  size_t pos = 0;
  const size_t colon = s.find_first_of(":/?#");
  if (colon != std::string_view::npos && s[colon] == ':' && IsSchemeName(s.substr(0, colon))) {
    parts.scheme = s.substr(0, colon);
    parts.hasScheme = true;
    pos = colon + 1;
  }
  if (s.substr(pos, 2) == "//") {
    pos += 2;
    const size_t end = std::min(s.find_first_of("/?#", pos), s.size());
    parts.authority = s.substr(pos, end - pos);
    parts.hasAuthority = true;
    pos = end;
  }
  size_t end = std::min(s.find_first_of("?#", pos), s.size());
  parts.path = s.substr(pos, end - pos);
  pos = end;
  if (pos < s.size() && s[pos] == '?') {
    end = std::min(s.find('#', pos + 1), s.size());
    parts.query = s.substr(pos + 1, end - pos - 1);
    parts.hasQuery = true;
    pos = end;
  }
  if (pos < s.size() && s[pos] == '#') {
    parts.fragment = s.substr(pos + 1);
    parts.hasFragment = true;
  }
  return parts;
}

void RemoveLastSegment(std::string& output) {
  const size_t slash = output.rfind('/');
  output.erase(slash == std::string::npos ? 0 : slash);
}

// RFC 3986 section 5.2.4, walking the input as a view so long paths stay linear.
std::string RemoveDotSegments(std::string_view input) {
  static constexpr std::string_view kSlash = "/";
  std::string output;
  output.reserve(input.size());
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = kSlash;
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      RemoveLastSegment(output);
    } else if (input == "/..") {
      input = kSlash;
      RemoveLastSegment(output);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t end = std::min(input.find('/', input[0] == '/' ? 1 : 0), input.size());
      output.append(input.substr(0, end));
      input.remove_prefix(end);
    }
  }
  return output;
}

// RFC 3986 section 5.2.3.
std::string MergePaths(const UriParts& base, std::string_view referencePath) {
  std::string merged;
  if (base.hasAuthority && base.path.empty()) {
    merged = "/";
  } else {
    const size_t slash = base.path.rfind('/');
    if (slash != std::string_view::npos) merged = base.path.substr(0, slash + 1);
  }
  merged.append(referencePath);
  return merged;
}

// RFC 3986 sections 5.2.2 and 5.3; false when there is no scheme to resolve against.
bool Resolve(std::string_view baseText, std::string_view referenceText, std::string& target) {
  UriParts base = SplitUri(baseText);
  UriParts ref = SplitUri(referenceText);
  // Non-strict: a reference in the base's own scheme is relative ("http:g").
  if (ref.hasScheme && base.hasScheme && EqualsNoCase(ref.scheme, base.scheme)) {
    ref.hasScheme = false;
  }

  UriParts t;
  std::string path;
  if (ref.hasScheme) {
    t = ref;
    path = RemoveDotSegments(ref.path);
  } else {
    if (!base.hasScheme) return false;
    t.scheme = base.scheme;
    t.hasScheme = true;
    if (ref.hasAuthority) {
      t.authority = ref.authority;
      t.hasAuthority = true;
      path = RemoveDotSegments(ref.path);
      t.query = ref.query;
      t.hasQuery = ref.hasQuery;
    } else {
      t.authority = base.authority;
      t.hasAuthority = base.hasAuthority;
      if (ref.path.empty()) {
        path = base.path;
        t.query = ref.hasQuery ? ref.query : base.query;
        t.hasQuery = ref.hasQuery || base.hasQuery;
      } else {
        path = ref.path.starts_with('/') ? RemoveDotSegments(ref.path)
                                         : RemoveDotSegments(MergePaths(base, ref.path));
        t.query = ref.query;
        t.hasQuery = ref.hasQuery;
      }
    }
    t.fragment = ref.fragment;
    t.hasFragment = ref.hasFragment;
  }

  target.clear();
  target.append(t.scheme).append(":");
  if (t.hasAuthority) target.append("//").append(t.authority);
  target.append(path);
  if (t.hasQuery) target.append("?").append(t.query);
  if (t.hasFragment) target.append("#").append(t.fragment);
  return true;
}

}  // namespace

bool CombineUrl(std::string_view baseUrl, std::string_view reference, StringBuffer& combined) {
  combined.clear();
  try {
    const std::string base = Canonical(baseUrl);
    const std::string ref = Canonical(reference);
    std::string target;
    if (!Resolve(base, ref, target)) return false;
    if (target.size() >= kCombinedUrlLimit) return false;
    return combined.assign(target.data(), static_cast<uint32_t>(target.size()));
  } catch (const std::bad_alloc&) {
    combined.clear();
    return false;
  }
}

namespace {

// The normal form of "scheme://authority" + rest for an http(s) URL; defaultPort is the
// scheme's ("80" or "443").
std::string NormalForm(std::string_view scheme, std::string_view authority, std::string_view rest,
                       std::string_view defaultPort) {
  // User information is dropped: it serves requests, never a listed or logged address. The
  // host after the last "@" is folded.
  size_t at = authority.rfind('@');
  size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
  std::string_view hostPort = authority.substr(hostStart);
  // A port follows the last ":" that is not inside an IPv6 literal.
  size_t colon = hostPort.rfind(':');
  size_t bracket = hostPort.rfind(']');
  if (colon != std::string_view::npos && bracket != std::string_view::npos && colon < bracket) {
    colon = std::string_view::npos;
  }
  std::string_view host = hostPort.substr(0, colon);
  std::string_view port =
      colon == std::string_view::npos ? std::string_view() : hostPort.substr(colon + 1);

  std::string out;
  out.reserve(scheme.size() + 3 + authority.size() + rest.size() + 1);
  for (char c : scheme) out += LowerAscii(c);
  out += "://";
  for (char c : host) out += LowerAscii(c);
  if (!port.empty() && port != defaultPort) out.append(":").append(port);
  if (rest.empty() || rest.front() != '/') out += '/';
  out.append(rest);
  return out;
}

}  // namespace

bool NormalizeUrl(StringBuffer& url) {
  std::string_view text = url.view();
  std::string_view defaultPort;
  size_t schemeLength = 0;
  if (StartsWithNoCase(text, "http://")) {
    schemeLength = 4;
    defaultPort = "80";
  } else if (StartsWithNoCase(text, "https://")) {
    schemeLength = 5;
    defaultPort = "443";
  } else {
    return true;
  }
  std::string_view afterScheme = text.substr(schemeLength + 3);
  size_t authorityEnd = std::min(afterScheme.find_first_of("/?#"), afterScheme.size());
  try {
    std::string normal =
        NormalForm(text.substr(0, schemeLength), afterScheme.substr(0, authorityEnd),
                   afterScheme.substr(authorityEnd), defaultPort);
    if (normal == text) return true;
    return url.assign(normal.data(), static_cast<uint32_t>(normal.size()));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace quillon
