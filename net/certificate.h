// A server certificate as the TLS channel keeps it (names, name parts, key usages, chain status)
// and the verification of a server certificate against the trust store under the SSL server
// rules for the host name dialled, answered with the CERT_E_* codes. Revocation lists are not
// fetched; the trust store is the system's unless a trust file is set.
#pragma once

#include <cstdint>
#include <memory>

#include "base/ext_ptr_array.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"
#include "net/openssl_owners.h"

namespace quillon {

class LogBase;

// Policy status codes of a verification (0 = verified).
inline constexpr uint32_t kCertEExpired = 0x800B0101;
inline constexpr uint32_t kCertEValidityPeriodNesting = 0x800B0102;
inline constexpr uint32_t kCertERole = 0x800B0103;
inline constexpr uint32_t kCertEPathLenConst = 0x800B0104;
inline constexpr uint32_t kCertECritical = 0x800B0105;
inline constexpr uint32_t kCertEPurpose = 0x800B0106;
inline constexpr uint32_t kCertEIssuerChaining = 0x800B0107;
inline constexpr uint32_t kCertEMalformed = 0x800B0108;
inline constexpr uint32_t kCertEUntrustedRoot = 0x800B0109;
inline constexpr uint32_t kCertEChaining = 0x800B010A;
inline constexpr uint32_t kTrustEFail = 0x800B010B;
inline constexpr uint32_t kCertERevoked = 0x800B010C;
inline constexpr uint32_t kCertEUntrustedTestRoot = 0x800B010D;
inline constexpr uint32_t kCertERevocationFailure = 0x800B010E;
inline constexpr uint32_t kCertECnNoMatch = 0x800B010F;
inline constexpr uint32_t kCertEWrongUsage = 0x800B0110;

// Check flags of the SSL policy: each one lets that problem pass.
inline constexpr uint32_t kIgnoreUnknownCa = 0x00000100;
inline constexpr uint32_t kIgnoreWrongUsage = 0x00000200;
inline constexpr uint32_t kIgnoreCertCnInvalid = 0x00001000;
inline constexpr uint32_t kIgnoreCertDateInvalid = 0x00002000;

// The name of a policy status ("CERT_E_EXPIRED", ...; "(unknown)" for others). Null for the
// untrusted-root codes, which are not named in the log.
const char* CertStatusName(uint32_t status);

// Trust file (PEM, one or more certificates) used instead of the system trust store; empty or
// null goes back to the system store (which honours SSL_CERT_FILE and SSL_CERT_DIR).
// Process-wide; tests use it to trust their own CA. False when memory ran out: the system
// store is used then.
bool SetTrustFile(const char* path);

class Certificate : public QuillonObject {
 public:
  // Key usage bits (of the extension's first byte).
  static constexpr uint8_t kDigitalSignature = 0x80;
  static constexpr uint8_t kNonRepudiation = 0x40;
  static constexpr uint8_t kKeyEncipherment = 0x20;
  static constexpr uint8_t kDataEncipherment = 0x10;
  static constexpr uint8_t kKeyCertSign = 0x04;
  static constexpr uint8_t kCrlSign = 0x02;

  // Extended key usage flags.
  static constexpr uint8_t kServerAuth = 0x01;
  static constexpr uint8_t kClientAuth = 0x02;
  static constexpr uint8_t kCodeSigning = 0x04;
  static constexpr uint8_t kEmailProtection = 0x08;
  static constexpr uint8_t kTimeStamping = 0x10;

  ~Certificate() override;
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;

  // A certificate holding its own reference to cert, with names, parts, usages and chain status
  // read (chain: the intermediates sent with it, may be null); null when cert is null or memory
  // runs out.
  static std::unique_ptr<Certificate> FromX509(x509_st* cert, stack_st_X509* chain = nullptr);
  // Reads the first certificate of a PEM file; null when there is none. A file that cannot be
  // read leaves the file functions' message in log, one without a certificate says so there.
  // Without a log the reason is dropped: for callers that only ask whether the file holds one.
  static std::unique_ptr<Certificate> FromPemFile(const char* path);
  static std::unique_ptr<Certificate> FromPemFile(const char* path, LogBase& log);

  // Splits an X.500 name text into (NAME, value) pairs: at "," and "=" outside double quotes
  // and not after a backslash; a multi-valued part keeps the value before " + OID".
  static bool SplitDn(const char* dn, OwningPtrArray& parts);

  x509_st* x509() const { return cert_.get(); }
  const StringBuffer& issuerDn() const { return issuerDn_; }
  const StringBuffer& subjectDn() const { return subjectDn_; }
  const StringBuffer& subjectAltDnsName() const { return sanDns_; }
  // The value of the first issuer (subject) part named name (upper case, e.g. "CN"), appended to
  // out; false when there is none.
  bool issuerPart(const char* name, StringBuffer& out) const;
  bool subjectPart(const char* name, StringBuffer& out) const;
  const OwningPtrArray& issuerParts() const { return issuerParts_; }
  const OwningPtrArray& subjectParts() const { return subjectParts_; }

  uint8_t keyUsage() const { return keyUsage_; }
  bool hasExtendedKeyUsage() const { return ekuPresent_; }
  uint8_t extendedKeyUsage() const { return eku_; }
  bool signatureValid() const { return signatureValid_; }
  bool trustedRoot() const { return trustedRoot_; }
  bool expired() const { return expired_; }
  bool revoked() const { return revoked_; }

 private:
  Certificate() = default;
  bool Load(x509_st* cert, stack_st_X509* chain);

  X509Ptr cert_;
  StringBuffer issuerDn_;
  StringBuffer subjectDn_;
  StringBuffer sanDns_;
  OwningPtrArray issuerParts_;
  OwningPtrArray subjectParts_;
  uint8_t keyUsage_ = 0;
  bool ekuPresent_ = false;
  uint8_t eku_ = 0;
  bool signatureValid_ = true;
  bool trustedRoot_ = true;
  bool expired_ = false;
  bool revoked_ = false;
};

// Verifies cert (with the intermediate certificates the server sent in chain, may be null) for
// host: chain to a trusted root, validity dates, usage, then the host name (an IP address text
// is matched as an address; a wildcard must be a whole label, so "f*.example.com" matches
// nothing). True when verified; otherwise the reason is in the log under
// "WinVerifyTrustWarning". checks holds kIgnore* flags. verbose adds the trace line. statusOut,
// when given, receives the policy status (0 = verified).
bool VerifyServerCertificate(x509_st* cert, stack_st_X509* chain, const char* host,
                             uint32_t checks, bool verbose, LogBase& log,
                             uint32_t* statusOut = nullptr);

// The policy status VerifyServerCertificate would report (0 when verified), logging nothing;
// for tests and for callers that want the code itself.
uint32_t CertificatePolicyStatus(x509_st* cert, stack_st_X509* chain, const char* host,
                                 uint32_t checks, bool& chainBuilt);

}  // namespace quillon
