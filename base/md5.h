// MD5 over libcrypto's EVP interface: the one place in base/ that includes OpenSSL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillon {

class Md5 {
 public:
  static constexpr size_t kDigestLength = 16;

  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void update(const void* bytes, size_t length);
  // Writes the 16-byte digest and starts over.
  void finish(uint8_t digest[kDigestLength]);

  static void digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]);

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// HMAC-MD5 of a message under a key.
void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[Md5::kDigestLength]);

}  // namespace quillon
