// One cookie, the cookies loaded for one request, and the rules that need no storage: reading
// Set-Cookie fields, which domains a host may set cookies for, matching a cookie to a request,
// writing the Cookie line and naming the document a base domain's cookies live in. Storage (files or the memory table) is cookie_mgr.*.
#pragma once

#include <string_view>

#include "base/ext_ptr_array.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"
#include "base/string_pair.h"

namespace quillon {

class HttpResponseHeader;

class Cookie : public QuillonObject {
 public:
  // Pairs past this many are ignored: a hostile Set-Cookie line of a megabyte of names must
  // not cost quadratic time (browsers keep far fewer cookies per site).
  static constexpr int kMaxPairs = 256;

  Cookie() = default;
  Cookie(const Cookie&) = delete;
  Cookie& operator=(const Cookie&) = delete;

  // Sets name's value; a name already there (any case) keeps its place; a name past kMaxPairs
  // is ignored. False on no memory.
  bool setPair(std::string_view name, std::string_view value);
  int pairCount() const { return pairs_.count(); }
  const StringPair* pairAt(int index) const { return pairs_.at<StringPair>(index); }

  int version = 0;
  bool secure = false;  // sent over https only
  bool discard = false;
  int maxAge = 0;
  StringBuffer domain;
  StringBuffer path;
  StringBuffer expire;  // as the server wrote it; never evaluated

 private:
  OwningPtrArray pairs_;
};

// The cookies loaded for one request, in document order.
class CookieJar {
 public:
  // Takes ownership; false (cookie deleted) on no memory.
  bool add(Cookie* cookie);
  int count() const { return cookies_.count(); }
  const Cookie* at(int index) const { return cookies_.at<Cookie>(index); }

 private:
  OwningPtrArray cookies_;
};

// Appends to out (owning) one cookie per "Set-Cookie" or "Set-Cookie2" field of header, in
// order; a cookie without a domain takes defaultDomain, or is dropped when that is empty. False
// only when memory runs out.
bool ParseSetCookies(const HttpResponseHeader& header, std::string_view defaultDomain,
                     OwningPtrArray& out);

// Whether cookie goes with a request to host and path: the host equals the domain without one
// leading "." (any case) or ends with the domain as stored at a label's start, and an IP-address
// host only equals it; a path other than "" and "/" must begin the request's path. Neither the
// secure flag nor the expiry is looked at here.
bool CookieMatches(const Cookie& cookie, std::string_view host, std::string_view path);

// Whether host may set a cookie for domain (one leading "." ignored, any case): domain is host
// itself, or a parent of host at or below host's registrable domain, so never a public suffix,
// a sibling, or another address of an IP-address host.
bool CookieDomainCoversHost(std::string_view domain, std::string_view host);

// The value of the Cookie line for host and path: "name=value" of every matching cookie's pairs
// in jar order joined by "; ", a name already written skipped, a value holding a space quoted.
// secureRequest false leaves out cookies marked secure (they are sent over https only).
bool BuildCookieHeader(const CookieJar& jar, std::string_view host, std::string_view path,
                       bool secureRequest, StringBuffer& out);

// The name of the document that holds host's cookies: shop.acme.test gives "acme_test.xml".
// False when no base domain can be found.
bool CookieDocumentName(std::string_view host, StringBuffer& name);

}  // namespace quillon
