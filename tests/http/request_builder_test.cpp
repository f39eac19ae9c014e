#include "http/request_builder.h"

#include <gtest/gtest.h>

#include <string>

#include "base/logger.h"
#include "http/date_parser.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "http/parse_url.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

constexpr const char* kExampleUrl = "http://MyHost/a/b.html?x=1#top";

// Parses url as the driver does (empty path sent as "/") and composes the head.
class Composer {
 public:
  explicit Composer(const char* url) : url_(url) {
    EXPECT_TRUE(ParseUrl(url, parsed_));
    if (parsed_.path.isEmpty()) parsed_.path.assign("/");
    parts.url = url_.c_str();
    parts.host = parsed_.host.getString();
    parts.port = parsed_.port;
    parts.path = parsed_.path.getString();
    parts.query = parsed_.query.getString();
  }

  std::string compose() {
    StringBuffer head;
    ok = ComposeRequest(settings, parts, result, head, log);
    return std::string(head.view());
  }
  std::string logText() { return testing::LogText(log); }

  HttpControl settings;
  RequestParts parts;
  HttpResult result;
  Logger log;
  bool ok = false;

 private:
  std::string url_;
  ParsedUrl parsed_;
};

TEST(RequestBuilderTest, GenericTemplateWorkedExample) {
  Composer c(kExampleUrl);
  EXPECT_EQ(c.compose(),
            "GET /a/b.html?x=1 HTTP/1.1\r\n"
            "Accept: */*\r\n"
            "Accept-Encoding: gzip\r\n"
            "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"
            "Accept-Language: en-us,en;q=0.5\r\n"
            "User-Agent: " +
                std::string(HttpControl::kDefaultUserAgent) +
                "\r\n"
                "Host: myhost\r\n"
                "Connection: Keep-Alive\r\n"
                "\r\n");
  EXPECT_TRUE(c.ok);
  EXPECT_NE(c.logText().find("Not auto-adding cookies."), std::string::npos);
}

TEST(RequestBuilderTest, FirefoxTemplateWorkedExample) {
  Composer c(kExampleUrl);
  c.settings.setFirefoxTemplate(true);
  EXPECT_EQ(c.compose(),
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

TEST(RequestBuilderTest, IeTemplate) {
  Composer c(kExampleUrl);
  c.settings.setIeTemplate(true);
  c.settings.referer.assign("http://ref/");
  EXPECT_EQ(c.compose(),
            "GET /a/b.html?x=1 HTTP/1.1\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
            "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, "
            "*/*\r\n"
            "Referer: http://ref/\r\n"
            "Accept-Language: en-us,en;q=0.5\r\n"
            "Accept-Encoding: gzip\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
            "1.0.3705; .NET CLR 1.1.4322)\r\n"
            "Connection: Keep-Alive\r\n"
            "Host: myhost\r\n"
            "\r\n");
}

TEST(RequestBuilderTest, BrowserTemplatesFallBackWhenLanguageOrCharsetIsEmpty) {
  Composer ie(kExampleUrl);
  ie.settings.setIeTemplate(true);
  ie.settings.acceptLanguage.clear();
  EXPECT_NE(ie.compose().find("\r\nAccept-Language: en-us\r\n"), std::string::npos);

  Composer fx(kExampleUrl);
  fx.settings.setFirefoxTemplate(true);
  fx.settings.acceptLanguage.clear();
  fx.settings.acceptCharset.clear();
  std::string head = fx.compose();
  EXPECT_NE(head.find("\r\nAccept-Language: en-us,en;q=0.5\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nAccept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"),
            std::string::npos);
}

TEST(RequestBuilderTest, FirefoxChoiceClearsIeButIeSetLaterWins) {
  HttpControl settings;
  settings.setIeTemplate(true);
  settings.setFirefoxTemplate(true);
  EXPECT_FALSE(settings.ieTemplate());
  settings.setIeTemplate(true);
  EXPECT_TRUE(settings.ieTemplate() && settings.firefoxTemplate());

  Composer c(kExampleUrl);
  c.settings.setFirefoxTemplate(true);
  c.settings.setIeTemplate(true);
  EXPECT_NE(c.compose().find("MSIE 6.0"), std::string::npos);
}

TEST(RequestBuilderTest, ResultGetsVerbAndHeadWithoutFinalBlankLine) {
  Composer c(kExampleUrl);
  std::string head = c.compose();
  EXPECT_EQ(c.result.verb.view(), "GET");
  EXPECT_EQ(std::string(c.result.lastRequest.view()) + "\r\n", head);

  Composer post(kExampleUrl);
  post.settings.verb.assign("HEAD");
  EXPECT_EQ(post.compose().substr(0, 23), "HEAD /a/b.html?x=1 HTTP");
  EXPECT_EQ(post.result.verb.view(), "HEAD");
}

TEST(RequestBuilderTest, FragmentIsNeverSentDirect) {
  Composer c("http://h/p#frag");
  EXPECT_EQ(c.compose().substr(0, 17), "GET /p HTTP/1.1\r\n");
}

TEST(RequestBuilderTest, ProxyGetsTheFullUrlAsGivenFragmentIncluded) {
  for (bool firefox : {false, true}) {
    Composer c(kExampleUrl);
    c.settings.setFirefoxTemplate(firefox);
    c.parts.viaProxy = true;
    std::string head = c.compose();
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET http://MyHost/a/b.html?x=1#top HTTP/1.1");
  }
}

TEST(RequestBuilderTest, EmptyPathIsSentAsSlash) {
  Composer c("http://h:8080");
  EXPECT_EQ(c.compose().substr(0, 16), "GET / HTTP/1.1\r\n");
}

TEST(RequestBuilderTest, HostLineCarriesPortOnlyOffTheSchemesDefault) {
  const struct {
    const char* url;
    const char* hostLine;
  } cases[] = {
      {"http://h/", "Host: h\r\n"},          {"http://h:80/", "Host: h\r\n"},
      {"https://h/", "Host: h\r\n"},         {"https://h:443/", "Host: h\r\n"},
      {"http://h:8080/", "Host: h:8080\r\n"}, {"https://h:8443/", "Host: h:8443\r\n"},
      {"http://h:443/", "Host: h:443\r\n"},   {"https://h:80/", "Host: h:80\r\n"},
  };
  for (const auto& tc : cases) {
    for (int form = 0; form < 3; ++form) {
      Composer c(tc.url);
      if (form == 1) c.settings.setIeTemplate(true);
      if (form == 2) c.settings.setFirefoxTemplate(true);
      EXPECT_NE(c.compose().find(std::string("\r\n") + tc.hostLine), std::string::npos)
          << tc.url << " template " << form;
    }
  }
}

TEST(RequestBuilderTest, GenericHostIsLowerCasedAndCanBeLeftOut) {
  Composer c("http://h/");
  c.parts.host = "MiXeD";
  EXPECT_NE(c.compose().find("\r\nHost: mixed\r\n"), std::string::npos);
  Composer none("http://h/");
  none.settings.sendHost = false;
  EXPECT_EQ(none.compose().find("Host:"), std::string::npos);
}

TEST(RequestBuilderTest, RangeLineInEveryTemplate) {
  for (int form = 0; form < 3; ++form) {
    Composer c(kExampleUrl);
    if (form == 1) c.settings.setIeTemplate(true);
    if (form == 2) c.settings.setFirefoxTemplate(true);
    c.settings.rangeStart = 1000;
    EXPECT_NE(c.compose().find("\r\nRange: bytes=1000-\r\n"), std::string::npos) << form;
  }
  Composer big(kExampleUrl);
  big.settings.rangeStart = 5000000000ULL;
  EXPECT_NE(big.compose().find("\r\nRange: bytes=5000000000-\r\n"), std::string::npos);
}

TEST(RequestBuilderTest, GenericTemplateOrderWithEveryLineSet) {
  Composer c(kExampleUrl);
  c.settings.extraHeaders.setField("X-Extra", "1");
  c.settings.rangeStart = 7;
  c.settings.ntlmAuthorization.assign("TlRMTVNTUAAB");
  c.settings.referer.assign("http://ref/");
  c.settings.login.assign("joe");
  c.settings.password.assign("secret");
  c.settings.proxyLogin.assign("p");
  c.settings.proxyPassword.assign("q");
  c.parts.conditional = true;
  c.parts.etag = "\"abc\"";
  EXPECT_EQ(c.compose(),
            "GET /a/b.html?x=1 HTTP/1.1\r\n"
            "If-None-Match: \"abc\"\r\n"
            "X-Extra: 1\r\n"
            "Range: bytes=7-\r\n"
            "Accept: */*\r\n"
            "Authorization: NTLM TlRMTVNTUAAB\r\n"
            "Accept-Encoding: gzip\r\n"
            "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"
            "Accept-Language: en-us,en;q=0.5\r\n"
            "Referer: http://ref/\r\n"
            "User-Agent: " +
                std::string(HttpControl::kDefaultUserAgent) +
                "\r\n"
                "Authorization: Basic am9lOnNlY3JldA==\r\n"
                "Proxy-Authorization: Basic cDpx\r\n"
                "Host: myhost\r\n"
                "Connection: Keep-Alive\r\n"
                "\r\n");
}

TEST(RequestBuilderTest, EmptyGenericValuesLeaveTheirLinesOut) {
  Composer c(kExampleUrl);
  c.settings.accept.clear();
  c.settings.acceptCharset.clear();
  c.settings.acceptLanguage.clear();
  c.settings.userAgent.clear();
  c.settings.connection.clear();
  c.settings.acceptGzip = false;
  EXPECT_EQ(c.compose(),
            "GET /a/b.html?x=1 HTTP/1.1\r\n"
            "Accept-Encoding: \r\n"
            "Host: myhost\r\n"
            "\r\n");
}

TEST(RequestBuilderTest, ConditionalDateWhenThereIsNoEtagIsSentInGmt) {
  Composer c(kExampleUrl);
  c.parts.conditional = true;
  c.parts.etag = "";
  c.parts.conditionalDate.year = 2024;
  c.parts.conditionalDate.month = 3;
  c.parts.conditionalDate.day = 9;
  c.parts.conditionalDate.hour = 8;
  EXPECT_NE(c.compose().find("HTTP/1.1\r\nIf-Modified-Since: Sat, 09 Mar 2024 08:00:00 GMT\r\n"),
            std::string::npos);
}

TEST(RequestBuilderTest, NoConditionalLinesWithoutTheFlagOrAValue) {
  Composer off(kExampleUrl);
  off.parts.etag = "\"abc\"";
  off.parts.conditionalDate.year = 2024;
  EXPECT_EQ(off.compose().find("If-"), std::string::npos);

  Composer empty(kExampleUrl);
  empty.parts.conditional = true;
  EXPECT_EQ(empty.compose().find("If-"), std::string::npos);

  Composer browser(kExampleUrl);
  browser.settings.setFirefoxTemplate(true);
  browser.parts.conditional = true;
  browser.parts.etag = "\"abc\"";
  EXPECT_EQ(browser.compose().find("If-"), std::string::npos);
}

TEST(RequestBuilderTest, ExtraAcceptEncodingSuppressesOnlyTheGenericLine) {
  Composer generic(kExampleUrl);
  generic.settings.extraHeaders.setField("accept-ENCODING", "br");
  std::string head = generic.compose();
  EXPECT_NE(head.find("\r\naccept-ENCODING: br\r\n"), std::string::npos);
  EXPECT_EQ(head.find("Accept-Encoding: gzip"), std::string::npos);

  for (int form = 1; form < 3; ++form) {
    Composer c(kExampleUrl);
    if (form == 1) c.settings.setIeTemplate(true);
    if (form == 2) c.settings.setFirefoxTemplate(true);
    c.settings.extraHeaders.setField("Accept-Encoding", "br");
    EXPECT_NE(c.compose().find("Accept-Encoding: gzip\r\n"), std::string::npos) << form;
  }
}

TEST(RequestBuilderTest, ExtraHeadersAreFoldedAndEncodedInTheGenericTemplate) {
  Composer c(kExampleUrl);
  c.settings.extraHeaders.setField("X-List", "alpha=1; beta=2; gamma=3");
  c.settings.extraHeaders.setField("X-Name", "Gr\xC3\xBC\xC3\x9F" "e");
  std::string head = c.compose();
  EXPECT_NE(head.find("HTTP/1.1\r\nX-List: alpha=1; beta=2;\r\n\t gamma=3\r\n"
                      "X-Name: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=\r\nAccept: */*\r\n"),
            std::string::npos)
      << head;
}

TEST(RequestBuilderTest, BasicLinesNeedBothHalvesAndNtlmOff) {
  Composer onlyLogin(kExampleUrl);
  onlyLogin.settings.login.assign("joe");
  EXPECT_EQ(onlyLogin.compose().find("Authorization"), std::string::npos);

  Composer ntlm(kExampleUrl);
  ntlm.settings.login.assign("joe");
  ntlm.settings.password.assign("secret");
  ntlm.settings.ntlmEnabled = true;
  EXPECT_EQ(ntlm.compose().find("Authorization: Basic"), std::string::npos);

  Composer proxyUnderNtlm(kExampleUrl);
  proxyUnderNtlm.settings.ntlmEnabled = true;
  proxyUnderNtlm.settings.proxyLogin.assign("p");
  proxyUnderNtlm.settings.proxyPassword.assign("q");
  EXPECT_NE(proxyUnderNtlm.compose().find("\r\nProxy-Authorization: Basic cDpx\r\n"),
            std::string::npos);
}

TEST(RequestBuilderTest, BasicLinesAreLoggedWithTheLogin) {
  HttpControl settings;
  settings.login.assign("joe");
  settings.password.assign("secret");
  settings.proxyLogin.assign("pl");
  settings.proxyPassword.assign("pp");
  StringBuffer head;
  Logger log;
  ASSERT_TRUE(AddBasicAuthHeaders(settings, head, log));
  EXPECT_EQ(head.view(),
            "Authorization: Basic am9lOnNlY3JldA==\r\nProxy-Authorization: Basic cGw6cHA=\r\n");
  const std::string text = testing::LogText(log);
  for (const char* line : {"Adding Basic Authentication Header", "login: joe",
                           "Adding Basic Proxy Authentication Header", "login: pl"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST(RequestBuilderTest, BrowserTemplatesCarryBasicAndNtlmLines) {
  for (int form = 1; form < 3; ++form) {
    Composer c(kExampleUrl);
    if (form == 1) c.settings.setIeTemplate(true);
    if (form == 2) c.settings.setFirefoxTemplate(true);
    c.settings.login.assign("joe");
    c.settings.password.assign("secret");
    c.settings.ntlmAuthorization.assign("TOKEN");
    std::string head = c.compose();
    EXPECT_NE(head.find("\r\nAuthorization: Basic am9lOnNlY3JldA==\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nAuthorization: NTLM TOKEN\r\n"), std::string::npos);
  }
}

TEST(RequestBuilderTest, TargetHoldingCrOrLfIsNeverComposed) {
  for (const char* path : {"/a\r\nX-Injected: 1", "/a\nb", "/a\rb"}) {
    Composer c("http://h/");
    c.parts.path = path;
    EXPECT_TRUE(c.compose().empty()) << path;
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.logText().find("The request target holds a CR or LF character."),
              std::string::npos);
  }
  Composer query("http://h/");
  query.parts.query = "x=1\r\n";
  EXPECT_TRUE(query.compose().empty());
  Composer proxied("http://h/a\r\nb");
  proxied.parts.viaProxy = true;
  EXPECT_TRUE(proxied.compose().empty());
}

TEST(RequestBuilderTest, HeaderValuesHoldingCrOrLfAreRefused) {
  Composer referer(kExampleUrl);
  referer.settings.referer.assign("http://r/\r\nX-Injected: 1");
  EXPECT_TRUE(referer.compose().empty());
  EXPECT_NE(referer.logText().find("Header field holds a CR or LF character."), std::string::npos);

  Composer host(kExampleUrl);
  host.parts.host = "h\r\nX-Injected: 1";
  EXPECT_TRUE(host.compose().empty());

  Composer extra(kExampleUrl);
  extra.settings.extraHeaders.setField("X-A", "1\r\nX-Injected: 1");
  EXPECT_TRUE(extra.compose().empty());
}

TEST(HttpControlTest, Defaults) {
  HttpControl s;
  EXPECT_FALSE(s.useSystemProxy);
  EXPECT_EQ(s.proxyPort, 80);
  EXPECT_EQ(s.retryDelayMs, 2000u);
  EXPECT_EQ(s.accept.view(), "*/*");
  EXPECT_EQ(s.connection.view(), "Keep-Alive");
  EXPECT_EQ(s.acceptCharset.view(), "ISO-8859-1,utf-8;q=0.7,*;q=0.7");
  EXPECT_EQ(s.acceptLanguage.view(), "en-us,en;q=0.5");
  EXPECT_TRUE(s.userAgent.beginsWith("Quillon/1.0.0 (+http"));
  EXPECT_TRUE(s.userAgent.endsWith(")"));
  EXPECT_EQ(s.tlsProtocol.view(), "default");
  EXPECT_EQ(s.maxUrlLen, 2000u);
  EXPECT_EQ(s.connectTimeoutSec, 10u);
  EXPECT_EQ(s.readTimeout, 20u);
  EXPECT_TRUE(s.followRedirects && s.acceptGzip && s.sendHost);
  EXPECT_TRUE(s.autoAddCookies && s.autoSaveCookies);
  EXPECT_EQ(s.memoryCookies.bucketCount(), 400u);
  EXPECT_TRUE(s.cacheRules.skipFailedDomains && s.cacheRules.writeToCache &&
              s.cacheRules.readFromCache);
  EXPECT_EQ(s.cacheRules.defaultFreshnessMinutes, 10080u);
  EXPECT_EQ(s.cacheRules.lastModifiedPercent, 25u);
}

}  // namespace
}  // namespace quillon
