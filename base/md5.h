// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104), the library's own: cache file names, the fixed
// HashMap's buckets and NTLMv2 need them, and none of these is worth loading libcrypto for.
// Not for anything that needs collision resistance: MD5 is broken for that.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

class Md5 {
 public:
  static constexpr size_t kDigestLength = 16;
  static constexpr size_t kBlockLength = 64;

  Md5();

  void update(const void* bytes, size_t length);
  // Writes the 16-byte digest and starts over.
  void finish(uint8_t digest[kDigestLength]);

  static void digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]);

 private:
  void reset();
  void transform(const uint8_t block[kBlockLength]);

  uint32_t state_[4];
  uint64_t totalBytes_;
  uint8_t pending_[kBlockLength];
};

// HMAC-MD5 of a message under a key (RFC 2104); a key longer than a block is hashed first.
void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[Md5::kDigestLength]);

}  // namespace quillon
