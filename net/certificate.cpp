#include "net/certificate.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "base/string_pair.h"

namespace quillon {

namespace {

// The trust store is loaded once (the system bundle holds over a hundred certificates) and
// shared; it is rebuilt when the trust file changes.
std::mutex g_trustMutex;
StringBuffer g_trustFile;
X509StorePtr g_trustStore;

// A reference to the shared trust store, loaded on first use; null when it cannot be made.
X509StorePtr TrustStore() {
  std::lock_guard<std::mutex> lock(g_trustMutex);
  if (!g_trustStore) {
    X509StorePtr store(X509_STORE_new());
    if (!store) return nullptr;
    bool loaded = g_trustFile.isEmpty()
                      ? X509_STORE_set_default_paths(store.get()) == 1
                      : X509_STORE_load_file(store.get(), g_trustFile.getString()) == 1;
    if (!loaded) return nullptr;
    g_trustStore = std::move(store);
  }
  if (X509_STORE_up_ref(g_trustStore.get()) != 1) return nullptr;
  return X509StorePtr(g_trustStore.get());
}

// Every problem the chain check meets; the callback lets the check go on past each one.
struct ChainProblems {
  bool untrusted = false;
  bool expired = false;
  bool revoked = false;
  bool badSignature = false;
  bool wrongUsage = false;
  bool role = false;
  bool pathLength = false;
  bool critical = false;
  bool other = false;
};

// Files one verification error under its problem.
void NoteProblem(int error, ChainProblems* problems) {
  switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      problems->untrusted = true;
      break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      problems->expired = true;
      break;
    case X509_V_ERR_CERT_REVOKED:
      problems->revoked = true;
      break;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
      problems->badSignature = true;
      break;
    case X509_V_ERR_INVALID_PURPOSE:
      problems->wrongUsage = true;
      break;
    case X509_V_ERR_INVALID_CA:
      problems->role = true;
      break;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      problems->pathLength = true;
      break;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      problems->critical = true;
      break;
    default:
      problems->other = true;
      break;
  }
}

bool AnyProblem(const ChainProblems& p) {
  return p.untrusted || p.expired || p.revoked || p.badSignature || p.wrongUsage || p.role ||
         p.pathLength || p.critical || p.other;
}

int CollectProblem(int ok, X509_STORE_CTX* ctx) {
  if (ok) return 1;
  NoteProblem(X509_STORE_CTX_get_error(ctx),
              static_cast<ChainProblems*>(X509_STORE_CTX_get_app_data(ctx)));
  return 1;
}

// Builds and checks the chain of cert against the trust store; false when it could not be run.
bool CheckChain(X509* cert, STACK_OF(X509)* untrusted, bool sslServerPurpose,
                ChainProblems& problems) {
  X509StorePtr store = TrustStore();
  if (!store) return false;
  X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), cert, untrusted) != 1) return false;
  if (sslServerPurpose) X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
  X509_STORE_CTX_set_app_data(ctx.get(), &problems);
  X509_STORE_CTX_set_verify_cb(ctx.get(), CollectProblem);
  const int verified = X509_verify_cert(ctx.get());
  if (verified < 0) return false;
  // The check's own verdict counts too: a failure the callback never saw is still a failure.
  if (verified != 1 && !AnyProblem(problems)) {
    NoteProblem(X509_STORE_CTX_get_error(ctx.get()), &problems);
    if (!AnyProblem(problems)) problems.other = true;
  }
  return true;
}

bool IsIpAddress(const char* host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// The X.500 key of an attribute ("CN", ...), or null for one without a short key.
const char* AttributeKey(const ASN1_OBJECT* object) {
  switch (OBJ_obj2nid(object)) {
    case NID_commonName: return "CN";
    case NID_localityName: return "L";
    case NID_organizationName: return "O";
    case NID_organizationalUnitName: return "OU";
    case NID_countryName: return "C";
    case NID_stateOrProvinceName: return "S";
    case NID_streetAddress: return "STREET";
    case NID_title: return "T";
    case NID_givenName: return "G";
    case NID_initials: return "I";
    case NID_surname: return "SN";
    case NID_domainComponent: return "DC";
    case NID_pkcs9_emailAddress: return "E";
    case NID_serialNumber: return "SERIALNUMBER";
    default: return nullptr;
  }
}

// Appends the attribute's key, or "OID." and its dotted number.
bool AppendAttributeKey(const ASN1_OBJECT* object, StringBuffer& out) {
  if (const char* key = AttributeKey(object)) return out.append(key);
  char dotted[128];
  int n = OBJ_obj2txt(dotted, sizeof dotted, object, 1);
  if (n <= 0 || n >= static_cast<int>(sizeof dotted)) return out.append("OID");
  return out.append("OID.") && out.append(dotted);
}

// A value is quoted (inner quotes doubled) when it holds a separator or is padded.
bool AppendValue(std::string_view value, StringBuffer& out) {
  bool quote = value.empty() || value.front() == ' ' || value.back() == ' ' ||
               value.find_first_of(",+=\"\r\n<>#;") != std::string_view::npos;
  if (!quote) return out.append(value);
  bool ok = out.appendChar('"');
  for (char c : value) {
    if (c == '"') ok = ok && out.appendChar('"');
    ok = ok && out.appendChar(c);
  }
  return ok && out.appendChar('"');
}

// Appends the entry's value in UTF-8; a value that cannot be converted adds nothing.
bool AppendEntryValue(const X509_NAME_ENTRY* entry, StringBuffer& out) {
  unsigned char* converted = nullptr;
  int length = ASN1_STRING_to_UTF8(&converted, X509_NAME_ENTRY_get_data(entry));
  OpenSslBytes utf8(converted);
  if (length < 0) return true;
  return AppendValue(
      std::string_view(reinterpret_cast<const char*>(utf8.get()), static_cast<size_t>(length)),
      out);
}

// The name as "C=US, O=Org, CN=host" in encoded order; multi-valued parts joined by " + ".
// False when memory runs out.
bool FormatName(const X509_NAME* name, StringBuffer& out) {
  out.clear();
  if (name == nullptr) return true;
  int previousSet = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    int set = X509_NAME_ENTRY_set(entry);
    if (i > 0 && !out.append(set == previousSet ? " + " : ", ")) return false;
    previousSet = set;
    if (!AppendAttributeKey(X509_NAME_ENTRY_get_object(entry), out) || !out.appendChar('=') ||
        !AppendEntryValue(entry, out)) {
      return false;
    }
  }
  // A formatted name shorter than two characters counts as none.
  if (out.length() < 2) out.clear();
  return true;
}

void TrimView(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
}

// The position of the first sep outside double quotes and not right after a backslash, or npos.
size_t FindOutsideQuotes(std::string_view text, char sep) {
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      ++i;
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == sep && !quoted) return i;
  }
  return std::string_view::npos;
}

// Adds one "NAME=value" part of a name text; a part without "=" is skipped.
bool AddDnPart(std::string_view part, OwningPtrArray& parts) {
  size_t equals = FindOutsideQuotes(part, '=');
  if (equals == std::string_view::npos) return true;
  std::string_view name = part.substr(0, equals);
  std::string_view rest = part.substr(equals + 1);
  size_t nextEquals = FindOutsideQuotes(rest, '=');
  std::string_view value = rest.substr(0, nextEquals);
  if (nextEquals != std::string_view::npos) {
    size_t cut = value.find(" + OID");
    if (cut != std::string_view::npos) value = value.substr(0, cut);
  }
  TrimView(name);
  TrimView(value);
  StringBuffer upperName;
  StringBuffer valueText;
  if (!upperName.assign(name) || !valueText.assign(value)) return false;
  upperName.toUpperCase();
  StringPair* pair = StringPair::Create(upperName.getString(), valueText.getString());
  if (pair == nullptr) return false;
  if (!parts.append(pair)) {
    delete pair;
    return false;
  }
  return true;
}

bool FindPart(const OwningPtrArray& parts, const char* name, StringBuffer& out) {
  for (int i = 0; i < parts.count(); ++i) {
    const StringPair* pair = parts.at<StringPair>(i);
    if (std::strcmp(pair->firstText(), name) == 0) return out.append(pair->secondText());
  }
  return false;
}

}  // namespace

const char* CertStatusName(uint32_t status) {
  switch (status) {
    case kCertEExpired: return "CERT_E_EXPIRED";
    case kCertEValidityPeriodNesting: return "CERT_E_VALIDITYPERIODNESTING";
    case kCertERole: return "CERT_E_ROLE";
    case kCertEPathLenConst: return "CERT_E_PATHLENCONST";
    case kCertECritical: return "CERT_E_CRITICAL";
    case kCertEPurpose: return "CERT_E_PURPOSE";
    case kCertEIssuerChaining: return "CERT_E_ISSUERCHAINING";
    case kCertEMalformed: return "CERT_E_MALFORMED";
    case kCertEUntrustedRoot:
    case kCertEUntrustedTestRoot: return nullptr;
    case kCertEChaining: return "CERT_E_CHAINING";
    case kTrustEFail: return "TRUST_E_FAIL";
    case kCertERevoked: return "CERT_E_REVOKED";
    case kCertERevocationFailure: return "CERT_E_REVOCATION_FAILURE";
    case kCertECnNoMatch: return "CERT_E_CN_NO_MATCH";
    case kCertEWrongUsage: return "CERT_E_WRONG_USAGE";
    default: return "(unknown)";
  }
}

bool SetTrustFile(const char* path) {
  std::lock_guard<std::mutex> lock(g_trustMutex);
  g_trustStore.reset();
  if (g_trustFile.assign(path != nullptr ? path : "")) return true;
  g_trustFile.clear();
  return false;
}

Certificate::~Certificate() = default;

std::unique_ptr<Certificate> Certificate::FromX509(X509* cert, STACK_OF(X509)* chain) {
  if (cert == nullptr) return nullptr;
  std::unique_ptr<Certificate> certificate(new (std::nothrow) Certificate);
  if (!certificate || !certificate->Load(cert, chain)) return nullptr;
  return certificate;
}

std::unique_ptr<Certificate> Certificate::FromPemFile(const char* path) {
  LogNull quiet;
  return FromPemFile(path, quiet);
}

std::unique_ptr<Certificate> Certificate::FromPemFile(const char* path, LogBase& log) {
  DataBuffer pem;
  if (path == nullptr || !pem.loadFile(path, log)) return nullptr;
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.length())));
  X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  if (!cert) {
    log.addError("No PEM certificate in the file");
    log.addTag("path", path);
    return nullptr;
  }
  return FromX509(cert.get());
}

bool Certificate::SplitDn(const char* dn, OwningPtrArray& parts) {
  if (dn == nullptr) return true;
  std::string_view rest(dn);
  for (;;) {
    size_t comma = FindOutsideQuotes(rest, ',');
    if (!AddDnPart(rest.substr(0, comma), parts)) return false;
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

bool Certificate::Load(X509* cert, STACK_OF(X509)* chain) {
  if (X509_up_ref(cert) != 1) return false;
  cert_.reset(cert);
  if (!FormatName(X509_get_issuer_name(cert), issuerDn_) ||
      !FormatName(X509_get_subject_name(cert), subjectDn_) ||
      !SplitDn(issuerDn_.getString(), issuerParts_) ||
      !SplitDn(subjectDn_.getString(), subjectParts_)) {
    return false;
  }

  if ((X509_get_extension_flags(cert) & EXFLAG_KUSAGE) != 0) {
    keyUsage_ = static_cast<uint8_t>(X509_get_key_usage(cert) & 0xFF);
  }
  GeneralNamesPtr names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
  if (names) {
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
      const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
      if (name->type != GEN_DNS) continue;
      const ASN1_IA5STRING* dns = name->d.dNSName;
      sanDns_.clear();
      if (!sanDns_.append(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                          static_cast<uint32_t>(ASN1_STRING_length(dns)))) {
        return false;
      }
    }
  }
  ExtendedKeyUsagePtr usages(static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr)));
  if (usages) {
    ekuPresent_ = true;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
      switch (OBJ_obj2nid(sk_ASN1_OBJECT_value(usages.get(), i))) {
        case NID_server_auth: eku_ |= kServerAuth; break;
        case NID_client_auth: eku_ |= kClientAuth; break;
        case NID_code_sign: eku_ |= kCodeSigning; break;
        case NID_email_protect: eku_ |= kEmailProtection; break;
        case NID_time_stamp: eku_ |= kTimeStamping; break;
        default: break;  // other usages are recognised and set nothing
      }
    }
  }

  // Chain status with the intermediates that came with it: a failed check keeps defaults.
  ChainProblems problems;
  if (CheckChain(cert, chain, false, problems)) {
    expired_ = problems.expired;
    revoked_ = problems.revoked;
    signatureValid_ = !problems.badSignature;
    trustedRoot_ = !problems.untrusted;
  }
  return true;
}

bool Certificate::issuerPart(const char* name, StringBuffer& out) const {
  return FindPart(issuerParts_, name, out);
}

bool Certificate::subjectPart(const char* name, StringBuffer& out) const {
  return FindPart(subjectParts_, name, out);
}

uint32_t CertificatePolicyStatus(X509* cert, STACK_OF(X509)* chain, const char* host,
                                 uint32_t checks, bool& chainBuilt) {
  ChainProblems problems;
  chainBuilt = CheckChain(cert, chain, true, problems);
  if (!chainBuilt) return kTrustEFail;
  // Chain problems first (the root, then the dates), then the host name.
  if (problems.untrusted && (checks & kIgnoreUnknownCa) == 0) return kCertEUntrustedRoot;
  if (problems.expired && (checks & kIgnoreCertDateInvalid) == 0) return kCertEExpired;
  if (problems.revoked) return kCertERevoked;
  if (problems.badSignature) return kTrustEFail;
  if (problems.role) return kCertERole;
  if (problems.pathLength) return kCertEPathLenConst;
  if (problems.critical) return kCertECritical;
  if (problems.wrongUsage && (checks & kIgnoreWrongUsage) == 0) return kCertEWrongUsage;
  if (problems.other) return kCertEChaining;
  if ((checks & kIgnoreCertCnInvalid) == 0) {
    int match = IsIpAddress(host) ? X509_check_ip_asc(cert, host, 0)
                                  : X509_check_host(cert, host, std::strlen(host),
                                                    X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr);
    if (match != 1) return kCertECnNoMatch;
  }
  return 0;
}

bool VerifyServerCertificate(X509* cert, STACK_OF(X509)* chain, const char* host,
                             uint32_t checks, bool verbose, LogBase& log, uint32_t* statusOut) {
  if (statusOut != nullptr) *statusOut = kTrustEFail;
  if (verbose) log.addInfo("Verifying server certificate...");
  if (cert == nullptr) {
    log.addError("Certificate parameter is null in VerifyServerCertificate");
    return false;
  }
  if (host == nullptr || *host == '\0') {
    log.addInfo("Hostname is empty in VerifyServerCertificate");
    return false;
  }
  bool chainBuilt = false;
  uint32_t status = CertificatePolicyStatus(cert, chain, host, checks, chainBuilt);
  if (statusOut != nullptr) *statusOut = status;
  if (!chainBuilt) {
    log.addError("Error building certificate chain");
    return false;
  }
  if (status == 0) return true;
  log.addTag("serverName", host);
  log.addInfo(
      "This warning may be caused by using an IP address or a hostname that differs from that "
      "found in the certificate.");
  if (const char* name = CertStatusName(status)) log.addTag("WinVerifyTrustWarning", name);
  if (status == kCertEUntrustedRoot || status == kCertEUntrustedTestRoot) return false;
  char line[32];
  std::snprintf(line, sizeof line, "Status = 0x%x", status);
  log.addError(line);
  return false;
}

}  // namespace quillon
