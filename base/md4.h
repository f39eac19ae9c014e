// MD4 (RFC 1320), the library's own: NTLM's password hash needs it, and OpenSSL 3 keeps MD4 in
// its legacy provider, which a default installation does not load. Not for anything else: MD4
// is broken as a general-purpose hash.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/md_block_hash.h"

namespace quillon {

class Md4 : public MdBlockHash {
 public:
  Md4();

  static void digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]);
};

}  // namespace quillon
