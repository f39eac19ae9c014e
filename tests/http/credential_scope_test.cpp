// Who receives the caller's login: the rule itself, then over the wire with a second host on
// 127.0.0.2 that asks for credentials after a redirect, and an https page redirecting to http.
#include "http/credential_scope.h"

#include <gtest/gtest.h>

#include <string>

#include "http/fetch_failure.h"
#include "tests/http/driver_test_util.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/tls_test_pki.h"

namespace quillon {
namespace {

using testing::HttpFixtureServer;

TEST(CredentialScopeTest, HostsOnTheSiteAndAddressesThatAreTheirOwnSite) {
  struct Case {
    const char* host;
    const char* domain;
    bool onSite;
  } cases[] = {
      {"example.com", "example.com", true},   {"WWW.Example.com", "example.com", true},
      {"facebook.com", "book.com", false},    {"example.com", "www.example.com", false},
      {"127.0.0.1", "127.0.0.1", true},       {"127.5.0.1", "0.1", false},
      {"10.1.0.1", "0.1", false},             {"[::1]", "[::1]", true},
      {"any.host", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsHostOnSite(c.host, c.domain), c.onSite) << c.host << " under " << c.domain;
  }
}

TEST(CredentialScopeTest, TheCallersLoginGoesToTheSiteAndNeverBackToPlainTextAfterHttps) {
  struct Case {
    const char* domain;
    const char* origin;
    bool originTls;
    const char* host;
    bool tls;
    bool gets;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", false, "127.0.0.1", false, true},
      {"127.0.0.1", "127.0.0.1", false, "127.0.0.2", false, false},
      {"example.com", "example.com", false, "docs.example.com", false, true},
      {"example.com", "example.com", false, "example.org", false, false},
      {"example.com", "example.com", true, "example.com", false, false},
      {"", "site.test", false, "site.test", false, true},
      {"", "site.test", false, "other.test", false, false},
      {"", "site.test", true, "site.test", false, false},
      {"", "", false, "site.test", false, false},
  };
  for (const Case& c : cases) {
    HttpControl settings;
    settings.login.assign("bob");
    settings.password.assign("S3cret");
    settings.credentialScope.domain.assign(c.domain);
    FetchOrigin origin;
    origin.host.assign(c.origin);
    origin.tls = c.originTls;
    const RequestCredentials got = CredentialsForRequest(settings, {}, origin, c.host, c.tls);
    EXPECT_EQ(std::string(got.login), c.gets ? "bob" : "") << c.host << " from " << c.origin;
    EXPECT_EQ(got.clientCertificate, c.gets) << c.host << " from " << c.origin;
  }

  // Once the site was reached over https, a later plain request to it goes without.
  HttpControl settings;
  settings.login.assign("bob");
  settings.password.assign("S3cret");
  settings.credentialScope.domain.assign("example.com");
  FetchOrigin origin;
  origin.host.assign("example.com");
  EXPECT_STREQ(CredentialsForRequest(settings, {}, origin, "example.com", true).login, "bob");
  EXPECT_STREQ(CredentialsForRequest(settings, {}, origin, "example.com", false).login, "");
}

TEST(CredentialScopeTest, AnAddressLoginServesItsOwnHostOnly) {
  HttpControl settings;
  ParsedUrl parsed;
  ASSERT_TRUE(ParseUrl("http://ann:pw@Site.Test/", parsed));
  ASSERT_TRUE(settings.addressCredentials.take(parsed.host, parsed.user, parsed.password));
  settings.credentialScope.domain.assign("site.test");
  FetchOrigin origin;
  origin.host.assign("site.test");
  EXPECT_STREQ(CredentialsForRequest(settings, {}, origin, "site.test", false).password, "pw");
  EXPECT_STREQ(CredentialsForRequest(settings, {}, origin, "docs.site.test", false).login, "");
}

std::string Unauthorized(const std::string& scheme) {
  return HttpFixtureServer::Response(401, "Unauthorized", "no",
                                     "WWW-Authenticate: " + scheme + "\r\n");
}

bool AnyAuthorization(const HttpFixtureServer& server) {
  for (const auto& request : server.Requests()) {
    if (request.head.find("Authorization:") != std::string::npos) return true;
  }
  return false;
}

// The site on 127.0.0.1 sends /away to the other host on 127.0.0.2, which asks for a login the
// way each row says. The other host never gets any; the site's own page does.
TEST(CredentialScopeWireTest, ARedirectOffTheSiteTakesNoCredentialsAlong) {
  testing::ShortTimeouts timeouts;
  struct Case {
    const char* name;
    const char* login;
    bool ntlm;
    const char* domain;  // the crawl's site
    const char* challenge;
  } cases[] = {
      {"basic for a crawl", "bob", false, "127.0.0.1", "Basic realm=\"x\""},
      {"ntlm for a crawl", "DOM\\bob", true, "127.0.0.1", "NTLM"},
  };
  for (const Case& c : cases) {
    HttpFixtureServer site;
    HttpFixtureServer other("127.0.0.2");
    site.AddResponse("/away", HttpFixtureServer::Response(302, "Found", "",
                                                          "Location: " + other.Url("/") + "\r\n"));
    site.AddResponse("/private", HttpFixtureServer::Response(200, "OK", "member page"));
    other.AddResponse("*", Unauthorized(c.challenge));

    testing::Fetcher fetcher;
    fetcher.settings.login.assign(c.login);
    fetcher.settings.password.assign("S3cret");
    fetcher.settings.ntlmEnabled = c.ntlm;
    fetcher.settings.credentialScope.domain.assign(c.domain);
    fetcher.fetch(site.Url("/away"));
    EXPECT_EQ(fetcher.status(), 401) << c.name;
    EXPECT_GE(other.RequestCount(), 1u) << c.name;
    EXPECT_FALSE(AnyAuthorization(other)) << c.name;
    // No login went there, so none was refused: the page failed with the server's answer.
    NoteAnswerFailure(fetcher.result);
    StringBuffer reason;
    DescribeFetchFailure(fetcher.result, reason);
    EXPECT_STREQ(reason.getString(), "HTTP 401 Unauthorized") << c.name;

    if (c.ntlm) continue;  // the site's own NTLM login is the NTLM tests' business
    EXPECT_TRUE(fetcher.fetch(site.Url("/private"))) << c.name;
    EXPECT_EQ(fetcher.bodyText(), "member page") << c.name;
    EXPECT_TRUE(AnyAuthorization(site)) << c.name;
  }
}

TEST(CredentialScopeWireTest, AnHttpsPageRedirectingToHttpOnTheSiteGetsNoBasicLogin) {
  testing::ShortTimeouts timeouts;
  HttpFixtureServer plain;
  plain.AddResponse("*", Unauthorized("Basic realm=\"x\""));
  const std::string pkiDir = testing::FreshDir("scope-pki");
  testing::TestPki pki(pkiDir);
  testing::CertOptions options;
  options.subject = {{"CN", "127.0.0.1"}};
  options.ips = {"127.0.0.1"};
  options.selfSigned = true;
  const testing::IssuedCert cert = pki.Issue("site", options);
  testing::NginxOptions tls;
  tls.sslCertificate = cert.certFile;
  tls.sslCertificateKey = cert.keyFile;
  tls.extraServerConfig = "location = /down { return 302 " + plain.Url("/ask") + "; }\n";
  testing::NginxServer nginx(testing::FreshDir("scope-site"), tls);
  if (!nginx.isRunning()) GTEST_SKIP() << nginx.error();

  testing::Fetcher fetcher;
  fetcher.settings.login.assign("bob");
  fetcher.settings.password.assign("S3cret");
  fetcher.settings.credentialScope.domain.assign("127.0.0.1");
  fetcher.fetch(nginx.baseUrl() + "/down");
  EXPECT_EQ(fetcher.status(), 401);
  ASSERT_GE(plain.RequestCount(), 1u);
  EXPECT_FALSE(AnyAuthorization(plain));
}

}  // namespace
}  // namespace quillon
