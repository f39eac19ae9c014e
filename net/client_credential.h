// Client certificates for TLS: a certificate with its private key (and the CA certificates
// that came with it), read from PEM or PKCS#12, and the set of up to three that a channel
// offers. A certificate goes out only when the server asks for one.
#pragma once

#include <cstdint>
#include <memory>

#include "base/quillon_object.h"
#include "net/certificate.h"
#include "net/openssl_owners.h"

namespace quillon {

class LogBase;

class ClientCredential : public QuillonObject {
 public:
  ~ClientCredential() override;
  ClientCredential(const ClientCredential&) = delete;
  ClientCredential& operator=(const ClientCredential&) = delete;

  // Reads certFile: PEM (the certificate first, then any CA certificates; the key in the same
  // file unless keyFile names another) or PKCS#12 (opened with password, may be null). Null,
  // with the reason logged, when a file cannot be read, holds no certificate or no key, or the
  // key does not belong to the certificate; a file that cannot be read leaves the file
  // functions' message (the system's reason) in log.
  static std::unique_ptr<ClientCredential> Load(const char* certFile, const char* keyFile,
                                                const char* password, LogBase& log);

  const Certificate& certificate() const { return *certificate_; }
  evp_pkey_st* key() const { return key_.get(); }
  // The CA certificates sent with it (may be null).
  stack_st_X509* chain() const { return chain_.get(); }

 private:
  ClientCredential() = default;

  std::unique_ptr<Certificate> certificate_;
  EvpPkeyPtr key_;
  X509ChainPtr chain_;
};

// The client certificates of one set of settings, in the order they were added.
class ClientCredentialSet {
 public:
  // A channel hands at most this many to its credentials.
  static constexpr int kMaxCredentials = 3;

  // Takes credential; false (and it is dropped) when the set is full or it is null.
  bool Add(std::unique_ptr<ClientCredential> credential);
  int count() const { return count_; }
  const ClientCredential& at(int index) const { return *credentials_[index]; }
  bool isEmpty() const { return count_ == 0; }
  void clear();

 private:
  std::shared_ptr<ClientCredential> credentials_[kMaxCredentials];
  int count_ = 0;
};

}  // namespace quillon
