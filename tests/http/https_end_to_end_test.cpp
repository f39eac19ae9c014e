// HTTPS end to end: a real nginx speaking TLS with certificates made by the test (a test CA the
// test trusts through the trust file, a self-signed one, a wrong host name, an expired one), a
// scripted TLS server for the body and head rules over TLS, and the tollwick program crawling an
// https site (trusting the test CA through SSL_CERT_FILE).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/logger.h"
#include "http/client_certificate_answer.h"
#include "http/cls_http.h"
#include "http/http_client.h"
#include "net/certificate.h"
#include "net/client_credential.h"
#include "net/fetch_error.h"
#include "net/schannel.h"
#include "tests/http/driver_test_util.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"
#include "tests/support/ntlm_site.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_loopback_server.h"
#include "tests/support/tls_test_pki.h"

namespace quillon::testing {
namespace {

// The certificates and the site, made once for the program.
struct HttpsWorld {
  std::string site;
  std::string index;
  std::string large;
  std::string text;
  IssuedCert good;
  IssuedCert selfSigned;
  IssuedCert wrongHost;
  IssuedCert expired;
  IssuedCert client;
  IssuedCert expiredClient;
  std::string legacyP12;     // the client's certificate and key, password "p12-pass"
  std::string encryptedKey;  // the client's key, password "key-pass"
  std::string caFile;
};

const HttpsWorld& World() {
  static HttpsWorld* world = [] {
    auto* w = new HttpsWorld;
    std::string pkiDir = FreshDir("https-pki");
    TestPki pki(pkiDir);
    w->caFile = pki.caFile();
    CertOptions good;
    good.subject = {{"O", "Tollwick Tests"}, {"CN", "127.0.0.1"}};
    good.ips = {"127.0.0.1"};
    good.dnsNames = {"localhost"};
    w->good = pki.Issue("good", good);
    CertOptions self = good;
    self.selfSigned = true;
    w->selfSigned = pki.Issue("self", self);
    CertOptions wrong;
    wrong.subject = {{"CN", "other.example"}};
    wrong.dnsNames = {"other.example"};
    w->wrongHost = pki.Issue("wronghost", wrong);
    CertOptions expired = good;
    expired.notBeforeSec = -60L * 86400;
    expired.notAfterSec = -30L * 86400;
    w->expired = pki.Issue("expired", expired);
    CertOptions client;
    client.subject = {{"O", "Tollwick Tests"}, {"CN", "crawler"}};
    client.serverAuth = false;
    w->client = pki.Issue("client", client);
    client.notBeforeSec = -60L * 86400;
    client.notAfterSec = -30L * 86400;
    w->expiredClient = pki.Issue("expired-client", client);
    w->legacyP12 = pkiDir + "client.p12";
    WritePkcs12(w->client, w->legacyP12, "p12-pass", Pkcs12Form::kLegacy);
    w->encryptedKey = pkiDir + "client-encrypted.key";
    WriteEncryptedKey(w->client, w->encryptedKey, "key-pass", EncryptedKeyForm::kPkcs8);

    w->site = FreshDir("https-site");
    w->index =
        "<html><head><title>Secure</title></head><body><a href=\"/a.html\">a</a></body></html>";
    WriteFileBytes(w->site + "index.html", w->index);
    WriteFileBytes(w->site + "a.html", "<html><head><title>A</title></head><body>A</body></html>");
    for (int i = 0; w->large.size() < 1024 * 1024; ++i) {
      w->large += static_cast<char>((i * 131 + i / 7) & 0xFF);
    }
    WriteFileBytes(w->site + "large.bin", w->large);
    for (int i = 0; i < 20000; ++i) w->text += "line " + std::to_string(i) + " of the text\n";
    WriteFileBytes(w->site + "text.txt", w->text);
    return w;
  }();
  return *world;
}

class TrustScope {
 public:
  explicit TrustScope(const std::string& file) { SetTrustFile(file.c_str()); }
  ~TrustScope() { SetTrustFile(nullptr); }
};

NginxOptions TlsOptions(const IssuedCert& cert) {
  NginxOptions options;
  options.sslCertificate = cert.certFile;
  options.sslCertificateKey = cert.keyFile;
  return options;
}

// nginx asking every client for a certificate issued by the test CA.
NginxOptions ClientCertOptions() {
  NginxOptions options = TlsOptions(World().good);
  options.extraServerConfig =
      "ssl_client_certificate " + World().caFile + ";\nssl_verify_client on;\n";
  return options;
}

// The server blocks of the program's one nginx, in the order SharedNginx() lists them.
enum SiteBlock : size_t {
  kGoodSite,
  kSelfSignedSite,
  kWrongHostSite,
  kExpiredSite,
  kAsksForCertSite
};

// One nginx for the whole program: a server block per certificate over the site, and one that
// asks clients for a certificate. Started on first use, stopped when the program ends.
NginxServer& SharedNginx() {
  static const std::unique_ptr<NginxServer> server = [] {
    NginxOptions options = TlsOptions(World().good);
    for (const IssuedCert* cert : {&World().selfSigned, &World().wrongHost, &World().expired}) {
      options.moreServers.push_back(TlsOptions(*cert));
    }
    options.moreServers.push_back(ClientCertOptions());
    return std::make_unique<NginxServer>(World().site, options);
  }();
  return *server;
}

// One server block of the shared nginx.
class HttpsSite {
 public:
  explicit HttpsSite(SiteBlock block) : block_(block) {}
  int port() const { return SharedNginx().port(block_); }
  std::string baseUrl() const { return SharedNginx().baseUrl(block_); }

 private:
  SiteBlock block_;
};

#define USE_SITE(name, block)                                                     \
  if (!SharedNginx().isRunning()) GTEST_SKIP() << SharedNginx().error();          \
  const HttpsSite name(block);

// ---- Verification against nginx

TEST(HttpsNginxTest, CertificateFromTrustedCaIsVerifiedAndPageArrives) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/index.html")) << f.logText();
  EXPECT_EQ(f.status(), 200);
  EXPECT_EQ(f.bodyText(), World().index);
  std::string log = f.logText();
  EXPECT_NE(log.find("SSL Server Certificate verified"), std::string::npos) << log;
  EXPECT_EQ(log.find("(warning)"), std::string::npos) << log;
  EXPECT_NE(log.find("Secure Channel Established."), std::string::npos);
  EXPECT_NE(log.find("protocol: TLSv1.3"), std::string::npos) << log;
}

TEST(HttpsNginxTest, SelfSignedCertificateIsUntrustedRootWithoutStatusLineAndConnects) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kSelfSignedSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/index.html")) << f.logText();
  EXPECT_EQ(f.bodyText(), World().index);
  std::string log = f.logText();
  EXPECT_NE(log.find("(warning) SSL Server Certificate not verified"), std::string::npos) << log;
  EXPECT_NE(log.find("serverName: 127.0.0.1"), std::string::npos);
  EXPECT_EQ(log.find("WinVerifyTrustWarning"), std::string::npos);
  EXPECT_EQ(log.find("Status = "), std::string::npos);

  SChannel channel;
  channel.SetHost("127.0.0.1");
  channel.SetPort(nginx.port());
  Logger chLog;
  bool dnsFailed = false;
  ASSERT_TRUE(channel.EstablishChannel(chLog, dnsFailed, 0, nullptr));
  EXPECT_EQ(channel.ServerCertStatus(), kCertEUntrustedRoot);
  EXPECT_FALSE(channel.ServerCertVerified());
  ASSERT_NE(channel.ServerCertificate(), nullptr);
  EXPECT_FALSE(channel.ServerCertificate()->trustedRoot());
}

TEST(HttpsNginxTest, WrongHostNameWarnsWithCnNoMatchAndStatusLine) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kWrongHostSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/index.html")) << f.logText();
  std::string log = f.logText();
  EXPECT_NE(log.find("serverName: 127.0.0.1"), std::string::npos) << log;
  EXPECT_NE(log.find("This warning may be caused by using an IP address or a hostname that "
                     "differs from that found in the certificate."),
            std::string::npos);
  EXPECT_NE(log.find("WinVerifyTrustWarning: CERT_E_CN_NO_MATCH"), std::string::npos);
  EXPECT_NE(log.find("Status = 0x800b010f"), std::string::npos);
  EXPECT_NE(log.find("(warning) SSL Server Certificate not verified"), std::string::npos);
}

TEST(HttpsNginxTest, ExpiredCertificateWarnsWithCertEExpired) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kExpiredSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/index.html")) << f.logText();
  std::string log = f.logText();
  EXPECT_NE(log.find("WinVerifyTrustWarning: CERT_E_EXPIRED"), std::string::npos) << log;
  EXPECT_NE(log.find("Status = 0x800b0101"), std::string::npos);
}

TEST(HttpsNginxTest, RequireVerifiedFailsAnUnverifiedCertificateWithCode105) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kSelfSignedSite);
  SChannel channel;
  channel.SetHost("127.0.0.1");
  channel.SetPort(nginx.port());
  channel.SetRequireVerified(true);
  Logger log;
  bool dnsFailed = false;
  EXPECT_FALSE(channel.EstablishChannel(log, dnsFailed, 0, nullptr));
  EXPECT_EQ(channel.FailureCode(), ChannelFailure::NotVerified);
  EXPECT_NE(LogText(log).find("Failed to verify server certificate"), std::string::npos);
  EXPECT_FALSE(channel.Socket().IsConnected());
}

TEST(HttpsNginxTest, RequireVerifiedAcceptsTheTrustedCertificate) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  SChannel channel;
  channel.SetHost("127.0.0.1");
  channel.SetPort(nginx.port());
  channel.SetRequireVerified(true);
  Logger log;
  bool dnsFailed = false;
  EXPECT_TRUE(channel.EstablishChannel(log, dnsFailed, 0, nullptr)) << LogText(log);
  EXPECT_TRUE(channel.ServerCertVerified());
  EXPECT_TRUE(channel.IsConnected());
  EXPECT_TRUE(channel.ShutdownChannel(true, log));
  EXPECT_FALSE(channel.IsConnected());
}

TEST(HttpsNginxTest, RequiredSubjectCnMatchesExactlyAndFailsInOtherCaseWith106) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kWrongHostSite);
  struct Case {
    const char* field;
    const char* value;
    bool ok;
  } cases[] = {
      {"subjectcn", "other.example", true},
      {"subjectcn", "OTHER.example", false},
      {"issuercn", "Tollwick Test CA", true},
      {"subjectdn", "CN=other.example", true},
      {"issuerdn", "O=Tollwick Tests, CN=Tollwick Test CA", true},
      {"serialnumber", "anything", true},
  };
  for (const Case& c : cases) {
    SChannel channel;
    channel.SetHost("127.0.0.1");
    channel.SetPort(nginx.port());
    channel.SetRequiredCertField(c.field, c.value);
    Logger log;
    bool dnsFailed = false;
    EXPECT_EQ(channel.EstablishChannel(log, dnsFailed, 0, nullptr), c.ok)
        << c.field << "=" << c.value << "\n" << LogText(log);
    if (!c.ok) {
      EXPECT_EQ(channel.FailureCode(), ChannelFailure::RequiredField);
      std::string text = LogText(log);
      EXPECT_NE(text.find("SSL server certificate fails to match requirement"), std::string::npos);
      EXPECT_NE(text.find("certValue: other.example"), std::string::npos);
    }
  }
}

// ---- Bodies over TLS from nginx

TEST(HttpsNginxTest, GzipAnswerArrivesChunkedAndIsDecoded) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/text.txt")) << f.logText();
  EXPECT_EQ(f.bodyText(), World().text);
  std::string log = f.logText();
  EXPECT_NE(log.find("transferEncoding: chunked"), std::string::npos) << log;
  EXPECT_NE(log.find("Content-Encoding: gzip"), std::string::npos);
}

TEST(HttpsNginxTest, OneMegabyteBodyArrivesWhole) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/large.bin")) << f.logText();
  ASSERT_EQ(f.body.length(), World().large.size());
  EXPECT_TRUE(f.bodyText() == World().large);
}

TEST(HttpsNginxTest, SecondRequestReusesTheKeptAliveChannel) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  ShortTimeouts timeouts;
  Fetcher f;
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/index.html")) << f.logText();
  ASSERT_TRUE(f.fetch(nginx.baseUrl() + "/a.html")) << f.logText();
  std::string log = f.logText();
  EXPECT_NE(log.find("Using existing connection to web server..."), std::string::npos) << log;
  EXPECT_EQ(log.find("Using new connection..."), std::string::npos);
  EXPECT_EQ(log.find("Secure Channel Established."), std::string::npos);
  EXPECT_EQ(f.bodyText(), "<html><head><title>A</title></head><body>A</body></html>");
}

TEST(HttpsNginxTest, QuickGetStrReadsAnHttpsPage) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  ShortTimeouts timeouts;
  ClsHttp http;
  StringBuffer text;
  ASSERT_TRUE(http.QuickGetStr((nginx.baseUrl() + "/index.html").c_str(), text, nullptr));
  EXPECT_EQ(std::string(text.view()), World().index);
}

TEST(HttpsNginxTest, PinnedTls12IsNegotiatedAndUnavailableSsl3FailsWith101) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kGoodSite);
  SChannel channel;
  channel.SetHost("127.0.0.1");
  channel.SetPort(nginx.port());
  channel.SetProtocol(" TLS  1.2 ");
  Logger log;
  bool dnsFailed = false;
  ASSERT_TRUE(channel.EstablishChannel(log, dnsFailed, 0, nullptr)) << LogText(log);
  EXPECT_EQ(std::string(channel.ProtocolName().view()), "TLSv1.2");

  channel.SetProtocol("ssl 3.0");
  Logger log2;
  EXPECT_FALSE(channel.EstablishChannel(log2, dnsFailed, 0, nullptr));
  EXPECT_EQ(channel.FailureCode(), ChannelFailure::Credentials);
  EXPECT_NE(LogText(log2).find("Error creating credentials"), std::string::npos);
}

// ---- Body and head rules over TLS, against a scripted server

// Serves one request: reads the head, sends answer (in one record), then keeps the connection
// open until the client leaves (so only the framing can end the body).
TlsLoopbackServer::Script AnswerAndHold(std::string answer) {
  return [answer](TlsServerSession& s) {
    s.ReadRequestHead();
    s.Send(answer);
    s.WaitForClientClose(3000);
  };
}

struct ScriptedFetch {
  explicit ScriptedFetch(TlsLoopbackServer::Script script)
      : server(World().good.certFile, World().good.keyFile, std::move(script)) {}
  std::string url() const { return "https://127.0.0.1:" + std::to_string(server.port()) + "/"; }
  TlsLoopbackServer server;
};

TEST(HttpsBodyTest, ChunkedBodyWithTrailersEndsAtItsEmptyLine) {
  ShortTimeouts timeouts(1000, 5000);
  ScriptedFetch peer(AnswerAndHold(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n6; ext=1\r\n world\r\n0\r\nX-Trailer: one\r\nX-Other: two\r\n\r\n"));
  Fetcher f;
  f.settings.readTimeout = 5;
  ASSERT_TRUE(f.fetch(peer.url())) << f.logText();
  EXPECT_EQ(f.bodyText(), "hello world");
  EXPECT_EQ(f.logText().find("Timeout"), std::string::npos);
}

TEST(HttpsBodyTest, ChunkedBodyArrivingInManyRecordsIsJoined) {
  ShortTimeouts timeouts;
  ScriptedFetch peer([](TlsServerSession& s) {
    s.ReadRequestHead();
    s.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r");
    s.Send("\nabc\r\n1");
    s.Send("0\r\n0123456789abcdef\r\n");
    s.Send("0\r\n\r\n");
    s.WaitForClientClose(3000);
  });
  Fetcher f;
  ASSERT_TRUE(f.fetch(peer.url())) << f.logText();
  EXPECT_EQ(f.bodyText(), "abc0123456789abcdef");
}

TEST(HttpsBodyTest, ChunkSizeThatIsNotHexadecimalFails) {
  ShortTimeouts timeouts;
  ScriptedFetch peer(AnswerAndHold(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n"));
  Fetcher f;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Failed to parse chunked SSL response data. (2)"), std::string::npos)
      << f.logText();
}

TEST(HttpsBodyTest, SessionEndingInsideAChunkFails) {
  ShortTimeouts timeouts;
  ScriptedFetch peer([](TlsServerSession& s) {
    s.ReadRequestHead();
    s.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nshort");
    s.EncryptCloseNotify();
    s.SendPending();
  });
  Fetcher f;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Failed to parse chunked SSL response data. (4)"), std::string::npos)
      << f.logText();
}

TEST(HttpsBodyTest, ChunkedBodyPastMaxContentLengthFailsBeforeTheChunkIsRead) {
  ShortTimeouts timeouts;
  ScriptedFetch peer(AnswerAndHold(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n"));
  Fetcher f;
  f.settings.maxContentLength = 1000;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Chunked response is too large."), std::string::npos)
      << f.logText();
}

TEST(HttpsBodyTest, ContentLengthAboveMaxContentLengthFailsBeforeAnyBodyByte) {
  ShortTimeouts timeouts;
  ScriptedFetch peer(AnswerAndHold("HTTP/1.1 200 OK\r\nContent-Length: 1001\r\n\r\n"));
  Fetcher f;
  f.settings.maxContentLength = 1000;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Content length more than the maximum allowed."),
            std::string::npos);
  EXPECT_TRUE(f.body.isEmpty());
}

TEST(HttpsBodyTest, BytesPastTheContentLengthAreDropped) {
  ShortTimeouts timeouts;
  ScriptedFetch peer(AnswerAndHold("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA"));
  Fetcher f;
  ASSERT_TRUE(f.fetch(peer.url())) << f.logText();
  EXPECT_EQ(f.bodyText(), "hello");
  EXPECT_NE(f.logText().find("Already have entire response."), std::string::npos);
}

TEST(HttpsBodyTest, BodyUntilCloseNotifyWithoutLength) {
  ShortTimeouts timeouts;
  ScriptedFetch peer([](TlsServerSession& s) {
    s.ReadRequestHead();
    s.Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nfirst ");
    s.Send("second");
    s.EncryptCloseNotify();
    s.SendPending();
  });
  Fetcher f;
  ASSERT_TRUE(f.fetch(peer.url())) << f.logText();
  EXPECT_EQ(f.bodyText(), "first second");
  EXPECT_NE(f.logText().find("Finished reading response where content-length was unknown."),
            std::string::npos);
}

TEST(HttpsBodyTest, InterimAnswerInTheSameRecordIsSkipped) {
  ShortTimeouts timeouts;
  ScriptedFetch peer(AnswerAndHold(
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  Fetcher f;
  ASSERT_TRUE(f.fetch(peer.url())) << f.logText();
  EXPECT_EQ(f.status(), 200);
  EXPECT_EQ(f.bodyText(), "ok");
}

TEST(HttpsBodyTest, SeeOtherRedirectIsFollowedOverTls) {
  ShortTimeouts timeouts;
  // One server answers both requests on separate connections is not possible with a
  // one-connection server, so the redirect points at an about:blank URL that needs none.
  ScriptedFetch peer(AnswerAndHold(
      "HTTP/1.1 303 See Other\r\nLocation: /about:blank\r\nContent-Length: 0\r\n\r\n"));
  Fetcher f;
  ASSERT_TRUE(f.fetch(peer.url())) << f.logText();
  EXPECT_TRUE(f.result.redirected);
}

TEST(HttpsBodyTest, EndlessBodyIsBoundedByMaxContentLength) {
  ShortTimeouts timeouts(1000, 3000);
  ScriptedFetch peer([](TlsServerSession& s) {
    s.ReadRequestHead();
    s.Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    const std::string piece(8000, 'x');
    for (int i = 0; i < 100000 && !s.stopping(); ++i) {
      if (!s.Send(piece)) return;
    }
  });
  Fetcher f;
  f.settings.maxContentLength = 200000;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Content length more than the maximum allowed..."),
            std::string::npos)
      << f.logText();
  EXPECT_LE(f.body.length(), 200000u);
}

TEST(HttpsBodyTest, EndlessHeadFailsAtTheHeadCap) {
  ShortTimeouts timeouts(1000, 3000);
  ScriptedFetch peer([](TlsServerSession& s) {
    s.ReadRequestHead();
    if (!s.Send("HTTP/1.1 200 OK\r\n")) return;
    const std::string line = "X-Filler: " + std::string(990, 'y') + "\r\n";
    for (int i = 0; i < 100000 && !s.stopping(); ++i) {
      if (!s.Send(line)) return;
    }
  });
  Fetcher f;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Response header too large."), std::string::npos) << f.logText();
}

// The server sends part of a head and closes: the fetch fails over TLS as it does on a plain
// connection, whether the session ends with close-notify or the connection just closes.
TEST(HttpsBodyTest, CloseInsideTheHeadFailsAsOnAPlainConnection) {
  const std::string part = "HTTP/1.1 200 OK\r\nContent-Type: text/ht";
  struct Case {
    const char* name;
    bool tls;
    bool closeNotify;
  } cases[] = {
      {"plain", false, false},
      {"tls, close-notify", true, true},
      {"tls, connection closed", true, false},
  };
  for (const Case& c : cases) {
    ShortTimeouts timeouts;
    Fetcher f;
    bool ok;
    if (!c.tls) {
      HttpFixtureServer server;
      server.AddHandler("/", [&part](int fd, const HttpFixtureServer::Request&) {
        HttpFixtureServer::SendAll(fd, part);
        return HttpFixtureServer::After::kClose;
      });
      ok = f.fetch(server.Url("/"));
    } else {
      ScriptedFetch peer([&part, &c](TlsServerSession& s) {
        s.ReadRequestHead();
        s.Encrypt(part);
        if (c.closeNotify) s.EncryptCloseNotify();
        s.SendPending();
      });
      ok = f.fetch(peer.url());
    }
    const std::string log = f.logText();
    EXPECT_FALSE(ok) << c.name << log;
    EXPECT_NE(log.find("Failed to get response header"), std::string::npos) << c.name << log;
    EXPECT_EQ(f.status(), 0) << c.name;
    EXPECT_TRUE(f.body.isEmpty()) << c.name;
    EXPECT_TRUE(f.result.socketFlags.closedByPeer) << c.name;
  }
}

TEST(HttpsBodyTest, ServerThatNeverAnswersTimesOutReadingTheHead) {
  ShortTimeouts timeouts(1000, 300);
  ScriptedFetch peer([](TlsServerSession& s) {
    s.ReadRequestHead();
    s.WaitForClientClose(3000);
  });
  Fetcher f;
  EXPECT_FALSE(f.fetch(peer.url()));
  EXPECT_NE(f.logText().find("Timeout trying to read HTTP response header"), std::string::npos)
      << f.logText();
}

// ---- One reader for both kinds of connection

// Sends answer in two pieces, split at cut, with a short pause between them, then closes.
void SendSplit(const std::function<bool(const std::string&)>& send, const std::string& answer,
               size_t cut) {
  if (!send(answer.substr(0, cut))) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  send(answer.substr(cut));
}

// The same bytes, cut anywhere, read over a plain and a TLS connection: where the two kinds of
// connection are meant to agree, they do.
TEST(OneReaderTest, AnswersSplitAtEveryPositionReadAlikeOverPlainAndTls) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  struct Case {
    std::string answer;
    bool ok;
    std::string body;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world", true, "hello world"},
      {chunked + "5;x=1\r\nhello\r\n6\r\n world\r\n0\r\nX-T: 1\r\n\r\n", true, "hello world"},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true, "ok"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nup to the close", true,
       "up to the close"},
      {chunked + "10\r\nshort", false, "short"},
      {"HTTP/1.1 200 OK\r\nContent-Le", false, ""},
  };
  ShortTimeouts timeouts(1000, 2000);
  for (const Case& c : cases) {
    for (size_t cut = 1; cut < c.answer.size(); ++cut) {
      const std::string where = c.answer.substr(0, cut) + " | " + c.answer.substr(cut);
      HttpFixtureServer plain;
      plain.AddHandler("/", [&](int fd, const HttpFixtureServer::Request&) {
        SendSplit([fd](const std::string& piece) { return HttpFixtureServer::SendAll(fd, piece); },
                  c.answer, cut);
        return HttpFixtureServer::After::kClose;
      });
      ScriptedFetch tls([&](TlsServerSession& session) {
        session.ReadRequestHead();
        SendSplit([&session](const std::string& piece) { return session.Send(piece); }, c.answer,
                  cut);
      });
      for (const std::string& url : {plain.Url("/"), tls.url()}) {
        Fetcher f;
        EXPECT_EQ(f.fetch(url), c.ok) << url << "\n" << where << "\n" << f.logText();
        EXPECT_EQ(f.bodyText(), c.body) << url << "\n" << where;
      }
    }
  }
}

// ---- The whole program over TLS

// The tollwick program beside this test's build: <build>/app/tollwick (absent when the
// application is not built, as in the sanitizer builds).
std::string TollwickPath() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "";
  std::filesystem::path tollwick = self.parent_path().parent_path() / "app" / "tollwick";
  return std::filesystem::exists(tollwick) ? tollwick.string() : "";
}

// Runs tollwick with args and the environment additions; returns its exit status, stdout in out.
int RunTollwick(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& environment, std::string& out,
                bool withStderr = false) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    if (withStderr) dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char block[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], block, sizeof block)) > 0) out.append(block, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST(HttpsCrawlTest, TollwickGenerateCrawlsTheSiteOverTls) {
  const std::string program = TollwickPath();
  if (program.empty()) GTEST_SKIP() << "tollwick is not built beside this test";
  USE_SITE(nginx, kGoodSite);
  const std::string home = FreshDir("tollwick-https");
  std::string out;
  int status = RunTollwick(program, {"generate", nginx.baseUrl() + "/", "--delay-ms", "0"},
                           {"SSL_CERT_FILE=" + World().caFile, "TMPDIR=" + home,
                            "XDG_CONFIG_HOME=" + home + "config"},
                           out);
  ASSERT_EQ(status, 0) << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  std::string folder = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::string urls = ReadFileBytes(folder + "urllist.txt");
  EXPECT_NE(urls.find(nginx.baseUrl() + "/"), std::string::npos) << folder << "\n" << urls;
  EXPECT_NE(urls.find(nginx.baseUrl() + "/a.html"), std::string::npos) << urls;
  std::string sitemap = ReadFileBytes(folder + "sitemap.htm");
  EXPECT_NE(sitemap.find("Secure"), std::string::npos);
}

// ---- Client certificates

TEST(HttpsClientCertTest, ServerThatAsksGetsTheCertificateAndRefusesWithoutOne) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kAsksForCertSite);
  ShortTimeouts timeouts;
  Fetcher without;
  without.fetch(nginx.baseUrl() + "/index.html");
  EXPECT_EQ(without.status(), 400) << without.logText();
  EXPECT_NE(without.logText().find("none is configured"), std::string::npos);

  Fetcher with;
  Logger loadLog;
  // An unrelated certificate first: the one the server's issuer list names is chosen.
  with.settings.clientCredential.Add(ClientCredential::Load(
      World().selfSigned.certFile.c_str(), World().selfSigned.keyFile.c_str(), nullptr, loadLog));
  with.settings.clientCredential.Add(ClientCredential::Load(
      World().client.certFile.c_str(), World().client.keyFile.c_str(), nullptr, loadLog));
  ASSERT_EQ(with.settings.clientCredential.count(), 2) << LogText(loadLog);
  ASSERT_TRUE(with.fetch(nginx.baseUrl() + "/index.html")) << with.logText();
  EXPECT_EQ(with.status(), 200) << with.logText();
  EXPECT_EQ(with.bodyText(), World().index);
  EXPECT_NE(with.logText().find("ClientCertDN: O=Tollwick Tests, CN=crawler"),
            std::string::npos)
      << with.logText();
}

TEST(HttpsClientCertTest, RequireVerifiedCertFailsTheFetchOfASelfSignedServer) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kSelfSignedSite);
  ShortTimeouts timeouts;
  Fetcher f;
  f.settings.requireVerifiedCert = true;
  EXPECT_FALSE(f.fetch(nginx.baseUrl() + "/index.html"));
  EXPECT_NE(f.logText().find("Failed to verify server certificate"), std::string::npos);
}

// What a server that wants a client certificate does when it gets none, or an expired one,
// and the one line that names it.
struct CertificateRefusal {
  const IssuedCert* offered;  // null: none
  const char* reason;
};
std::vector<CertificateRefusal> CertificateRefusals() {
  return {{nullptr, "client certificate required: none was sent"},
          {&World().expiredClient, "client certificate refused: expired or not yet valid"}};
}

ClientCredentialSet Offer(const IssuedCert* cert) {
  ClientCredentialSet credentials;
  Logger log;
  if (cert != nullptr) {
    EXPECT_TRUE(credentials.Add(
        ClientCredential::Load(cert->certFile.c_str(), cert->keyFile.c_str(), nullptr, log)));
  }
  return credentials;
}

std::string Described(const FetchError& error) {
  StringBuffer text;
  DescribeFetchError(error, text);
  return std::string(text.view());
}

// nginx finishes the handshake either way and answers "400 Bad Request" with the reason in
// its page.
TEST(HttpsClientCertTest, NginxRefusalPageNamesTheCertificateProblem) {
  TrustScope trust(World().caFile);
  USE_SITE(nginx, kAsksForCertSite);
  ShortTimeouts timeouts;
  for (const CertificateRefusal& c : CertificateRefusals()) {
    SCOPED_TRACE(c.reason);
    Fetcher f;
    f.settings.clientCredential = Offer(c.offered);
    f.fetch(nginx.baseUrl() + "/index.html");
    ASSERT_EQ(f.status(), 400) << f.logText();
    NoteClientCertificateAnswer(f.settings, f.body.view(), f.result);
    EXPECT_EQ(Described(f.result.error), c.reason) << f.bodyText();
  }
}

// Servers that refuse in TLS: over TLS 1.2 the alert ends the handshake; TLS 1.3 servers send
// it after the handshake, so it arrives at the first read.
TEST(HttpsClientCertTest, TlsAlertRefusingTheCertificateNamesIt) {
  auto requireCertificate = [](SSL_CTX* ctx) {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_load_verify_locations(ctx, World().caFile.c_str(), nullptr);
    SSL_CTX_set_client_CA_list(ctx, SSL_load_client_CA_file(World().caFile.c_str()));
  };
  for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    for (const CertificateRefusal& c : CertificateRefusals()) {
      SCOPED_TRACE(std::string(c.reason) +
                   (version == TLS1_2_VERSION ? ", TLS 1.2" : ", TLS 1.3"));
      const ClientCredentialSet credentials = Offer(c.offered);
      TlsLoopbackServer server(World().good.certFile, World().good.keyFile,
                               [](TlsServerSession&) {}, true, version, requireCertificate);
      SChannel channel;
      channel.SetHost("127.0.0.1");
      channel.SetPort(server.port());
      channel.Socket().SetIdleTimeoutMs(2000);
      Logger log;
      bool dnsFailed = false;
      FetchError error;
      if (channel.EstablishChannel(log, dnsFailed, 0, nullptr, &credentials)) {
        EXPECT_EQ(version, TLS1_3_VERSION);
        DataBuffer received;
        SocketFlags flags;
        EXPECT_FALSE(channel.ReceiveBytes(received, 0, log, nullptr, flags));
        error.set(FetchErrorKind::kHeadCutOff);
        EXPECT_TRUE(NoteClientCertificateAlert(&channel, error));
      } else {
        SetConnectError(channel.Socket(), &channel, "127.0.0.1", server.port(), false, error);
      }
      server.Join();
      EXPECT_EQ(Described(error), c.reason) << LogText(log);
    }
  }
}

// ---- The command line against sites that authenticate

// Runs "tollwick generate URL args..." with a private temporary folder; out gets stdout and
// stderr.
int Generate(const std::string& url, std::vector<std::string> args,
             std::vector<std::string> environment, std::string& out) {
  const std::string home = FreshDir("tollwick-auth");
  args.insert(args.begin(), {"generate", url, "--delay-ms", "0"});
  environment.push_back("TMPDIR=" + home);
  environment.push_back("XDG_CONFIG_HOME=" + home + "config");
  out.clear();
  return RunTollwick(TollwickPath(), args, environment, out, true);
}

// Generate with stdin closed and no controlling terminal, so nothing can prompt or wait for a
// password.
int GenerateWithoutTerminal(const std::string& url, std::vector<std::string> args,
                            std::vector<std::string> environment, std::string& out) {
  const std::string home = FreshDir("tollwick-auth");
  args.insert(args.begin(), {"-c", "exec setsid -w \"$0\" \"$@\" <&-", TollwickPath(),
                             "generate", url, "--delay-ms", "0"});
  environment.push_back("TMPDIR=" + home);
  environment.push_back("XDG_CONFIG_HOME=" + home + "config");
  out.clear();
  return RunTollwick("/bin/sh", args, environment, out, true);
}

#define NEED_TOLLWICK() \
  if (TollwickPath().empty()) GTEST_SKIP() << "tollwick is not built beside this test";

TEST(AuthCrawlTest, UserAndPasswordFileCrawlASiteBehindNtlm) {
  NEED_TOLLWICK();
  HttpFixtureServer server;
  ServeBehindNtlm(server, "/", {"crawler", "STAGING", "Secret#1"},
                  "<html><head><title>Behind NTLM</title></head><body></body></html>");
  const std::string passwordFile = FreshDir("ntlm-password") + "password";
  WriteFileBytes(passwordFile, "Secret#1\n");
  std::string out;
  EXPECT_EQ(Generate(server.Url("/"), {"--user", "STAGING\\crawler", "--password-file",
                                       passwordFile},
                     {}, out),
            0)
      << out;
  EXPECT_NE(out.find("1 done"), std::string::npos) << out;
  WriteFileBytes(passwordFile, "wrong\n");
  EXPECT_EQ(Generate(server.Url("/"), {"--user", "STAGING\\crawler", "--password-file",
                                       passwordFile},
                     {}, out),
            1);
  EXPECT_NE(out.find("login refused"), std::string::npos) << out;
}

TEST(AuthCrawlTest, ClientCertificateOpensASiteThatRequiresOne) {
  NEED_TOLLWICK();
  USE_SITE(nginx, kAsksForCertSite);
  std::string out;
  EXPECT_EQ(Generate(nginx.baseUrl() + "/", {"--ca-file", World().caFile}, {}, out), 1) << out;
  EXPECT_EQ(Generate(nginx.baseUrl() + "/",
                     {"--ca-file", World().caFile, "--client-cert", World().client.certFile,
                      "--client-key", World().client.keyFile, "--require-valid-cert"},
                     {}, out),
            0)
      << out;
  EXPECT_NE(out.find("a.html"), std::string::npos) << out;
}

// Sites whose certificate does not verify: exit 1 with the reason when a valid one is
// required; otherwise the crawl finishes and one warning line names the problem.
TEST(AuthCrawlTest, CertificateProblemsFailWhenRequiredAndWarnOnceOtherwise) {
  NEED_TOLLWICK();
  const struct {
    SiteBlock block;
    const char* problem;
  } cases[] = {
      {kSelfSignedSite, "certificate not trusted: self-signed"},
      {kExpiredSite, "certificate not trusted: expired or not yet valid"},
      {kWrongHostSite, "certificate not trusted: it names another host"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    USE_SITE(nginx, c.block);
    const std::vector<std::string> trust = {"SSL_CERT_FILE=" + World().caFile};
    std::string out;
    EXPECT_EQ(Generate(nginx.baseUrl() + "/", {"--require-valid-cert"}, trust, out), 1);
    EXPECT_NE(out.find(c.problem), std::string::npos) << out;
    ASSERT_EQ(Generate(nginx.baseUrl() + "/", {}, trust, out), 0) << out;
    const std::string warning = "tollwick: warning: " + nginx.baseUrl() + ": " + c.problem +
                                "; --require-valid-cert makes this an error\n";
    EXPECT_EQ(CountOf(out, warning), 1) << out;
    EXPECT_NE(out.find(", 1 warning"), std::string::npos) << out;
  }
}

// Certificate files are checked before the crawl: exit 2 with the reason, never a prompt.
TEST(AuthCrawlTest, ClientCertificateFilesOpenWithTheirPasswordOrSayWhyNot) {
  NEED_TOLLWICK();
  USE_SITE(nginx, kAsksForCertSite);
  const std::string& p12 = World().legacyP12;
  const std::string& cert = World().client.certFile;
  const std::string& key = World().encryptedKey;
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> environment;
    int status;
    std::string reason;
  } cases[] = {
      {{"--client-cert", p12}, {"TOLLWICK_CERT_PASSWORD=p12-pass"}, 0, ""},
      {{"--client-cert", p12}, {"TOLLWICK_CERT_PASSWORD=nope"}, 2,
       "cannot use the client certificate " + p12 + ": wrong password (from " +
           "TOLLWICK_CERT_PASSWORD)\n"},
      {{"--client-cert", p12},
       {"TOLLWICK_CERT_PASSWORD=p12-pass", "OPENSSL_MODULES=/nonexistent"},
       2,
       "needs OpenSSL's legacy provider, which could not be loaded"},
      {{"--client-cert", cert, "--client-key", key}, {"TOLLWICK_CERT_PASSWORD=key-pass"}, 0, ""},
      {{"--client-cert", cert, "--client-key", key}, {}, 2,
       "cannot use the client key " + key + ": the file is protected by a password and none " +
           "was given; set TOLLWICK_CERT_PASSWORD to its password\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--ca-file", World().caFile});
    std::string out;
    EXPECT_EQ(GenerateWithoutTerminal(nginx.baseUrl() + "/", args, c.environment, out), c.status)
        << out;
    if (!c.reason.empty()) {
      EXPECT_EQ(CountOf(out, c.reason), 1) << out;
    }
    EXPECT_EQ(out.find("pass phrase"), std::string::npos) << out;
  }
}

// A server that refuses the certificate, or wants one and gets none, fails the start page
// with the reason in one line.
TEST(AuthCrawlTest, ServerRefusingTheClientCertificateFailsWithTheReason) {
  NEED_TOLLWICK();
  USE_SITE(nginx, kAsksForCertSite);
  for (const CertificateRefusal& c : CertificateRefusals()) {
    std::vector<std::string> args = {"--ca-file", World().caFile};
    if (c.offered != nullptr) {
      args.insert(args.end(), {"--client-cert", c.offered->certFile, "--client-key",
                               c.offered->keyFile});
    }
    std::string out;
    EXPECT_EQ(Generate(nginx.baseUrl() + "/", args, {}, out), 1) << out;
    EXPECT_EQ(CountOf(out, ": " + std::string(c.reason) + "\n"), 1) << out;
  }
}

}  // namespace
}  // namespace quillon::testing
