#include "net/client_credential.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>
#include <new>

#include "base/log_base.h"

namespace quillon {
namespace {

struct FileClose {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ChainFree {
  void operator()(STACK_OF(X509)* chain) const { sk_X509_pop_free(chain, X509_free); }
};
struct Pkcs12Free {
  void operator()(PKCS12* p12) const { PKCS12_free(p12); }
};

// What one file gave.
struct Parts {
  std::unique_ptr<X509, X509Free> cert;
  std::unique_ptr<EVP_PKEY, PkeyFree> key;
  std::unique_ptr<STACK_OF(X509), ChainFree> chain;
};

bool ReadPem(const char* path, Parts& parts) {
  FilePtr file(std::fopen(path, "rb"));
  if (!file) return false;
  parts.cert.reset(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
  if (!parts.cert) return false;
  parts.chain.reset(sk_X509_new_null());
  while (X509* more = PEM_read_X509(file.get(), nullptr, nullptr, nullptr)) {
    if (!parts.chain || sk_X509_push(parts.chain.get(), more) == 0) X509_free(more);
  }
  ERR_clear_error();
  std::rewind(file.get());
  parts.key.reset(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  ERR_clear_error();
  return true;
}

bool ReadPkcs12(const char* path, const char* password, Parts& parts) {
  FilePtr file(std::fopen(path, "rb"));
  if (!file) return false;
  std::unique_ptr<PKCS12, Pkcs12Free> p12(d2i_PKCS12_fp(file.get(), nullptr));
  if (!p12) return false;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (PKCS12_parse(p12.get(), password != nullptr ? password : "", &key, &cert, &chain) != 1) {
    return false;
  }
  parts.cert.reset(cert);
  parts.key.reset(key);
  parts.chain.reset(chain);
  return cert != nullptr;
}

std::unique_ptr<EVP_PKEY, PkeyFree> ReadKeyFile(const char* path) {
  FilePtr file(std::fopen(path, "rb"));
  if (!file) return nullptr;
  std::unique_ptr<EVP_PKEY, PkeyFree> key(PEM_read_PrivateKey(file.get(), nullptr, nullptr,
                                                              nullptr));
  ERR_clear_error();
  return key;
}

}  // namespace

ClientCredential::~ClientCredential() {
  EVP_PKEY_free(key_);
  sk_X509_pop_free(chain_, X509_free);
}

std::unique_ptr<ClientCredential> ClientCredential::Load(const char* certFile,
                                                         const char* keyFile,
                                                         const char* password, LogBase& log) {
  Parts parts;
  if (certFile == nullptr ||
      (!ReadPem(certFile, parts) && !ReadPkcs12(certFile, password, parts))) {
    ERR_clear_error();
    log.addError("Failed to load the client certificate");
    log.addTag("certFile", certFile != nullptr ? certFile : "");
    return nullptr;
  }
  if (keyFile != nullptr && *keyFile != '\0') parts.key = ReadKeyFile(keyFile);
  if (!parts.key) {
    log.addError("No private key for the client certificate");
    log.addTag("keyFile", keyFile != nullptr && *keyFile != '\0' ? keyFile : certFile);
    return nullptr;
  }
  if (X509_check_private_key(parts.cert.get(), parts.key.get()) != 1) {
    ERR_clear_error();
    log.addError("The private key does not belong to the client certificate");
    return nullptr;
  }
  std::unique_ptr<ClientCredential> credential(new (std::nothrow) ClientCredential);
  if (credential) credential->certificate_ = Certificate::FromX509(parts.cert.get());
  if (!credential || !credential->certificate_) {
    log.addError("Out of memory");
    return nullptr;
  }
  credential->key_ = parts.key.release();
  credential->chain_ = parts.chain.release();
  return credential;
}

bool ClientCredentialSet::Add(std::unique_ptr<ClientCredential> credential) {
  if (!credential || count_ == kMaxCredentials) return false;
  credentials_[count_++] = std::move(credential);
  return true;
}

void ClientCredentialSet::clear() {
  for (auto& credential : credentials_) credential.reset();
  count_ = 0;
}

}  // namespace quillon
