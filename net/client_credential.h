// Client certificates for TLS: a certificate with its private key (and the CA certificates
// that came with it), read from PEM or PKCS#12, and the set of up to three that a channel
// offers. A certificate goes out only when the server asks for one. Passwords come from the
// caller only: OpenSSL never prompts on a terminal.
#pragma once

#include <cstdint>
#include <memory>

#include "base/quillon_object.h"
#include "net/certificate.h"
#include "net/openssl_owners.h"

namespace quillon {

class LogBase;

// Why a certificate or key file could not be used.
enum class CredentialProblem : uint8_t {
  kNone,
  kUnreadable,         // the file could not be read (the system's reason is in the log)
  kDamaged,            // neither PEM nor PKCS#12 can be read from it
  kNoCertificate,      // it reads, but holds no certificate
  kPasswordNeeded,     // PKCS#12 or an encrypted key, and no password was given
  kWrongPassword,      // the password does not open it (or its MAC no longer matches)
  kLegacyUnavailable,  // older PKCS#12 ciphers (RC2) and OpenSSL's legacy provider is missing
  kNoPrivateKey,
  kKeyMismatch,        // the key does not belong to the certificate
  kOutOfMemory,
};

// The files a credential is read from.
enum class CredentialFile : uint8_t { kCertificate, kKey };

// What went wrong loading a credential, and in which file.
struct CredentialFailure {
  CredentialProblem problem = CredentialProblem::kNone;
  CredentialFile file = CredentialFile::kCertificate;
};

// The one line for people: "wrong password", "the file holds no private key", ...
const char* DescribeCredentialProblem(CredentialProblem problem);

class ClientCredential : public QuillonObject {
 public:
  ~ClientCredential() override;
  ClientCredential(const ClientCredential&) = delete;
  ClientCredential& operator=(const ClientCredential&) = delete;

  // Reads certFile: PEM (the certificate first, then any CA certificates; the key in the same
  // file unless keyFile names another PEM file) or PKCS#12. password (null or empty: none)
  // opens the PKCS#12 file or an encrypted PEM key. Null, with the reason logged and in
  // failure, when a file cannot be read, holds no certificate or no key, the password is
  // missing or wrong, or the key does not belong to the certificate; a file that cannot be
  // read leaves the file functions' message (the system's reason) in log.
  static std::unique_ptr<ClientCredential> Load(const char* certFile, const char* keyFile,
                                                const char* password, LogBase& log,
                                                CredentialFailure& failure);
  static std::unique_ptr<ClientCredential> Load(const char* certFile, const char* keyFile,
                                                const char* password, LogBase& log);

  const Certificate& certificate() const { return *certificate_; }
  evp_pkey_st* key() const { return key_.get(); }
  // The CA certificates sent with it (may be null).
  stack_st_X509* chain() const { return chain_.get(); }
  // Whether the certificate is expired or not yet valid at this moment.
  bool outsideValidity() const;

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
