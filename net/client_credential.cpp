#include "net/client_credential.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
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
  bool load(const char* path, LogBase& log) {
    return path != nullptr && bytes_.loadFile(path, log);
  }
  // A read-only memory BIO over the bytes; null when memory runs out.
  BioPtr reader() const {
    return BioPtr(BIO_new_mem_buf(bytes_.data(), static_cast<int>(bytes_.length())));
  }
  // PEM is text with armour lines; PKCS#12 is DER, which never holds one.
  bool isPem() const { return contains("-----BEGIN "); }
  // Any PEM private key: PKCS#8 plain or encrypted, or the older RSA/EC forms.
  bool holdsPemKey() const { return contains("PRIVATE KEY-----"); }

 private:
  bool contains(std::string_view text) const {
    return bytes_.view().find(text) != std::string_view::npos;
  }

  DataBuffer bytes_;
};

bool HasPassword(const char* password) { return password != nullptr && *password != '\0'; }
bool Named(const char* path) { return path != nullptr && *path != '\0'; }

// The caller's password for OpenSSL's password callback, and whether OpenSSL asked for it.
struct PasswordSource {
  const char* password = nullptr;
  bool asked = false;
};

// Hands OpenSSL the caller's password, or fails when there is none: with a callback of its
// own, OpenSSL never falls back to prompting on the terminal (or reading stdin).
int SupplyPassword(char* buffer, int size, int, void* userdata) {
  auto* source = static_cast<PasswordSource*>(userdata);
  source->asked = true;
  if (!HasPassword(source->password)) return -1;
  const size_t length = std::strlen(source->password);
  if (length > static_cast<size_t>(size)) return -1;
  std::memcpy(buffer, source->password, length);
  return static_cast<int>(length);
}

// Whether the last queued error says no PEM block of the kind wanted was found.
bool NoPemBlockFound() {
  const unsigned long code = ERR_peek_last_error();
  return ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE;
}

// The certificate first, then any CA certificates; other blocks (the key) are passed over.
CredentialProblem ReadPemCertificates(const SecretFile& file, Parts& parts) {
  BioPtr bio = file.reader();
  if (!bio) return CredentialProblem::kOutOfMemory;
  PasswordSource none;
  parts.cert.reset(PEM_read_bio_X509(bio.get(), nullptr, SupplyPassword, &none));
  if (!parts.cert) {
    const bool noCertificate = NoPemBlockFound();
    ERR_clear_error();
    return noCertificate ? CredentialProblem::kNoCertificate : CredentialProblem::kDamaged;
  }
  parts.chain.reset(sk_X509_new_null());
  while (X509Ptr more{PEM_read_bio_X509(bio.get(), nullptr, SupplyPassword, &none)}) {
    if (parts.chain && sk_X509_push(parts.chain.get(), more.get()) != 0) more.release();
  }
  ERR_clear_error();
  return CredentialProblem::kNone;
}

// The private key of PEM text, decrypted with password when it is encrypted. kNone with key
// null when the text holds no key.
CredentialProblem ReadPemKey(const SecretFile& file, const char* password, EvpPkeyPtr& key) {
  BioPtr bio = file.reader();
  if (!bio) return CredentialProblem::kOutOfMemory;
  PasswordSource source{password};
  key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, SupplyPassword, &source));
  ERR_clear_error();
  if (key) return CredentialProblem::kNone;
  if (source.asked) {
    return HasPassword(password) ? CredentialProblem::kWrongPassword
                                 : CredentialProblem::kPasswordNeeded;
  }
  return file.holdsPemKey() ? CredentialProblem::kDamaged : CredentialProblem::kNone;
}

struct ProviderUnload {
  void operator()(OSSL_PROVIDER* provider) const { OSSL_PROVIDER_unload(provider); }
};
using ProviderPtr = std::unique_ptr<OSSL_PROVIDER, ProviderUnload>;

// OpenSSL 3 keeps RC2, which older PKCS#12 files (many Windows exports) encrypt their
// certificates with, in its legacy provider. Loaded once, for the life of the process, when a
// file needs it; the default provider is loaded beside it because loading any provider by hand
// stops OpenSSL from loading the default one by itself. False (logged) when it is missing.
bool LoadLegacyProvider(LogBase& log) {
  static std::once_flag once;
  static ProviderPtr defaultProvider;
  static ProviderPtr legacyProvider;
  std::call_once(once, [] {
    defaultProvider.reset(OSSL_PROVIDER_load(nullptr, "default"));
    legacyProvider.reset(OSSL_PROVIDER_load(nullptr, "legacy"));
    ERR_clear_error();
  });
  if (legacyProvider) return true;
  log.addError("OpenSSL's legacy provider could not be loaded");
  log.addTag("modulesDir", OPENSSL_info(OPENSSL_INFO_MODULES_DIR));
  return false;
}

enum class Pkcs12Outcome { kParsed, kMacFailed, kCipherUnsupported, kFailed };

// Why the last PKCS12_parse failed, from the queued errors (which it clears).
Pkcs12Outcome Pkcs12Failure() {
  Pkcs12Outcome outcome = Pkcs12Outcome::kFailed;
  while (const unsigned long code = ERR_get_error()) {
    if (ERR_GET_LIB(code) == ERR_LIB_PKCS12 &&
        ERR_GET_REASON(code) == PKCS12_R_MAC_VERIFY_FAILURE) {
      outcome = Pkcs12Outcome::kMacFailed;
    } else if (ERR_GET_REASON(code) == ERR_R_UNSUPPORTED &&
               outcome != Pkcs12Outcome::kMacFailed) {
      outcome = Pkcs12Outcome::kCipherUnsupported;
    }
  }
  return outcome;
}

// PKCS12_parse tries an empty password both as empty and as absent when none is given.
Pkcs12Outcome ParsePkcs12(PKCS12* p12, const char* password, Parts& parts) {
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  STACK_OF(X509)* chain = nullptr;
  const int parsed = PKCS12_parse(p12, password != nullptr ? password : "", &key, &cert, &chain);
  parts.cert.reset(cert);
  parts.key.reset(key);
  parts.chain.reset(chain);
  return parsed == 1 ? Pkcs12Outcome::kParsed : Pkcs12Failure();
}

CredentialProblem ReadPkcs12(const SecretFile& file, const char* password, Parts& parts,
                             LogBase& log) {
  BioPtr bio = file.reader();
  if (!bio) return CredentialProblem::kOutOfMemory;
  Pkcs12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
  ERR_clear_error();
  if (!p12) return CredentialProblem::kDamaged;
  Pkcs12Outcome outcome = ParsePkcs12(p12.get(), password, parts);
  if (outcome == Pkcs12Outcome::kCipherUnsupported) {
    if (!LoadLegacyProvider(log)) return CredentialProblem::kLegacyUnavailable;
    outcome = ParsePkcs12(p12.get(), password, parts);
  }
  switch (outcome) {
    case Pkcs12Outcome::kParsed:
      break;
    case Pkcs12Outcome::kMacFailed:
      return HasPassword(password) ? CredentialProblem::kWrongPassword
                                   : CredentialProblem::kPasswordNeeded;
    case Pkcs12Outcome::kCipherUnsupported:
    case Pkcs12Outcome::kFailed:
      return CredentialProblem::kDamaged;
  }
  // Without a key to pair it with, the certificate is filed among the CA certificates.
  if (!parts.cert && parts.chain && sk_X509_num(parts.chain.get()) > 0) {
    parts.cert.reset(sk_X509_shift(parts.chain.get()));
  }
  return parts.cert ? CredentialProblem::kNone : CredentialProblem::kNoCertificate;
}

// Reads the certificate file as PEM or as PKCS#12 (with its key, when it holds one).
CredentialProblem ReadCertificateFile(const SecretFile& file, const char* password, Parts& parts,
                                      LogBase& log) {
  return file.isPem() ? ReadPemCertificates(file, parts) : ReadPkcs12(file, password, parts, log);
}

CredentialProblem ReadKeyFile(const char* path, const char* password, EvpPkeyPtr& key,
                              LogBase& log) {
  SecretFile file;
  if (!file.load(path, log)) return CredentialProblem::kUnreadable;
  return ReadPemKey(file, password, key);
}

// Names problem (in file) in failure and in log, where the step that found it has not yet.
std::unique_ptr<ClientCredential> Fail(CredentialProblem problem, CredentialFile file,
                                       CredentialFailure& failure, LogBase& log) {
  failure.problem = problem;
  failure.file = file;
  if (problem != CredentialProblem::kUnreadable && problem != CredentialProblem::kKeyMismatch &&
      problem != CredentialProblem::kOutOfMemory) {
    log.addError(DescribeCredentialProblem(problem));
  }
  return nullptr;
}

}  // namespace

const char* DescribeCredentialProblem(CredentialProblem problem) {
  switch (problem) {
    case CredentialProblem::kNone:
      return "";
    case CredentialProblem::kUnreadable:
      return "the file could not be read";
    case CredentialProblem::kDamaged:
      return "the file is damaged, or is neither PEM nor PKCS#12";
    case CredentialProblem::kNoCertificate:
      return "the file holds no certificate";
    case CredentialProblem::kPasswordNeeded:
      return "the file is protected by a password and none was given";
    case CredentialProblem::kWrongPassword:
      return "wrong password";
    case CredentialProblem::kLegacyUnavailable:
      return "the file is encrypted with an older cipher (RC2) that needs OpenSSL's legacy "
             "provider, which could not be loaded";
    case CredentialProblem::kNoPrivateKey:
      return "the file holds no private key";
    case CredentialProblem::kKeyMismatch:
      return "the private key does not belong to the certificate";
    case CredentialProblem::kOutOfMemory:
      return "out of memory";
  }
  return "";
}

ClientCredential::~ClientCredential() = default;

std::unique_ptr<ClientCredential> ClientCredential::Load(const char* certFile,
                                                         const char* keyFile,
                                                         const char* password, LogBase& log) {
  CredentialFailure failure;
  return Load(certFile, keyFile, password, log, failure);
}

std::unique_ptr<ClientCredential> ClientCredential::Load(const char* certFile,
                                                         const char* keyFile,
                                                         const char* password, LogBase& log,
                                                         CredentialFailure& failure) {
  failure = CredentialFailure{};
  SecretFile certBytes;
  Parts parts;
  CredentialProblem problem = certBytes.load(certFile, log)
                                  ? ReadCertificateFile(certBytes, password, parts, log)
                                  : CredentialProblem::kUnreadable;
  if (problem != CredentialProblem::kNone) {
    log.addError("Failed to load the client certificate");
    log.addTag("certFile", certFile != nullptr ? certFile : "");
    return Fail(problem, CredentialFile::kCertificate, failure, log);
  }
  // The key file, when named, takes the place of any key in the certificate file.
  const CredentialFile keySource =
      Named(keyFile) ? CredentialFile::kKey : CredentialFile::kCertificate;
  if (keySource == CredentialFile::kKey) {
    problem = ReadKeyFile(keyFile, password, parts.key, log);
  } else if (certBytes.isPem()) {
    problem = ReadPemKey(certBytes, password, parts.key);
  }
  if (problem == CredentialProblem::kNone && !parts.key) {
    problem = CredentialProblem::kNoPrivateKey;
  }
  if (problem != CredentialProblem::kNone) {
    log.addError("No private key for the client certificate");
    log.addTag("keyFile", keySource == CredentialFile::kKey ? keyFile : certFile);
    return Fail(problem, keySource, failure, log);
  }
  if (X509_check_private_key(parts.cert.get(), parts.key.get()) != 1) {
    ERR_clear_error();
    log.addError("The private key does not belong to the client certificate");
    return Fail(CredentialProblem::kKeyMismatch, keySource, failure, log);
  }
  std::unique_ptr<ClientCredential> credential(new (std::nothrow) ClientCredential);
  if (credential) credential->certificate_ = Certificate::FromX509(parts.cert.get());
  if (!credential || !credential->certificate_) {
    log.addError("Out of memory");
    return Fail(CredentialProblem::kOutOfMemory, CredentialFile::kCertificate, failure, log);
  }
  credential->key_ = std::move(parts.key);
  credential->chain_ = std::move(parts.chain);
  return credential;
}

bool ClientCredential::outsideValidity() const {
  const X509* cert = certificate_->x509();
  return X509_cmp_current_time(X509_get0_notAfter(cert)) < 0 ||
         X509_cmp_current_time(X509_get0_notBefore(cert)) > 0;
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
