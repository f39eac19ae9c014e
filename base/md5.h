// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104), the library's own: cache file names, the fixed
// HashMap's buckets and NTLMv2 need them, and none of these is worth loading libcrypto for.
// Not for anything that needs collision resistance: MD5 is broken for that.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/md_block_hash.h"

namespace quillon {

class Md5 : public MdBlockHash {
 public:
  Md5();

  static void digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]);
};

// HMAC-MD5 of a message under a key (RFC 2104); a key longer than a block is hashed first.
void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[Md5::kDigestLength]);

}  // namespace quillon
