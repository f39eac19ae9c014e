// Test certificates made with the OpenSSL API: a test CA, certificates it issues (or
// self-signed ones) for chosen names, validity periods and usages, written as PEM files into a
// scratch folder, and as PKCS#12 files or encrypted keys. P-256 keys, so making them costs next
// to nothing. Header-only.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace quillon::testing {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

// What a certificate says.
struct CertOptions {
  // Subject name entries in order, e.g. {{"O", "Brindlewood"}, {"CN", "127.0.0.1"}}.
  std::vector<std::pair<std::string, std::string>> subject;
  std::vector<std::string> dnsNames;  // subjectAltName DNS entries
  std::vector<std::string> ips;       // subjectAltName IP entries
  long notBeforeSec = -3600;          // relative to now
  long notAfterSec = 30L * 86400;
  bool selfSigned = false;
  bool serverAuth = true;  // extendedKeyUsage serverAuth (else clientAuth)
};

// Paths of one issued certificate and its key.
struct IssuedCert {
  std::string certFile;
  std::string keyFile;
  std::string intermediateFile;  // the CA between it and the root, when issued through one
};

class TestPki {
 public:
  // Makes the CA in folder (which must exist; ends with "/").
  explicit TestPki(std::string folder) : folder_(std::move(folder)) {
    caKey_ = NewKey();
    CertOptions options;
    options.subject = {{"O", "Tollwick Tests"}, {"CN", "Tollwick Test CA"}};
    caCert_ = Make(options, caKey_.get(), nullptr, nullptr, true);
    caFile_ = folder_ + "ca.pem";
    WriteCert(caCert_.get(), caFile_);
  }

  // The CA certificate (PEM) to trust.
  const std::string& caFile() const { return caFile_; }

  // Issues a certificate named name through an intermediate CA of its own (written to
  // "<name>-intermediate.pem") that the root signs; the root alone does not vouch for it.
  IssuedCert IssueChained(const std::string& name, const CertOptions& options) {
    PkeyPtr middleKey = NewKey();
    CertOptions middleOptions;
    middleOptions.subject = {{"O", "Tollwick Tests"}, {"CN", "Tollwick Test Intermediate"}};
    X509Ptr middle = Make(middleOptions, middleKey.get(), caCert_.get(), caKey_.get(), true);
    PkeyPtr key = NewKey();
    X509Ptr cert = Make(options, key.get(), middle.get(), middleKey.get(), false);
    IssuedCert issued{folder_ + name + ".pem", folder_ + name + ".key",
                      folder_ + name + "-intermediate.pem"};
    WriteCert(cert.get(), issued.certFile);
    WriteCert(middle.get(), issued.intermediateFile);
    WriteKey(key.get(), issued.keyFile);
    return issued;
  }

  // Issues a certificate named name (file stem) by the CA, or self-signed when the options say so.
  IssuedCert Issue(const std::string& name, const CertOptions& options) {
    PkeyPtr key = NewKey();
    X509Ptr cert = options.selfSigned ? Make(options, key.get(), nullptr, nullptr, false)
                                   : Make(options, key.get(), caCert_.get(), caKey_.get(), false);
    IssuedCert issued{folder_ + name + ".pem", folder_ + name + ".key", ""};
    WriteCert(cert.get(), issued.certFile);
    WriteKey(key.get(), issued.keyFile);
    return issued;
  }

 private:
  static PkeyPtr NewKey() { return PkeyPtr(EVP_EC_gen("P-256")); }

  static void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext != nullptr) {
      X509_add_ext(cert, ext, -1);
      X509_EXTENSION_free(ext);
    }
  }

  X509Ptr Make(const CertOptions& options, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
               bool ca) {
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial_);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), options.notBeforeSec);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), options.notAfterSec);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    for (const auto& [field, value] : options.subject) {
      // A field name starting with "+" joins the previous entry's multi-valued part.
      const bool joined = !field.empty() && field[0] == '+';
      const std::string text = joined ? field.substr(1) : field;
      X509_NAME_add_entry_by_txt(name, text.c_str(), MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                 joined ? -1 : 0);
    }
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (ca) {
      AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
      AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
      AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
      AddExtension(cert.get(), signer, NID_ext_key_usage,
                   options.serverAuth ? "serverAuth" : "clientAuth");
      // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "," + ("DNS:" + dns).
      std::string san;
      auto addName = [&san](const char* kind, const std::string& value) {
        if (!san.empty()) san += ',';
        san += kind;
        san += value;
      };
      for (const std::string& dns : options.dnsNames) addName("DNS:", dns);
      for (const std::string& ip : options.ips) addName("IP:", ip);
      if (!san.empty()) AddExtension(cert.get(), signer, NID_subject_alt_name, san);
    }
    X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256());
    return cert;
  }

  static void WriteKey(EVP_PKEY* key, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(file);
  }

  static void WriteCert(X509* cert, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    PEM_write_X509(file, cert);
    std::fclose(file);
  }

  std::string folder_;
  PkeyPtr caKey_;
  X509Ptr caCert_;
  std::string caFile_;
  long serial_ = 1000;
};

// The forms of a PKCS#12 file: today's (AES-256), the older one many Windows exports still
// produce (RC2-40 certificates, 3DES keys), and a certificate without its key.
enum class Pkcs12Form { kModern, kLegacy, kCertificateOnly };

// Writes issued as PKCS#12 to path under password, through the openssl command line, so the
// process under test never loads OpenSSL's legacy provider to make one. False when it failed.
inline bool WritePkcs12(const IssuedCert& issued, const std::string& path,
                        const std::string& password, Pkcs12Form form) {
  std::string command = "openssl pkcs12 -export -in '" + issued.certFile + "' -out '" + path +
                        "' -passout 'pass:" + password + "'";
  if (form == Pkcs12Form::kLegacy) command += " -legacy";
  command += form == Pkcs12Form::kCertificateOnly ? " -nokeys" : " -inkey '" + issued.keyFile + "'";
  return std::system((command + " 2>/dev/null </dev/null").c_str()) == 0;
}

// Encrypted PEM keys: PKCS#8 ("ENCRYPTED PRIVATE KEY") or the older form with its
// "Proc-Type: 4,ENCRYPTED" header.
enum class EncryptedKeyForm { kPkcs8, kTraditional };

// Writes the key of issued to path, encrypted with AES-256 under password. False on failure.
inline bool WriteEncryptedKey(const IssuedCert& issued, const std::string& path,
                              const std::string& password, EncryptedKeyForm form) {
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(issued.keyFile.c_str(), "rb"),
                                               &BIO_free);
  PkeyPtr key(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(path.c_str(), "wb"), &BIO_free);
  if (!key || !out) return false;
  auto* secret = reinterpret_cast<unsigned char*>(const_cast<char*>(password.c_str()));
  const int length = static_cast<int>(password.size());
  return (form == EncryptedKeyForm::kPkcs8
              ? PEM_write_bio_PrivateKey(out.get(), key.get(), EVP_aes_256_cbc(), secret, length,
                                         nullptr, nullptr)
              : PEM_write_bio_PrivateKey_traditional(out.get(), key.get(), EVP_aes_256_cbc(),
                                                     secret, length, nullptr, nullptr)) == 1;
}

}  // namespace quillon::testing
