#include "net/client_credential.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <new>
#include <utility>

#include "base/data_buffer.h"
#include "base/log_base.h"

namespace quillon {
namespace {

// What one file gave.
struct Parts {
  X509Ptr cert;
  EvpPkeyPtr key;
  X509ChainPtr chain;
};

// A file's bytes, wiped when done with: they may hold a private key.
class SecretFile {
 public:
  SecretFile() = default;
  SecretFile(const SecretFile&) = delete;
  SecretFile& operator=(const SecretFile&) = delete;
  ~SecretFile() { OPENSSL_cleanse(bytes_.data(), bytes_.length()); }

  // False with the file functions' message (the system's reason) in log.
  bool load(const char* path, LogBase& log) { return bytes_.loadFile(path, log); }
  // A read-only memory BIO over the bytes; null when memory runs out.
  BioPtr reader() const {
    return BioPtr(BIO_new_mem_buf(bytes_.data(), static_cast<int>(bytes_.length())));
  }

 private:
  DataBuffer bytes_;
};

// The certificate first, then any CA certificates; the key may stand anywhere in the text.
bool ReadPem(const SecretFile& file, Parts& parts) {
  BioPtr certificates = file.reader();
  if (!certificates) return false;
  parts.cert.reset(PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr));
  if (!parts.cert) return false;
  parts.chain.reset(sk_X509_new_null());
  while (X509Ptr more{PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr)}) {
    if (parts.chain && sk_X509_push(parts.chain.get(), more.get()) != 0) more.release();
  }
  BioPtr keys = file.reader();
  if (keys) parts.key.reset(PEM_read_bio_PrivateKey(keys.get(), nullptr, nullptr, nullptr));
  ERR_clear_error();
  return true;
}

bool ReadPkcs12(const SecretFile& file, const char* password, Parts& parts) {
  BioPtr bio = file.reader();
  Pkcs12Ptr p12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
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

// The private key of a PEM file; null when it cannot be read (the reason in log) or holds none.
EvpPkeyPtr ReadKeyFile(const char* path, LogBase& log) {
  SecretFile file;
  if (!file.load(path, log)) return nullptr;
  BioPtr bio = file.reader();
  EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  return key;
}

// Reads the certificate file as PEM, else as PKCS#12; false (the file functions' message in
// log when it could not be read) when it gives no certificate.
bool ReadCertificateFile(const char* path, const char* password, Parts& parts, LogBase& log) {
  SecretFile file;
  bool read = path != nullptr && file.load(path, log) &&
              (ReadPem(file, parts) || ReadPkcs12(file, password, parts));
  // The format that did not fit leaves its errors queued; the channel logs the first one it finds.
  ERR_clear_error();
  return read;
}

}  // namespace

ClientCredential::~ClientCredential() = default;

std::unique_ptr<ClientCredential> ClientCredential::Load(const char* certFile,
                                                         const char* keyFile,
                                                         const char* password, LogBase& log) {
  Parts parts;
  if (!ReadCertificateFile(certFile, password, parts, log)) {
    log.addError("Failed to load the client certificate");
    log.addTag("certFile", certFile != nullptr ? certFile : "");
    return nullptr;
  }
  if (keyFile != nullptr && *keyFile != '\0') parts.key = ReadKeyFile(keyFile, log);
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
  credential->key_ = std::move(parts.key);
  credential->chain_ = std::move(parts.chain);
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
