#include "base/md5.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace quillon {

struct Md5::Context {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(ctx); }
};

Md5::Md5() : context_(std::make_unique<Context>()) {
  EVP_DigestInit_ex(context_->ctx, EVP_md5(), nullptr);
}

Md5::~Md5() = default;

void Md5::update(const void* bytes, size_t length) {
  if (length) EVP_DigestUpdate(context_->ctx, bytes, length);
}

void Md5::finish(uint8_t digest[kDigestLength]) {
  unsigned int size = 0;
  EVP_DigestFinal_ex(context_->ctx, digest, &size);
  EVP_DigestInit_ex(context_->ctx, EVP_md5(), nullptr);
}

void Md5::digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]) {
  unsigned int size = 0;
  EVP_Digest(bytes, length, digest, &size, EVP_md5(), nullptr);
}

void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[Md5::kDigestLength]) {
  unsigned int size = 0;
  HMAC(EVP_md5(), key, static_cast<int>(keyLength), static_cast<const unsigned char*>(message),
       messageLength, digest, &size);
}

}  // namespace quillon
