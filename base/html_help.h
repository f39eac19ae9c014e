// Small, forgiving readers of raw HTML text (title, meta elements, attributes, tag clean-up) and
// the URL utilities shared by the spider and the HTTP client. No document tree, no entity
// decoding: the text between tags comes back as the page holds it. Letter case folds for ASCII
// only. The URL utilities are implemented in url_utilities.cpp.
#pragma once

#include <string_view>

#include "base/data_buffer.h"
#include "base/string_buffer.h"

namespace quillon {

class HtmlHelp {
 public:
  // The tag readers empty their output first and return false only when memory runs out.

  // The text of the page's title element, trimmed; empty when there is none.
  static bool GetTitle(std::string_view page, StringBuffer& title);
  // The content of the first meta element whose NAME (or HTTP-EQUIV) value equals name in any
  // letter case and whose content is not empty; trimmed; empty when there is none.
  static bool GetMetaContent(std::string_view page, const char* name, StringBuffer& content);
  // The charset named by the page's meta elements: the first content-type element's charset
  // parameter that is not empty (quotes removed), else the first <meta charset=...>. Left as it
  // was when no element names one; emptied when only content-type elements without one exist.
  static bool GetMetaCharset(std::string_view page, StringBuffer& charset);
  // The double- (else single-) quoted value of the attribute in a tag cleaned by CleanTag,
  // trimmed, backslashes made "/". The name is matched as a plain substring, so "data-name"
  // answers for "name" when it comes first. Empty when absent or unclosed.
  static bool GetAttribute(std::string_view tag, const char* name, StringBuffer& value);
  // Rewrites the first tag of raw into the form GetAttribute reads: element name, then each
  // attribute as " name=" and a quoted value, single spaces, a closing ">". At most 101 valued
  // attributes are kept; a tag cut there has no ">".
  static bool CleanTag(std::string_view raw, StringBuffer& clean);

  // Percent decoding: "+" is a space, "%XY" the byte of hex XY; a digit that is not hexadecimal
  // counts as 0; a "%" with fewer than two bytes after it ends the output. out is emptied first.
  static bool UrlDecode(std::string_view text, DataBuffer& out);
  // True when text matches pattern, in which "*" stands for any run of bytes (also none). A
  // null or empty pattern matches only an empty text. Case folds for ASCII letters only.
  static bool MatchesWildcard(std::string_view text, const char* pattern, bool caseSensitive);
  // The registrable domain of a host by the public suffix list ("www.shop.example.co.uk" gives
  // "example.co.uk", "alice.herokuapp.com" itself), in the host's letter case. An IP address,
  // a public suffix and a name the list knows no domain for ("localhost") give the host itself.
  // A port or query after the host is cut off first. out is emptied first.
  static bool BaseDomain(std::string_view host, StringBuffer& out);
  // True when host is an IP address rather than a name: an IPv6 literal (with or without its
  // brackets) or a host whose last label is a number ("127.0.0.1", "10.1", "0x7f.1"), which
  // resolvers read as IPv4. Such a host is a domain of its own, never a parent of another.
  static bool IsIpAddressHost(std::string_view host);
};

}  // namespace quillon
