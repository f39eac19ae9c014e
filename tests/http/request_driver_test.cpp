#include "http/request_driver.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <string>

#include "base/progress.h"
#include "http/http_client.h"
#include "http/output.h"
#include "tests/http/driver_test_util.h"
#include "tests/net/resolver_fake.h"
#include "tests/support/http_fixture_server.h"
#include "tests/support/nginx_fixture.h"

namespace quillon {
namespace {

using testing::CountOf;
using testing::FakeResolver;
using testing::Fetcher;
using testing::GzipOf;
using testing::FixedAddressPeer;
using testing::HttpFixtureServer;
using testing::RecordedPauses;
using testing::ShortTimeouts;
using After = HttpFixtureServer::After;

std::string Ok(const std::string& body, const std::string& headers = "") {
  return HttpFixtureServer::Response(200, "OK", body, headers);
}

class DriverTest : public ::testing::Test {
 protected:
  ShortTimeouts timeouts_;
  HttpFixtureServer server_;
  Fetcher f_;
};

// ---- The request head on the wire

constexpr const char* kWorkedUrl = "http://MyHost/a/b.html?x=1#top";

// Sends the worked example to "myhost" on port 80 (a loopback address of its own) and returns the
// head received; empty when port 80 cannot be bound here.
std::string HeadSentForWorkedUrl(Fetcher& f) {
  FakeResolver::Instance().Install();
  FakeResolver::Instance().Add("myhost", "127.0.0.80");
  FixedAddressPeer peer("127.0.0.80", 80, Ok("done"));
  std::string head;
  if (peer.isListening()) {
    EXPECT_TRUE(f.fetch(kWorkedUrl)) << f.logText();
    head = peer.head();
  }
  FakeResolver::Instance().Uninstall();
  return head;
}

TEST(RequestHeadOnWireTest, GenericTemplateWorkedExampleByteForByte) {
  ShortTimeouts timeouts;
  Fetcher f;
  std::string head = HeadSentForWorkedUrl(f);
  if (head.empty()) GTEST_SKIP() << "127.0.0.80:80 cannot be bound here";
  EXPECT_EQ(head,
            "GET /a/b.html?x=1 HTTP/1.1\r\n"
            "Accept: */*\r\n"
            "Accept-Encoding: gzip\r\n"
            "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"
            "Accept-Language: en-us,en;q=0.5\r\n"
            "User-Agent: " + std::string(HttpControl::kDefaultUserAgent) + "\r\n"
            "Host: myhost\r\n"
            "Connection: Keep-Alive\r\n"
            "\r\n");
  EXPECT_EQ(f.bodyText(), "done");
}

TEST(RequestHeadOnWireTest, FirefoxTemplateWorkedExampleByteForByte) {
  ShortTimeouts timeouts;
  Fetcher f;
  f.settings.setFirefoxTemplate(true);
  std::string head = HeadSentForWorkedUrl(f);
  if (head.empty()) GTEST_SKIP() << "127.0.0.80:80 cannot be bound here";
  EXPECT_EQ(head,
            "GET /a/b.html?x=1 HTTP/1.1\r\n"
            "Host: myhost\r\n"
            "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.7.7) "
            "Gecko/20050414 Firefox/1.0.3\r\n"
            "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,"
            "text/plain;q=0.8,image/png,*/*;q=0.5\r\n"
            "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"
            "Accept-Encoding: gzip\r\n"
            "Accept-Language: en-us,en;q=0.5\r\n"
            "Keep-Alive: 300\r\n"
            "Connection: keep-alive\r\n"
            "\r\n");
}

TEST_F(DriverTest, HostLineCarriesThePortOffTheDefault) {
  server_.AddResponse("/p", Ok("x"));
  ASSERT_TRUE(f_.fetch(server_.Url("/p")));
  ASSERT_EQ(server_.RequestCount(), 1u);
  EXPECT_NE(server_.Requests()[0].head.find("\r\nHost: 127.0.0.1:" +
                                            std::to_string(server_.port()) + "\r\n"),
            std::string::npos);
}

TEST_F(DriverTest, BasicLinesAreSentWithoutWaitingForA401) {
  server_.AddResponse("/p", Ok("x"));
  f_.settings.login.assign("user");
  f_.settings.password.assign("pw");
  f_.settings.proxyLogin.assign("pu");
  f_.settings.proxyPassword.assign("pp");
  ASSERT_TRUE(f_.fetch(server_.Url("/p")));
  std::string head = server_.Requests()[0].head;
  EXPECT_NE(head.find("\r\nAuthorization: Basic dXNlcjpwdw==\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nProxy-Authorization: Basic cHU6cHA=\r\n"), std::string::npos);
  EXPECT_NE(f_.logText().find("Adding Basic Authentication Header"), std::string::npos);
}

TEST_F(DriverTest, NtlmSwitchedOnSendsNoBasicLine) {
  server_.AddResponse("/p", Ok("x"));
  f_.settings.login.assign("user");
  f_.settings.password.assign("pw");
  f_.settings.ntlmEnabled = true;
  ASSERT_TRUE(f_.fetch(server_.Url("/p")));
  EXPECT_EQ(server_.Requests()[0].head.find("Authorization: Basic"), std::string::npos);
}

TEST_F(DriverTest, UrlCredentialsServeThatFetchOnly) {
  server_.AddResponse("/p", Ok("x"));
  std::string url = "http://u:p@127.0.0.1:" + std::to_string(server_.port()) + "/p";
  ASSERT_TRUE(f_.fetch(url)) << f_.logText();
  ASSERT_TRUE(f_.fetch(server_.Url("/p")));
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].head.find("\r\nAuthorization: Basic dTpw\r\n"), std::string::npos);
  EXPECT_EQ(requests[1].head.find("Authorization"), std::string::npos);
  EXPECT_TRUE(f_.settings.login.isEmpty());
}

TEST_F(DriverTest, ComposeOnlyStoresTheHeadAndSendsNothing) {
  f_.settings.composeOnly = true;
  ASSERT_TRUE(f_.fetch(server_.Url("/p")));
  EXPECT_TRUE(f_.settings.lastComposedRequest.beginsWith("GET /p HTTP/1.1\r\n"));
  EXPECT_TRUE(f_.settings.lastComposedRequest.endsWith("\r\n\r\n"));
  EXPECT_EQ(server_.ConnectionCount(), 0u);
}

// ---- Status lines and heads

TEST_F(DriverTest, StatusWithoutReasonHasNoFieldsAndIsReadUntilClose) {
  server_.AddResponse("/p", "HTTP/1.1 200\r\nContent-Length: 3\r\n\r\nabcdef");
  ASSERT_TRUE(f_.fetch(server_.Url("/p"))) << f_.logText();
  EXPECT_EQ(f_.status(), 200);
  EXPECT_EQ(f_.result.header.fields.count(), 0);
  EXPECT_EQ(f_.bodyText(), "abcdef");
  EXPECT_NE(f_.logText().find("Read max non-chunked response"), std::string::npos);
}

TEST_F(DriverTest, AnswerWithoutStatusLineIsAskedSixTimesThenFails) {
  const char* answers[] = {
      "garbage\r\n\r\n",
      "http/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi",  // lower case is no status line
  };
  for (const char* answer : answers) {
    HttpFixtureServer server;
    server.AddResponse("/p", answer);
    Fetcher f;
    EXPECT_FALSE(f.fetch(server.Url("/p"))) << answer;
    EXPECT_EQ(server.RequestCount(), 6u) << answer;
    std::string log = f.logText();
    EXPECT_EQ(CountOf(log, "Invalid response header received"), 6) << answer;
    EXPECT_EQ(f.status(), 0) << answer;
  }
}

TEST_F(DriverTest, HeadLookingLikeHtmlIsABarePage) {
  const std::string page = "<html><head><title>t</title></head>\r\n\r\n<body>bare</body></html>";
  server_.AddResponse("/p", page);
  ASSERT_TRUE(f_.fetch(server_.Url("/p"))) << f_.logText();
  EXPECT_EQ(f_.status(), 200);
  EXPECT_EQ(f_.bodyText(), page);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(DriverTest, HundredContinueThenTwoHundredIsOneExchange) {
  server_.AddResponse(
      "/p", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(f_.fetch(server_.Url("/p"))) << f_.logText();
  EXPECT_EQ(f_.status(), 200);
  EXPECT_EQ(f_.bodyText(), "ok");
}

TEST_F(DriverTest, AtMostTenInformationalHeadsAreSkipped) {
  std::string interim;
  for (int i = 0; i < 10; ++i) interim += "HTTP/1.1 102 Processing\r\n\r\n";
  server_.AddResponse("/ten", interim + Ok("ok"));
  server_.AddResponse("/eleven", interim + "HTTP/1.1 103 Early Hints\r\n\r\n" + Ok("ok"));
  EXPECT_TRUE(f_.fetch(server_.Url("/ten"))) << f_.logText();
  EXPECT_EQ(f_.bodyText(), "ok");
  EXPECT_FALSE(f_.fetch(server_.Url("/eleven")));
  EXPECT_NE(f_.logText().find("Too many informational responses."), std::string::npos);
}

TEST_F(DriverTest, ContentLengthBeyond64BitsFails) {
  server_.AddResponse("/p", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nx");
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
}

TEST_F(DriverTest, RequiredContentTypeMismatchFails) {
  server_.AddResponse("/p", Ok("x", "Content-Type: image/png; q=1\r\n"));
  server_.AddResponse("/t", Ok("x", "Content-Type: Text/HTML ; charset=utf-8\r\n"));
  f_.settings.requiredContentType.assign("text/html");
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
  std::string log = f_.logText();
  EXPECT_NE(log.find("Content-Type does not match the required content type"),
            std::string::npos);
  EXPECT_NE(log.find("image/png; q=1"), std::string::npos);
  EXPECT_TRUE(f_.fetch(server_.Url("/t"))) << f_.logText();
}

TEST_F(DriverTest, Ntlm401WithoutAChallengeFailsTheLoginWithoutStatusLines) {
  server_.AddResponse("/p", HttpFixtureServer::Response(401, "Unauthorized", "no",
                                                        "WWW-Authenticate: NTLM\r\n"));
  f_.settings.login.assign("DOMAIN/user");
  f_.settings.password.assign("pw");
  f_.settings.ntlmEnabled = true;
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
  EXPECT_EQ(f_.status(), 401);
  const std::string log = f_.logText();
  EXPECT_EQ(log.find("StatusCode"), std::string::npos);
  EXPECT_NE(log.find("exchangePackageResponseStatus: 401"), std::string::npos) << log;
  EXPECT_NE(log.find("Authenticated: 0"), std::string::npos);
}

// ---- Bodies

TEST_F(DriverTest, GzipBodyIsDecodedOnlyWhenContentEncodingSaysGzip) {
  const std::string text = "hello gzip world, hello gzip world";
  const std::string packed = GzipOf(text);
  server_.AddResponse("/gz", Ok(packed, "Content-Encoding: gzip\r\n"));
  server_.AddResponse("/id", Ok(packed, "Content-Encoding: identity\r\n"));
  ASSERT_TRUE(f_.fetch(server_.Url("/gz")));
  EXPECT_EQ(f_.bodyText(), text);
  ASSERT_TRUE(f_.fetch(server_.Url("/id")));
  EXPECT_EQ(f_.bodyText(), packed);
}

TEST_F(DriverTest, GzipBodyInflatingPastTheLimitFails) {
  server_.AddResponse("/gz", Ok(GzipOf(std::string(200000, 'A')), "Content-Encoding: gzip\r\n"));
  f_.settings.maxContentLength = 100000;
  EXPECT_FALSE(f_.fetch(server_.Url("/gz")));
  EXPECT_NE(f_.logText().find("Content length more than the maximum allowed..."),
            std::string::npos);
  EXPECT_LE(f_.body.length(), 100001u);
}

TEST_F(DriverTest, NotFoundWithLengthIsReadAndReturned) {
  server_.AddResponse("/p", HttpFixtureServer::Response(404, "Not Found", "gone"));
  EXPECT_TRUE(f_.fetch(server_.Url("/p")));
  EXPECT_EQ(f_.status(), 404);
  EXPECT_EQ(f_.bodyText(), "gone");
}

// ---- URL checks

TEST_F(DriverTest, AboutBlankAnywhereSucceedsEmptyWithoutARequest) {
  for (const char* url : {"about:blank", "http://127.0.0.1:1/x/About:Blank"}) {
    f_.body.append("old", 3);
    EXPECT_TRUE(f_.fetch(url)) << url;
    EXPECT_TRUE(f_.body.isEmpty()) << url;
    EXPECT_NE(f_.logText().find("Skipping about:blank"), std::string::npos);
  }
  EXPECT_EQ(server_.ConnectionCount(), 0u);
}

TEST_F(DriverTest, UrlOfMaxUrlLenIsAcceptedAndOneMoreFails) {
  server_.AddResponse("*", Ok("x"));
  f_.settings.maxUrlLen = 100;
  std::string url = server_.Url("/");
  url += std::string(100 - url.size(), 'a');
  EXPECT_TRUE(f_.fetch(url)) << f_.logText();
  EXPECT_FALSE(f_.fetch(url + "a"));
  std::string log = f_.logText();
  EXPECT_NE(log.find("URL is longer than the maximum allowed length."), std::string::npos);
  EXPECT_NE(log.find("maxUrlLen: 100"), std::string::npos);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(DriverTest, HttpsToAPlainServerFailsInTheHandshake) {
  EXPECT_FALSE(f_.fetch("https://127.0.0.1:" + std::to_string(server_.port()) + "/"));
  std::string log = f_.logText();
  EXPECT_NE(log.find("Using HTTPS."), std::string::npos);
  EXPECT_NE(log.find("Error performing handshake"), std::string::npos) << log;
  EXPECT_NE(log.find("Failed to connect to HTTP server."), std::string::npos);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

// ---- The pooled connection

TEST_F(DriverTest, LaterRequestsReuseTheKeptAliveConnection) {
  server_.AddResponse("*", Ok("x"), After::kKeepAlive);
  ASSERT_TRUE(f_.fetch(server_.Url("/1")));
  EXPECT_NE(f_.logText().find("Not yet connected to web server. Need to establish connection."),
            std::string::npos);
  ASSERT_TRUE(f_.fetch(server_.Url("/2")));
  std::string log = f_.logText();
  EXPECT_NE(log.find("Using existing connection to web server..."), std::string::npos);
  EXPECT_EQ(log.find("Using new connection..."), std::string::npos);
  ASSERT_TRUE(f_.fetch(server_.Url("/3")));
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& request : requests) EXPECT_EQ(request.connection, 1);
  EXPECT_EQ(f_.pool.count(), 1);
  EXPECT_TRUE(f_.pool.clientAt(0)->isOpen(false));
}

TEST_F(DriverTest, KeptAliveConnectionClosedAsTheRequestArrivesCostsOneRetry) {
  server_.AddResponse("/1", Ok("one"), After::kKeepAlive);
  server_.AddHandler("/2", [](int fd, const HttpFixtureServer::Request& request) {
    // The kept-alive connection is dropped as the request arrives, unanswered.
    if (request.connection == 1) return After::kClose;
    HttpFixtureServer::SendAll(fd, Ok("two"));
    return After::kClose;
  });
  ASSERT_TRUE(f_.fetch(server_.Url("/1")));
  ASSERT_TRUE(f_.fetch(server_.Url("/2"))) << f_.logText();
  EXPECT_EQ(f_.bodyText(), "two");
  EXPECT_EQ(CountOf(f_.logText(), "sending the request again"), 1);
  EXPECT_EQ(server_.ConnectionCount(), 2u);
  EXPECT_EQ(server_.RequestCount(), 3u);
}

TEST_F(DriverTest, ConnectionCloseAnswerClosesThePooledConnection) {
  server_.AddResponse("*", Ok("x", "Connection: close\r\n"), After::kKeepAlive);
  ASSERT_TRUE(f_.fetch(server_.Url("/1")));
  EXPECT_NE(f_.logText().find("Got connection:close header"), std::string::npos);
  EXPECT_FALSE(f_.pool.clientAt(0)->isOpen(false));
  ASSERT_TRUE(f_.fetch(server_.Url("/2")));
  EXPECT_NE(f_.logText().find("Not yet connected to web server."), std::string::npos);
}

TEST_F(DriverTest, PooledConnectionResetWhileIdleIsReplacedBeforeTheRequest) {
  server_.AddResponse("/1", Ok("x"), After::kReset);
  HttpClient client;
  DataBuffer body;
  OutputDataBuffer sink(body);
  ASSERT_TRUE(DriveRequest(client, server_.Url("/1").c_str(), 0, ConnectionUse::kPooled,
                           f_.settings, sink, f_.result, f_.log, nullptr));
  ASSERT_TRUE(client.isOpen(false));
  // Wait for the server's reset to arrive; the client still holds the connection as open.
  pollfd entry{client.socket().SocketFd(), POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, 5000), 1);
  f_.result.reset();
  EXPECT_TRUE(DriveRequest(client, server_.Url("/1").c_str(), 0, ConnectionUse::kPooled,
                           f_.settings, sink, f_.result, f_.log, nullptr))
      << f_.logText();
  EXPECT_FALSE(f_.result.needsReconnect);
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_EQ(server_.ConnectionCount(), 2u);
}

// ---- 503 retries

TEST_F(DriverTest, Busy503IsRetriedWithPausesAndTheLastAnswerReturned) {
  server_.AddResponse("/p", HttpFixtureServer::Response(503, "Service Unavailable", "busy"));
  f_.settings.max503Retries = 2;
  f_.settings.retryDelayMs = 2000;
  EXPECT_TRUE(f_.fetch(server_.Url("/p")));
  EXPECT_EQ(f_.status(), 503);
  EXPECT_EQ(server_.RequestCount(), 3u);
  EXPECT_EQ(RecordedPauses(), (std::vector<uint32_t>{2000, 2000}));
}

TEST_F(DriverTest, Busy503ThenSuccessEndsTheRetries) {
  server_.AddResponse("/p", HttpFixtureServer::Response(503, "Service Unavailable", "busy"));
  server_.AddResponse("/p", Ok("fine"));
  f_.settings.max503Retries = 5;
  f_.settings.retryDelayMs = 0;
  EXPECT_TRUE(f_.fetch(server_.Url("/p")));
  EXPECT_EQ(f_.bodyText(), "fine");
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_TRUE(RecordedPauses().empty());
}

TEST_F(DriverTest, TooManyRequestsWaitsWhatRetryAfterAsksUpToTwoMinutes) {
  // A date is read against the clock: one long past asks for no pause, one far ahead for the
  // longest; a value that is neither seconds nor a date leaves the default pause.
  const struct {
    const char* retryAfter;
    std::vector<uint32_t> pauses;
  } cases[] = {{"1", {1000}},
               {"86400", {kMaxRetryAfterMs}},
               {"Wed, 21 Oct 2015 07:28:00 GMT", {}},
               {"Fri, 31 Dec 9998 23:59:59 GMT", {kMaxRetryAfterMs}},
               {"soon", {2000}}};
  for (const auto& c : cases) {
    HttpFixtureServer server;
    server.AddResponse("/p", HttpFixtureServer::Response(429, "Too Many Requests", "slow down",
                                                         std::string("Retry-After: ") +
                                                             c.retryAfter + "\r\n"));
    server.AddResponse("/p", Ok("fine"));
    RecordedPauses().clear();
    f_.settings.max503Retries = 3;
    f_.settings.retryDelayMs = 2000;
    EXPECT_TRUE(f_.fetch(server.Url("/p")));
    EXPECT_EQ(f_.bodyText(), "fine");
    EXPECT_EQ(RecordedPauses(), c.pauses) << c.retryAfter;
  }
}

TEST_F(DriverTest, Busy503WithoutRetriesIsReturnedAtOnce) {
  server_.AddResponse("/p", HttpFixtureServer::Response(503, "Service Unavailable", "busy"));
  EXPECT_TRUE(f_.fetch(server_.Url("/p")));
  EXPECT_EQ(server_.RequestCount(), 1u);
}

// ---- Servers that misbehave: each fetch ends within its time-outs, with bounded memory

TEST_F(DriverTest, TrickledEndlessHeadFailsAtTheHeadLimit) {
  server_.AddHandler("/p", [this](int fd, const HttpFixtureServer::Request&) {
    std::string pad = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 2000; ++i) pad += "X-Pad: " + std::string(60, 'a') + "\r\n";
    server_.Trickle(fd, pad, 1000, 1);
    return After::kClose;
  });
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
  std::string log = f_.logText();
  EXPECT_NE(log.find("Response header too large."), std::string::npos);
  EXPECT_NE(log.find("Failed to get response header"), std::string::npos);
}

TEST_F(DriverTest, EndlessBodyWithoutLengthStopsAtMaxContentLength) {
  server_.AddHandler("/p", [this](int fd, const HttpFixtureServer::Request&) {
    if (!HttpFixtureServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")) {
      return After::kClose;
    }
    const std::string block(65536, 'z');
    while (!server_.stopping() && HttpFixtureServer::SendAll(fd, block)) {
    }
    return After::kClose;
  });
  f_.settings.maxContentLength = 1000000;
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
  EXPECT_NE(f_.logText().find("Content length more than the maximum allowed"),
            std::string::npos);
  EXPECT_LE(f_.body.length(), 1000000u + 65536u);
}

TEST_F(DriverTest, CloseInTheMiddleOfAChunkFails) {
  server_.AddResponse("/p",
                      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc");
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
  std::string log = f_.logText();
  EXPECT_NE(log.find("Failed to get response data (b)"), std::string::npos);
  EXPECT_NE(log.find("Failed to fetch response data on non-SSL connection."), std::string::npos);
}

TEST_F(DriverTest, ServerThatNeverAnswersTimesOut) {
  server_.AddHandler("/p", [this](int, const HttpFixtureServer::Request&) {
    server_.SleepUnlessStopping(30000);
    return After::kClose;
  });
  ShortTimeouts quick(1000, 200);
  EXPECT_FALSE(f_.fetch(server_.Url("/p")));
  std::string log = f_.logText();
  EXPECT_NE(log.find("Failed to get response header"), std::string::npos);
  EXPECT_EQ(log.find("aborted"), std::string::npos);
  server_.Stop();
}

TEST_F(DriverTest, RefusedPortFailsToConnect) {
  const int port = testing::FreeLoopbackPort();
  EXPECT_FALSE(f_.fetch("http://127.0.0.1:" + std::to_string(port) + "/"));
  EXPECT_NE(f_.logText().find("Failed to connect to HTTP server."), std::string::npos);
}

TEST_F(DriverTest, UnresolvableHostFailsWithTheLookupLine) {
  FakeResolver::Instance().Install();
  EXPECT_FALSE(f_.fetch("http://nowhere.test/"));
  FakeResolver::Instance().Uninstall();
  std::string log = f_.logText();
  EXPECT_NE(log.find("Failed to connect to HTTP server."), std::string::npos);
  EXPECT_NE(log.find("Domain name lookup failed.."), std::string::npos);
}

// Asks to abort once the server has the request, so the abort meets a waiting read.
class AbortingEvent : public ProgressEvent {
 public:
  explicit AbortingEvent(const HttpFixtureServer& server) : server_(server) {}
  void AbortCheck(bool& abort) override { abort = server_.RequestCount() > 0; }
  void IntervalTick(int, bool& abort) override { abort = server_.RequestCount() > 0; }

 private:
  const HttpFixtureServer& server_;
};

TEST_F(DriverTest, AbortFromTheCallbackEndsAWaitingRequest) {
  server_.AddHandler("/p", [this](int, const HttpFixtureServer::Request&) {
    server_.SleepUnlessStopping(30000);
    return After::kClose;
  });
  ShortTimeouts slow(1000, 20000);
  AbortingEvent event(server_);
  ProgressMonitor monitor(&event, 0);
  f_.settings.abortCheckMs = 50;
  EXPECT_FALSE(f_.fetch(server_.Url("/p"), &monitor));
  EXPECT_TRUE(monitor.isAborted());
  EXPECT_NE(f_.logText().find("Application aborted HTTP operation..."), std::string::npos);
  server_.Stop();
}

}  // namespace
}  // namespace quillon
