// Loading client certificates: PEM with the key inside or beside it (plain or encrypted),
// PKCS#12 in today's and the older form, and the files that must be refused, each for its own
// reason.
#include "net/client_credential.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/logger.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_test_pki.h"

namespace quillon::testing {
namespace {

struct Files {
  IssuedCert client;
  IssuedCert other;
  std::string combined;           // certificate and key in one PEM file
  std::string combinedEncrypted;  // certificate and encrypted key in one PEM file
  std::string modernP12;          // all PKCS#12 files: password "p12-pass"
  std::string legacyP12;
  std::string certOnlyP12;
  std::string cutP12;
  std::string damagedPem;
  std::string pkcs8Key;  // encrypted keys: password "key-pass"
  std::string traditionalKey;
};

const Files& Made() {
  static Files* files = [] {
    auto* f = new Files;
    const std::string dir = FreshDir("client-credential");
    TestPki pki(dir);
    CertOptions options;
    options.subject = {{"CN", "crawler"}};
    options.serverAuth = false;
    f->client = pki.Issue("client", options);
    f->other = pki.Issue("other", options);
    const std::string cert = ReadFileBytes(f->client.certFile);
    f->combined = dir + "combined.pem";
    WriteFileBytes(f->combined, cert + ReadFileBytes(f->client.keyFile));
    f->modernP12 = dir + "modern.p12";
    f->legacyP12 = dir + "legacy.p12";
    f->certOnlyP12 = dir + "cert-only.p12";
    EXPECT_TRUE(WritePkcs12(f->client, f->modernP12, "p12-pass", Pkcs12Form::kModern));
    EXPECT_TRUE(WritePkcs12(f->client, f->legacyP12, "p12-pass", Pkcs12Form::kLegacy));
    EXPECT_TRUE(WritePkcs12(f->client, f->certOnlyP12, "p12-pass", Pkcs12Form::kCertificateOnly));
    const std::string p12 = ReadFileBytes(f->modernP12);
    f->cutP12 = dir + "cut.p12";
    WriteFileBytes(f->cutP12, p12.substr(0, p12.size() / 2));
    f->damagedPem = dir + "damaged.pem";
    WriteFileBytes(f->damagedPem, std::string(cert).replace(cert.find('\n') + 10, 4, "!!!!"));
    f->pkcs8Key = dir + "pkcs8.key";
    f->traditionalKey = dir + "traditional.key";
    EXPECT_TRUE(WriteEncryptedKey(f->client, f->pkcs8Key, "key-pass", EncryptedKeyForm::kPkcs8));
    EXPECT_TRUE(WriteEncryptedKey(f->client, f->traditionalKey, "key-pass",
                                  EncryptedKeyForm::kTraditional));
    f->combinedEncrypted = dir + "combined-encrypted.pem";
    WriteFileBytes(f->combinedEncrypted, cert + ReadFileBytes(f->pkcs8Key));
    return f;
  }();
  return *files;
}

TEST(ClientCredentialTest, LoadsWhatHoldsACertificateWithItsKeyAndNamesWhyOthersFail) {
  using P = CredentialProblem;
  constexpr CredentialFile kCert = CredentialFile::kCertificate;
  constexpr CredentialFile kKey = CredentialFile::kKey;
  const Files& f = Made();
  const struct {
    const char* name;
    std::string cert;
    std::string key;
    const char* password;
    CredentialProblem problem;
    CredentialFile file;
    const char* logged;  // a line the log must hold, or null
  } cases[] = {
      {"PEM and key file", f.client.certFile, f.client.keyFile, nullptr, P::kNone, kCert, nullptr},
      {"PEM holding both", f.combined, "", nullptr, P::kNone, kCert, nullptr},
      {"PKCS#12", f.modernP12, "", "p12-pass", P::kNone, kCert, nullptr},
      {"legacy PKCS#12", f.legacyP12, "", "p12-pass", P::kNone, kCert, nullptr},
      {"PKCS#12, wrong password", f.modernP12, "", "nope", P::kWrongPassword, kCert,
       "Failed to load the client certificate"},
      {"legacy PKCS#12, wrong password", f.legacyP12, "", "nope", P::kWrongPassword, kCert,
       nullptr},
      {"PKCS#12 without a password", f.modernP12, "", nullptr, P::kPasswordNeeded, kCert,
       nullptr},
      {"PKCS#12 without a key", f.certOnlyP12, "", "p12-pass", P::kNoPrivateKey, kCert,
       "No private key for the client certificate"},
      {"PKCS#12 without a key, key file", f.certOnlyP12, f.client.keyFile, "p12-pass", P::kNone,
       kCert, nullptr},
      {"cut PKCS#12", f.cutP12, "", "p12-pass", P::kDamaged, kCert, nullptr},
      {"damaged PEM", f.damagedPem, f.client.keyFile, nullptr, P::kDamaged, kCert, nullptr},
      {"PKCS#8 encrypted key", f.client.certFile, f.pkcs8Key, "key-pass", P::kNone, kCert,
       nullptr},
      {"traditional encrypted key", f.client.certFile, f.traditionalKey, "key-pass", P::kNone,
       kCert, nullptr},
      {"encrypted key, wrong password", f.client.certFile, f.pkcs8Key, "nope", P::kWrongPassword,
       kKey, nullptr},
      {"encrypted key, no password", f.client.certFile, f.traditionalKey, nullptr,
       P::kPasswordNeeded, kKey, nullptr},
      {"encrypted key inside, empty password", f.combinedEncrypted, "", "", P::kPasswordNeeded,
       kCert, nullptr},
      {"encrypted key inside", f.combinedEncrypted, "", "key-pass", P::kNone, kCert, nullptr},
      {"no key", f.client.certFile, "", nullptr, P::kNoPrivateKey, kCert, nullptr},
      {"another's key", f.client.certFile, f.other.keyFile, nullptr, P::kKeyMismatch, kKey,
       "The private key does not belong"},
      {"missing file", "/no/such.pem", "", nullptr, P::kUnreadable, kCert,
       "No such file or directory"},
      {"missing key file", f.client.certFile, "/no/key.pem", nullptr, P::kUnreadable, kKey,
       "No such file or directory"},
      {"key as certificate", f.client.keyFile, "", nullptr, P::kNoCertificate, kCert, nullptr},
  };
  for (const auto& c : cases) {
    Logger log;
    CredentialFailure failure;
    auto credential =
        ClientCredential::Load(c.cert.c_str(), c.key.c_str(), c.password, log, failure);
    const std::string text = LogText(log);
    EXPECT_EQ(failure.problem, c.problem) << c.name << "\n" << text;
    EXPECT_EQ(credential == nullptr, c.problem != P::kNone) << c.name;
    if (c.logged != nullptr) {
      EXPECT_NE(text.find(c.logged), std::string::npos) << c.name;
    }
    if (credential) {
      EXPECT_STREQ(credential->certificate().subjectDn().getString(), "CN=crawler") << c.name;
      EXPECT_FALSE(credential->outsideValidity()) << c.name;
    } else {
      EXPECT_EQ(failure.file, c.file) << c.name;
    }
  }
}

TEST(ClientCredentialTest, EachProblemHasItsOwnText) {
  const CredentialProblem problems[] = {
      CredentialProblem::kUnreadable,     CredentialProblem::kDamaged,
      CredentialProblem::kNoCertificate,  CredentialProblem::kPasswordNeeded,
      CredentialProblem::kWrongPassword,  CredentialProblem::kLegacyUnavailable,
      CredentialProblem::kNoPrivateKey,   CredentialProblem::kKeyMismatch,
      CredentialProblem::kOutOfMemory};
  std::set<std::string> texts;
  for (CredentialProblem problem : problems) {
    const std::string text = DescribeCredentialProblem(problem);
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(texts.insert(text).second) << text;
  }
}

}  // namespace
}  // namespace quillon::testing
