// Every way a fetch fails, produced by a real fault where it happens, gives its kind and its
// one line for people, alike on the pooled connection, on a connection of its own (after a
// redirect), through a proxy and over TLS. Then the warnings a fetch brings beside success.
#include "net/fetch_error.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "base/progress.h"
#include "http/cls_http.h"
#include "http/fetch_failure.h"
#include "net/certificate.h"
#include "tests/http/driver_test_util.h"
#include "tests/net/resolver_fake.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/ntlm_site.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_test_pki.h"

namespace quillon {
namespace {

using testing::HttpFixtureServer;
using After = HttpFixtureServer::After;

constexpr uint64_t kPageLimit = 100000;

std::string GzipBomb() { return testing::GzipOf(std::string(1024 * 1024, '\0')); }

// A fetch that a stop request ends at the first chance.
class StopAtOnce : public ProgressEvent {
 public:
  void AbortCheck(bool& abort) override { abort = true; }
  void IntervalTick(int, bool& abort) override { abort = true; }
};

// The four ways to the faulty server.
enum class Path { kPooled, kOwn, kProxy, kTls };
const char* Name(Path path) {
  switch (path) {
    case Path::kPooled: return "pooled";
    case Path::kOwn: return "own connection";
    case Path::kProxy: return "proxy";
    case Path::kTls: return "tls";
  }
  return "";
}

struct Fault {
  const char* name;
  // Sets the faulty server's answer to "/fault" (null: the address itself is the fault).
  std::function<void(HttpFixtureServer&)> serve;
  FetchErrorKind kind;
  const char* reason;
  const char* login = "";
  bool ntlm = false;
  bool stop = false;
};

std::vector<Fault> Faults() {
  auto answer = [](std::string raw, After after = After::kClose) {
    return [raw, after](HttpFixtureServer& s) { s.AddResponse("/fault", raw, after); };
  };
  auto neverAnswer = [](HttpFixtureServer& s) {
    s.AddHandler("/fault", [&s](int, const HttpFixtureServer::Request&) {
      s.SleepUnlessStopping(3000);
      return After::kClose;
    });
  };
  std::string bigHead = "HTTP/1.1 200 OK\r\n";
  while (bigHead.size() < 70 * 1024) bigHead += "X-Filler: " + std::string(100, 'f') + "\r\n";
  return {
      {"head cut off", answer("HTTP/1.1 200 OK\r\nContent-Le"), FetchErrorKind::kHeadCutOff,
       "the server closed the connection before answering"},
      {"70 KB head", answer(bigHead + "\r\n"), FetchErrorKind::kHeadTooLarge,
       "response header too large"},
      {"chunked body cut off",
       answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\nonly a few bytes"),
       FetchErrorKind::kBodyCutOff, "the server closed the connection"},
      {"gzip bomb",
       answer(HttpFixtureServer::Response(200, "OK", GzipBomb(), "Content-Encoding: gzip\r\n")),
       FetchErrorKind::kBodyTooLarge, "larger than the page size limit of 100000 bytes"},
      {"redirect loop",
       answer(HttpFixtureServer::Response(302, "Found", "", "Location: /fault\r\n"),
              After::kKeepAlive),
       FetchErrorKind::kTooManyRedirects, "too many redirects"},
      {"wrong Basic password",
       answer(HttpFixtureServer::Response(401, "Unauthorized", "",
                                          "WWW-Authenticate: Basic realm=\"x\"\r\n")),
       FetchErrorKind::kLoginRefused, "login refused", "crawler"},
      {"wrong NTLM password",
       [](HttpFixtureServer& s) {
         testing::ServeBehindNtlm(s, "/fault", {"crawler", "STAGING", "Secret#1"}, "page");
       },
       FetchErrorKind::kLoginRefused, "login refused", "STAGING\\crawler", true},
      {"NTLM login without domain",
       [](HttpFixtureServer& s) {
         testing::ServeBehindNtlm(s, "/fault", {"crawler", "STAGING", "Secret#1"}, "page");
       },
       FetchErrorKind::kLoginRefused, "login refused: NTLM needs DOMAIN\\NAME", "crawler", true},
      {"server silent", neverAnswer, FetchErrorKind::kHeadTimedOut,
       "timed out waiting for the server"},
      {"stop", neverAnswer, FetchErrorKind::kStopped, "stopped", "", false, true},
  };
}

class FetchErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = testing::FreshDir("fetch-error-pki");
    testing::TestPki pki(dir);
    testing::CertOptions options;
    options.subject = {{"CN", "127.0.0.1"}};
    options.ips = {"127.0.0.1"};
    cert_ = pki.Issue("site", options);
    caFile_ = pki.caFile();
  }

  // The address that reaches "/fault" of server by path; the client is set up for it.
  std::string Reach(Path path, HttpFixtureServer& server, HttpFixtureServer& front,
                    ClsHttp& http) {
    switch (path) {
      case Path::kPooled:
        return server.Url("/fault");
      case Path::kOwn:
        // The front keeps its connection, so the redirect target gets one of its own.
        front.AddResponse("/go",
                          HttpFixtureServer::Response(302, "Found", "",
                                                      "Location: " + server.Url("/fault") + "\r\n"),
                          After::kKeepAlive);
        return front.Url("/go");
      case Path::kProxy:
        http.settings().proxyDomain.assign("127.0.0.1");
        http.settings().proxyPort = server.port();
        return "http://site.test/fault";
      case Path::kTls:
        tls_ = std::make_unique<testing::TlsFront>(server.port(), cert_.certFile, cert_.keyFile);
        return tls_->isRunning() ? tls_->Url("/fault") : "";
    }
    return "";
  }

  testing::IssuedCert cert_;
  std::string caFile_;
  std::unique_ptr<testing::TlsFront> tls_;
};

TEST_F(FetchErrorTest, EachFaultGivesItsKindAndReasonOnEveryPath) {
  testing::ShortTimeouts timeouts(1000, 400);
  for (const Fault& fault : Faults()) {
    for (Path path : {Path::kPooled, Path::kOwn, Path::kProxy, Path::kTls}) {
      SCOPED_TRACE(std::string(fault.name) + " / " + Name(path));
      HttpFixtureServer server;
      HttpFixtureServer front;
      fault.serve(server);
      ClsHttp http;
      HttpControl& settings = http.settings();
      settings.maxContentLength = kPageLimit;
      settings.requireVerifiedCert = false;
      settings.ntlmEnabled = fault.ntlm;
      settings.login.assign(fault.login);
      settings.password.assign("wrong");
      StopAtOnce stop;
      if (fault.stop) settings.abortCheckMs = 50;
      const std::string url = Reach(path, server, front, http);
      if (url.empty()) GTEST_SKIP() << "socat is not installed";
      StringBuffer text;
      EXPECT_FALSE(http.QuickGetStr(url.c_str(), text, fault.stop ? &stop : nullptr));
      StringBuffer log;
      http.lastErrorText(log);
      EXPECT_EQ(http.result().error.kind, fault.kind) << log.getString();
      StringBuffer reason;
      DescribeFetchFailure(http.result(), reason);
      EXPECT_EQ(std::string(reason.view()), fault.reason);
      tls_.reset();
    }
  }
}

// Faults of the address itself: nothing listens, or the name does not resolve.
TEST_F(FetchErrorTest, AddressFaultsAreNamedAlikeOnEveryPath) {
  testing::ShortTimeouts timeouts;
  testing::FakeResolver::Instance().Install();
  const std::string closed = std::to_string(testing::FreeLoopbackPort());
  struct Case {
    const char* name;
    std::string url;
    FetchErrorKind kind;
    std::string reason;
  } cases[] = {
      {"refused", "http://127.0.0.1:" + closed + "/", FetchErrorKind::kConnectRefused,
       "connection refused"},
      {"refused over tls", "https://127.0.0.1:" + closed + "/", FetchErrorKind::kConnectRefused,
       "connection refused"},
      {"unknown name", "http://nowhere.test/", FetchErrorKind::kNameNotResolved,
       "could not resolve host nowhere.test"},
      {"unknown name over tls", "https://nowhere.test/", FetchErrorKind::kNameNotResolved,
       "could not resolve host nowhere.test"},
  };
  for (const Case& c : cases) {
    for (bool redirected : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (redirected ? " after a redirect" : ""));
      HttpFixtureServer front;
      front.AddResponse("/go",
                        HttpFixtureServer::Response(302, "Found", "", "Location: " + c.url + "\r\n"),
                        After::kKeepAlive);
      ClsHttp http;
      StringBuffer text;
      EXPECT_FALSE(http.QuickGetStr(redirected ? front.Url("/go").c_str() : c.url.c_str(), text));
      EXPECT_EQ(http.result().error.kind, c.kind);
      StringBuffer reason;
      DescribeFetchFailure(http.result(), reason);
      EXPECT_EQ(std::string(reason.view()), c.reason);
    }
  }
  // A proxy that does not answer is named as the proxy.
  ClsHttp http;
  http.settings().proxyDomain.assign("127.0.0.1");
  http.settings().proxyPort = std::stoi(closed);
  StringBuffer text;
  EXPECT_FALSE(http.QuickGetStr("http://site.test/", text));
  EXPECT_EQ(http.result().error.kind, FetchErrorKind::kProxyFailed);
  testing::FakeResolver::Instance().Uninstall();
  EXPECT_TRUE(testing::FakeResolver::WaitForLookupsToEnd());
}

TEST(FetchBoundaryTest, ARedirectToAnotherPortOfTheHostIsAnsweredThere) {
  testing::ShortTimeouts timeouts;
  HttpFixtureServer first;
  HttpFixtureServer second;
  first.AddResponse("/go",
                    HttpFixtureServer::Response(302, "Found", "",
                                                "Location: " + second.Url("/there") + "\r\n"),
                    After::kKeepAlive);
  second.AddResponse("/there", HttpFixtureServer::Response(200, "OK", "second"));
  ClsHttp http;
  StringBuffer text;
  ASSERT_TRUE(http.QuickGetStr(first.Url("/go").c_str(), text));
  EXPECT_EQ(std::string(text.view()), "second");
  EXPECT_EQ(first.RequestCount(), 1u);
  EXPECT_EQ(second.RequestCount(), 1u);
}

TEST(FetchBoundaryTest, AChunkedBodyOfExactlyTheLimitIsReadAndOneByteMoreIsRefused) {
  testing::ShortTimeouts timeouts;
  HttpFixtureServer server;
  const std::string body(kPageLimit, 'x');
  for (const auto& [path, size] : {std::pair{"/exact", body.size()}, {"/over", body.size() + 1}}) {
    server.AddResponse(path, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                 HttpFixtureServer::Chunked(std::string(size, 'x'), 4096));
  }
  ClsHttp http;
  http.settings().maxContentLength = kPageLimit;
  StringBuffer text;
  EXPECT_TRUE(http.QuickGetStr(server.Url("/exact").c_str(), text));
  EXPECT_EQ(text.length(), kPageLimit);
  EXPECT_FALSE(http.QuickGetStr(server.Url("/over").c_str(), text));
  EXPECT_EQ(http.result().error.kind, FetchErrorKind::kBodyTooLarge);
}

// A certificate that does not verify fails the fetch when a verified one is required, and
// otherwise comes back as a warning beside the page, naming the problem either way.
TEST_F(FetchErrorTest, CertificateProblemsFailWhenRequiredAndWarnOtherwise) {
  testing::ShortTimeouts timeouts;
  HttpFixtureServer server;
  server.AddResponse("/", HttpFixtureServer::Response(200, "OK", "page"), After::kClose);
  const std::string dir = testing::FreshDir("fetch-error-certs");
  testing::TestPki pki(dir);
  testing::CertOptions self;
  self.subject = {{"CN", "127.0.0.1"}};
  self.ips = {"127.0.0.1"};
  self.selfSigned = true;
  testing::CertOptions expired = self;
  expired.selfSigned = false;
  expired.notBeforeSec = -60L * 86400;
  expired.notAfterSec = -30L * 86400;
  testing::CertOptions wrongHost;
  wrongHost.subject = {{"CN", "other.example"}};
  wrongHost.dnsNames = {"other.example"};
  struct Case {
    const char* name;
    testing::IssuedCert cert;
    CertificateProblem problem;
    const char* reason;
  } cases[] = {
      {"self-signed", pki.Issue("self", self), CertificateProblem::kSelfSigned,
       "certificate not trusted: self-signed"},
      {"expired", pki.Issue("expired", expired), CertificateProblem::kExpired,
       "certificate not trusted: expired or not yet valid"},
      {"wrong host", pki.Issue("wrong", wrongHost), CertificateProblem::kWrongHost,
       "certificate not trusted: it names another host"},
  };
  SetTrustFile(pki.caFile().c_str());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TlsFront front(server.port(), c.cert.certFile, c.cert.keyFile);
    if (!front.isRunning()) GTEST_SKIP() << "socat is not installed";
    for (bool required : {true, false}) {
      ClsHttp http;
      http.settings().requireVerifiedCert = required;
      StringBuffer text;
      EXPECT_EQ(http.QuickGetStr(front.Url("/").c_str(), text), !required);
      const HttpResult& result = http.result();
      StringBuffer line;
      if (required) {
        EXPECT_EQ(result.error.certificate, c.problem);
        DescribeFetchFailure(result, line);
      } else {
        ASSERT_TRUE(result.warnings.has(FetchWarningKind::kCertificateNotVerified));
        DescribeFetchWarning(FetchWarningKind::kCertificateNotVerified, result.warnings, line);
      }
      EXPECT_EQ(std::string(line.view()), c.reason);
    }
  }
  SetTrustFile(nullptr);
}

}  // namespace
}  // namespace quillon
