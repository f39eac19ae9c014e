// Server certificate verification and the Certificate object: the CERT_E_* answers and their
// order, host names and addresses, the trust file, name parts, usages and chain status.
#include "net/certificate.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>
#include <string>

#include "base/logger.h"
#include "base/string_pair.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_test_pki.h"

namespace quillon::testing {
namespace {

struct Certs {
  std::string caFile;
  IssuedCert good;
  IssuedCert wrongHost;
  IssuedCert expired;
  IssuedCert expiredWrongHost;
  IssuedCert selfSignedExpiredWrongHost;
  IssuedCert clientOnly;
  IssuedCert multiValued;
  IssuedCert wildcards;
  IssuedCert chained;
};

const Certs& Made() {
  static Certs* certs = [] {
    auto* c = new Certs;
    TestPki pki(FreshDir("cert-pki"));
    c->caFile = pki.caFile();
    CertOptions good;
    good.subject = {{"C", "GB"}, {"O", "Brindlewood, Ltd"}, {"CN", "www.example.test"}};
    good.dnsNames = {"example.test", "www.example.test"};
    good.ips = {"127.0.0.1"};
    c->good = pki.Issue("good", good);
    CertOptions wrong;
    wrong.subject = {{"CN", "other.test"}};
    wrong.dnsNames = {"other.test"};
    c->wrongHost = pki.Issue("wrong", wrong);
    CertOptions expired = good;
    expired.notBeforeSec = -10L * 86400;
    expired.notAfterSec = -86400;
    c->expired = pki.Issue("expired", expired);
    CertOptions expiredWrong = wrong;
    expiredWrong.notBeforeSec = -10L * 86400;
    expiredWrong.notAfterSec = -86400;
    c->expiredWrongHost = pki.Issue("expired-wrong", expiredWrong);
    CertOptions all = expiredWrong;
    all.selfSigned = true;
    c->selfSignedExpiredWrongHost = pki.Issue("all-wrong", all);
    CertOptions client = good;
    client.serverAuth = false;
    c->clientOnly = pki.Issue("client", client);
    CertOptions multi;
    // Inside a multi-valued part the encoding sorts shorter entries first: the long value keeps
    // the extra attribute after the common name.
    multi.subject = {{"O", "Multi"},
                     {"CN", "multi.test"},
                     {"+1.2.3.4", "extra-attribute-value"},
                     {"OU", "Unit"}};
    c->multiValued = pki.Issue("multi", multi);
    CertOptions wildcards;
    wildcards.subject = {{"CN", "*.wild.test"}};
    wildcards.dnsNames = {"*.wild.test", "f*.part.test", "*o.part2.test"};
    c->wildcards = pki.Issue("wildcards", wildcards);
    c->chained = pki.IssueChained("chained", good);
    return c;
  }();
  return *certs;
}

class Trusted : public ::testing::Test {
 protected:
  void SetUp() override { SetTrustFile(Made().caFile.c_str()); }
  void TearDown() override { SetTrustFile(nullptr); }
};

X509Ptr Load(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  X509Ptr cert(PEM_read_X509(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  return cert;
}

uint32_t StatusOf(const IssuedCert& issued, const char* host, uint32_t checks = 0) {
  X509Ptr cert = Load(issued.certFile);
  bool built = false;
  uint32_t status = CertificatePolicyStatus(cert.get(), nullptr, host, checks, built);
  EXPECT_TRUE(built);
  return status;
}

TEST_F(Trusted, PolicyStatusesForEachProblem) {
  struct Case {
    const IssuedCert* cert;
    const char* host;
    uint32_t status;
  } cases[] = {
      {&Made().good, "www.example.test", 0},
      {&Made().good, "example.test", 0},
      {&Made().good, "WWW.Example.Test", 0},
      {&Made().good, "127.0.0.1", 0},
      {&Made().good, "127.0.0.2", kCertECnNoMatch},
      {&Made().good, "mail.example.test", kCertECnNoMatch},
      {&Made().wrongHost, "www.example.test", kCertECnNoMatch},
      {&Made().wildcards, "a.wild.test", 0},
      {&Made().wildcards, "a.b.wild.test", kCertECnNoMatch},
      // A wildcard that is only part of a label matches nothing.
      {&Made().wildcards, "foo.part.test", kCertECnNoMatch},
      {&Made().wildcards, "foo.part2.test", kCertECnNoMatch},
      {&Made().expired, "www.example.test", kCertEExpired},
      {&Made().clientOnly, "www.example.test", kCertEWrongUsage},
      // Several problems: the root first, then the dates, then the host name.
      {&Made().expiredWrongHost, "www.example.test", kCertEExpired},
      {&Made().selfSignedExpiredWrongHost, "www.example.test", kCertEUntrustedRoot},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusOf(*c.cert, c.host), c.status) << c.cert->certFile << " for " << c.host;
  }
}

TEST_F(Trusted, IntermediatesSentWithTheCertificateCompleteItsChain) {
  X509Ptr leaf = Load(Made().chained.certFile);
  X509Ptr middle = Load(Made().chained.intermediateFile);
  STACK_OF(X509)* sent = sk_X509_new_null();
  sk_X509_push(sent, middle.get());
  bool built = false;
  EXPECT_EQ(CertificatePolicyStatus(leaf.get(), nullptr, "www.example.test", 0, built),
            kCertEUntrustedRoot);
  EXPECT_EQ(CertificatePolicyStatus(leaf.get(), sent, "www.example.test", 0, built), 0u);
  auto alone = Certificate::FromX509(leaf.get());
  auto withChain = Certificate::FromX509(leaf.get(), sent);
  ASSERT_TRUE(alone && withChain);
  EXPECT_FALSE(alone->trustedRoot());
  EXPECT_TRUE(withChain->trustedRoot());
  sk_X509_free(sent);
}

TEST_F(Trusted, CheckFlagsLetTheirProblemsPass) {
  EXPECT_EQ(StatusOf(Made().wrongHost, "x.test", kIgnoreCertCnInvalid), 0u);
  EXPECT_EQ(StatusOf(Made().expiredWrongHost, "x.test", kIgnoreCertDateInvalid), kCertECnNoMatch);
  EXPECT_EQ(StatusOf(Made().selfSignedExpiredWrongHost, "x.test", kIgnoreUnknownCa),
            kCertEExpired);
}

TEST(CertificateTrustTest, WithoutTheTestCaTrustedTheRootIsUntrusted) {
  SetTrustFile(nullptr);
  EXPECT_EQ(StatusOf(Made().good, "www.example.test"), kCertEUntrustedRoot);
}

TEST_F(Trusted, VerifiedCertificateLogsNothing) {
  X509Ptr cert = Load(Made().good.certFile);
  Logger log;
  uint32_t status = 1;
  EXPECT_TRUE(VerifyServerCertificate(cert.get(), nullptr, "www.example.test", 0, false, log,
                                      &status));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(LogText(log).find("serverName"), std::string::npos);
}

TEST_F(Trusted, HostMismatchLogsServerNameHintNameAndStatusLine) {
  X509Ptr cert = Load(Made().wrongHost.certFile);
  Logger log;
  EXPECT_FALSE(VerifyServerCertificate(cert.get(), nullptr, "www.example.test", 0, true, log));
  std::string text = LogText(log);
  EXPECT_NE(text.find("Verifying server certificate..."), std::string::npos);
  size_t server = text.find("serverName: www.example.test");
  size_t hint = text.find("This warning may be caused by using an IP address");
  size_t name = text.find("WinVerifyTrustWarning: CERT_E_CN_NO_MATCH");
  size_t status = text.find("Status = 0x800b010f");
  ASSERT_NE(status, std::string::npos) << text;
  EXPECT_LT(server, hint);
  EXPECT_LT(hint, name);
  EXPECT_LT(name, status);
}

TEST_F(Trusted, UntrustedRootHasNoNameAndNoStatusLine) {
  X509Ptr cert = Load(Made().selfSignedExpiredWrongHost.certFile);
  Logger log;
  uint32_t status = 0;
  EXPECT_FALSE(VerifyServerCertificate(cert.get(), nullptr, "other.test", 0, false, log, &status));
  EXPECT_EQ(status, kCertEUntrustedRoot);
  std::string text = LogText(log);
  EXPECT_NE(text.find("serverName: other.test"), std::string::npos);
  EXPECT_EQ(text.find("WinVerifyTrustWarning"), std::string::npos);
  EXPECT_EQ(text.find("Status ="), std::string::npos);
}

TEST(CertificateVerifyTest, MissingCertificateOrHostIsNotVerified) {
  Logger log;
  EXPECT_FALSE(VerifyServerCertificate(nullptr, nullptr, "h", 0, false, log));
  EXPECT_NE(LogText(log).find("Certificate parameter is null in VerifyServerCertificate"),
            std::string::npos);
  X509Ptr cert = Load(Made().good.certFile);
  Logger log2;
  EXPECT_FALSE(VerifyServerCertificate(cert.get(), nullptr, "", 0, false, log2));
  EXPECT_NE(LogText(log2).find("Hostname is empty in VerifyServerCertificate"),
            std::string::npos);
}

TEST(CertificateVerifyTest, StatusNames) {
  EXPECT_STREQ(CertStatusName(kCertEExpired), "CERT_E_EXPIRED");
  EXPECT_STREQ(CertStatusName(kCertECnNoMatch), "CERT_E_CN_NO_MATCH");
  EXPECT_STREQ(CertStatusName(kCertEWrongUsage), "CERT_E_WRONG_USAGE");
  EXPECT_STREQ(CertStatusName(kTrustEFail), "TRUST_E_FAIL");
  EXPECT_EQ(CertStatusName(kCertEUntrustedRoot), nullptr);
  EXPECT_EQ(CertStatusName(kCertEUntrustedTestRoot), nullptr);
  EXPECT_STREQ(CertStatusName(0x800B0199), "(unknown)");
}

// ---- The Certificate object

TEST_F(Trusted, CertificateReadsNamesPartsUsagesAndStatus) {
  auto cert = Certificate::FromPemFile(Made().good.certFile.c_str());
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(std::string(cert->subjectDn().view()),
            "C=GB, O=\"Brindlewood, Ltd\", CN=www.example.test");
  EXPECT_EQ(std::string(cert->issuerDn().view()), "O=Tollwick Tests, CN=Tollwick Test CA");
  StringBuffer value;
  ASSERT_TRUE(cert->subjectPart("O", value));
  EXPECT_EQ(std::string(value.view()), "\"Brindlewood, Ltd\"");
  value.clear();
  ASSERT_TRUE(cert->issuerPart("CN", value));
  EXPECT_EQ(std::string(value.view()), "Tollwick Test CA");
  EXPECT_EQ(std::string(cert->subjectAltDnsName().view()), "www.example.test");
  EXPECT_EQ(cert->keyUsage(), Certificate::kDigitalSignature | Certificate::kKeyEncipherment);
  EXPECT_TRUE(cert->hasExtendedKeyUsage());
  EXPECT_EQ(cert->extendedKeyUsage(), Certificate::kServerAuth);
  EXPECT_TRUE(cert->trustedRoot());
  EXPECT_TRUE(cert->signatureValid());
  EXPECT_FALSE(cert->expired());
  EXPECT_FALSE(cert->revoked());
}

TEST_F(Trusted, ChainStatusFlagsOfExpiredAndSelfSigned) {
  auto expired = Certificate::FromPemFile(Made().expired.certFile.c_str());
  ASSERT_NE(expired, nullptr);
  EXPECT_TRUE(expired->expired());
  EXPECT_TRUE(expired->trustedRoot());
  auto self = Certificate::FromPemFile(Made().selfSignedExpiredWrongHost.certFile.c_str());
  ASSERT_NE(self, nullptr);
  EXPECT_FALSE(self->trustedRoot());
  EXPECT_TRUE(self->expired());
}

TEST_F(Trusted, MultiValuedPartGivesOnePairNamedByItsFirstAttribute) {
  auto cert = Certificate::FromPemFile(Made().multiValued.certFile.c_str());
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(std::string(cert->subjectDn().view()),
            "O=Multi, CN=multi.test + OID.1.2.3.4=extra-attribute-value, OU=Unit");
  const OwningPtrArray& parts = cert->subjectParts();
  ASSERT_EQ(parts.count(), 3);
  EXPECT_STREQ(parts.at<StringPair>(1)->firstText(), "CN");
  EXPECT_STREQ(parts.at<StringPair>(1)->secondText(), "multi.test");
  EXPECT_STREQ(parts.at<StringPair>(2)->firstText(), "OU");
}

TEST(CertificateDnTest, SplitRules) {
  struct Case {
    const char* dn;
    std::vector<std::pair<std::string, std::string>> parts;
  } cases[] = {
      {"CN=a, O=b", {{"CN", "a"}, {"O", "b"}}},
      {" cn = spaced , o=x", {{"CN", "spaced"}, {"O", "x"}}},
      {"O=\"Comma, Inc\", CN=c", {{"O", "\"Comma, Inc\""}, {"CN", "c"}}},
      {"O=Back\\, slash, CN=d", {{"O", "Back\\, slash"}, {"CN", "d"}}},
      {"CN=e + OID.1.2.3=f, OU=g", {{"CN", "e"}, {"OU", "g"}}},
      {"novalue, CN=h", {{"CN", "h"}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    OwningPtrArray parts;
    ASSERT_TRUE(Certificate::SplitDn(c.dn, parts));
    ASSERT_EQ(parts.count(), static_cast<int>(c.parts.size())) << c.dn;
    for (int i = 0; i < parts.count(); ++i) {
      EXPECT_EQ(parts.at<StringPair>(i)->firstText(), c.parts[i].first) << c.dn;
      EXPECT_EQ(parts.at<StringPair>(i)->secondText(), c.parts[i].second) << c.dn;
    }
  }
}

TEST(CertificateDnTest, FileWithoutCertificateGivesNoneAndSaysWhy) {
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {"/nonexistent/cert.pem", "No such file or directory"},
      {Made().good.keyFile, "No PEM certificate in the file"},
  };
  for (const auto& c : cases) {
    Logger log;
    EXPECT_EQ(Certificate::FromPemFile(c.path.c_str(), log), nullptr) << c.path;
    StringBuffer text;
    log.renderText(text);
    EXPECT_NE(std::string(text.view()).find(c.reason), std::string::npos) << text.getString();
  }
  EXPECT_EQ(Certificate::FromX509(nullptr), nullptr);
}

}  // namespace
}  // namespace quillon::testing
