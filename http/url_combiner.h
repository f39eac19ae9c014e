// Resolves a link or a redirect location against the URL it was found at (RFC 3986 section
// 5.2, dot segments removed) and writes the result in the encoding a request line can carry:
// "\" read as "/", spaces, controls and bytes of 0x80 and above percent-encoded, a "%" without
// two hex digits written %25. It does not decode escapes, fold case or drop default ports.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

// Combined URLs of this many characters or more are refused: the result must fit room for 1999
// characters including the terminator.
inline constexpr uint32_t kCombinedUrlLimit = 1999;

// Replaces combined with the reference resolved against the base URL; an absolute reference
// gets the same encoding and dot-segment removal, and a reference in the base's own scheme
// without "//" ("http:g") is read as relative. False with combined empty when neither has a
// scheme, the result would be kCombinedUrlLimit characters or longer, or memory runs out.
bool CombineUrl(std::string_view baseUrl, std::string_view reference, StringBuffer& combined);

// Brings an http or https URL (scheme in any case) to the one form the crawl compares and lists:
// scheme and host lower-cased, the scheme's default port (and an empty port) dropped, an empty
// path made "/" (RFC 3986 6.2.2-6.2.3), user information ("user:pw@") removed. Path, query and
// fragment keep their bytes. Other texts stay as they are. False only when memory runs out.
bool NormalizeUrl(StringBuffer& url);

}  // namespace quillon
