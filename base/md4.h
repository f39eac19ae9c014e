// MD4 (RFC 1320), the library's own: NTLM's password hash needs it, and OpenSSL 3 keeps MD4 in
// its legacy provider, which a default installation does not load. Not for anything else: MD4
// is broken as a general-purpose hash.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

class Md4 {
 public:
  static constexpr size_t kDigestLength = 16;
  static constexpr size_t kBlockLength = 64;

  Md4();

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

}  // namespace quillon
