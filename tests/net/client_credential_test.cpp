// Loading client certificates: PEM with the key inside or beside it, PKCS#12 with its password,
// and the files that must be refused.
#include "net/client_credential.h"

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>

#include <cstdio>
#include <string>

#include "base/logger.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_test_pki.h"

namespace quillon::testing {
namespace {

struct Files {
  IssuedCert client;
  IssuedCert other;
  std::string combined;  // certificate and key in one PEM file
  std::string pkcs12;    // password "p12-pass"
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
    f->combined = dir + "combined.pem";
    WriteFileBytes(f->combined,
                   ReadFileBytes(f->client.certFile) + ReadFileBytes(f->client.keyFile));
    FILE* certFile = std::fopen(f->client.certFile.c_str(), "rb");
    FILE* keyFile = std::fopen(f->client.keyFile.c_str(), "rb");
    X509* cert = PEM_read_X509(certFile, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr);
    std::fclose(certFile);
    std::fclose(keyFile);
    PKCS12* p12 = PKCS12_create("p12-pass", "crawler", key, cert, nullptr, 0, 0, 0, 0, 0);
    f->pkcs12 = dir + "client.p12";
    FILE* out = std::fopen(f->pkcs12.c_str(), "wb");
    i2d_PKCS12_fp(out, p12);
    std::fclose(out);
    PKCS12_free(p12);
    EVP_PKEY_free(key);
    X509_free(cert);
    return f;
  }();
  return *files;
}

TEST(ClientCredentialTest, LoadsWhatHoldsACertificateWithItsKey) {
  const struct {
    const char* name;
    std::string cert;
    std::string key;
    const char* password;
    const char* error;  // null: loads
  } cases[] = {
      {"PEM and key file", Made().client.certFile, Made().client.keyFile, nullptr, nullptr},
      {"PEM holding both", Made().combined, "", nullptr, nullptr},
      {"PKCS#12", Made().pkcs12, "", "p12-pass", nullptr},
      {"PKCS#12, wrong password", Made().pkcs12, "", "nope", "Failed to load the client"},
      {"no key", Made().client.certFile, "", nullptr, "No private key for the client"},
      {"another's key", Made().client.certFile, Made().other.keyFile, nullptr,
       "The private key does not belong"},
      {"missing file", "/no/such.pem", "", nullptr, "No such file or directory"},
      {"missing key file", Made().client.certFile, "/no/key.pem", nullptr,
       "No such file or directory"},
      {"key as certificate", Made().client.keyFile, "", nullptr, "Failed to load the client"},
  };
  for (const auto& c : cases) {
    Logger log;
    auto credential = ClientCredential::Load(c.cert.c_str(), c.key.c_str(), c.password, log);
    const std::string text = LogText(log);
    if (c.error == nullptr) {
      ASSERT_NE(credential, nullptr) << c.name << "\n" << text;
      EXPECT_STREQ(credential->certificate().subjectDn().getString(), "CN=crawler") << c.name;
    } else {
      EXPECT_EQ(credential, nullptr) << c.name;
      EXPECT_NE(text.find(c.error), std::string::npos) << c.name;
    }
  }
}

}  // namespace
}  // namespace quillon::testing
