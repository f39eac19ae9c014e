#include "http/cookie.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/http_response_header.h"

namespace quillon {
namespace {

// The cookies of a head made of the given field lines.
std::vector<const Cookie*> Parse(OwningPtrArray& owner, const std::string& fields,
                                 const char* defaultDomain = ".acme.test") {
  HttpResponseHeader header;
  EXPECT_TRUE(header.parse("HTTP/1.1 200 OK\r\n" + fields + "\r\n"));
  EXPECT_TRUE(ParseSetCookies(header, defaultDomain, owner));
  std::vector<const Cookie*> cookies;
  for (int i = 0; i < owner.count(); ++i) cookies.push_back(owner.at<Cookie>(i));
  return cookies;
}

std::string Pairs(const Cookie& cookie) {
  std::string text;
  for (int i = 0; i < cookie.pairCount(); ++i) {
    text += std::string(i ? "," : "") + cookie.pairAt(i)->firstText() + "=" +
            cookie.pairAt(i)->secondText();
  }
  return text;
}

TEST(ParseSetCookiesTest, AttributesPairsAndVersions) {
  OwningPtrArray owner;
  auto cookies = Parse(owner,
                       "Set-Cookie: a=1; b=2; path=/x\r\n"
                       "Set-Cookie2: s=\"x;y\"; Domain=.other.test; Secure; discard; Max-Age=60; "
                       "Expires=Wed, 09 Jun 2021 10:18:14 GMT; port=80; comment=c\r\n"
                       "Set-Cookie: v=1; version=1; flag; version=7\r\n"
                       "Set-Cookie-Other: ignored=1\r\n"
                       "Set-Cookie: A=first; a=second\r\n");
  ASSERT_EQ(cookies.size(), 4u);
  EXPECT_EQ(Pairs(*cookies[0]), "a=1,b=2");
  EXPECT_EQ(cookies[0]->path.view(), "/x");
  EXPECT_EQ(cookies[0]->domain.view(), ".acme.test");
  EXPECT_EQ(cookies[0]->version, 0);

  const Cookie& second = *cookies[1];
  EXPECT_EQ(Pairs(second), "s=\"x;y\"");
  EXPECT_EQ(second.domain.view(), ".other.test");
  EXPECT_TRUE(second.secure);
  EXPECT_TRUE(second.discard);
  EXPECT_EQ(second.maxAge, 60);
  EXPECT_EQ(second.version, 1);
  EXPECT_EQ(second.expire.view(), "Wed, 09 Jun 2021 10:18:14 GMT");

  EXPECT_EQ(Pairs(*cookies[2]), "v=1,flag=");
  EXPECT_EQ(cookies[2]->version, 1);
  // A name set twice (any case) keeps its first place and takes the later value.
  EXPECT_EQ(Pairs(*cookies[3]), "A=second");
}

TEST(ParseSetCookiesTest, NoDomainAndNoDefaultDropsTheCookie) {
  OwningPtrArray owner;
  EXPECT_TRUE(Parse(owner, "Set-Cookie: a=1\r\n", "").empty());
}

TEST(ParseSetCookiesTest, AMegabyteOfNamesKeepsTheFirstPairsOnly) {
  std::string flood = "Set-Cookie: ";
  for (int i = 0; flood.size() < 1000000; ++i) flood += "n" + std::to_string(i) + "=v; ";
  OwningPtrArray owner;
  auto cookies = Parse(owner, flood + "\r\n");
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0]->pairCount(), Cookie::kMaxPairs);
}

TEST(CookieHeaderTest, MatchingQuotingAndTheFirstOfEqualNames) {
  OwningPtrArray owner;
  Parse(owner,
        "Set-Cookie: a=1; b=2; path=/x\r\n"
        "Set-Cookie: sp=a b; domain=shop.acme.test\r\n"
        "Set-Cookie: a=later; s=secret; secure\r\n");
  CookieJar jar;
  while (owner.count() > 0) jar.add(static_cast<Cookie*>(owner.removeAt(0)));
  const struct {
    const char* host;
    const char* path;
    bool https;
    const char* line;
  } cases[] = {
      {"news.acme.test", "/x/page", false, "a=1; b=2"},
      {"acme.test", "/", true, "a=later; s=secret"},
      {"shop.acme.test", "/xy", true, "a=1; b=2; sp=\"a b\"; s=secret"},
      {"SHOP.acme.test", "/", false, "sp=\"a b\""},
      {"other.test", "/x", true, ""},
  };
  for (const auto& c : cases) {
    StringBuffer line;
    ASSERT_TRUE(BuildCookieHeader(jar, c.host, c.path, c.https, line));
    EXPECT_EQ(line.view(), c.line) << c.host << c.path;
  }
}

TEST(CookieMatchesTest, AnAddressMatchesOnlyItselfAndANameOnlyBelowItsDomain) {
  const struct {
    const char* domain;
    const char* host;
    bool matches;
  } cases[] = {
      {".127.0.0.1", "127.0.0.1", true},
      {".127.5.0.1", "127.0.0.1", false},
      {".127.0.0.1", "127.5.0.1", false},
      {".0.0.1", "127.0.0.1", false},
      {"0.1", "10.1.0.1", false},
      {".[::1]", "[::1]", true},
      {"acme.test", "shop.acme.test", true},
      {"acme.test", "myacme.test", false},
  };
  for (const auto& c : cases) {
    Cookie cookie;
    cookie.domain.assign(c.domain);
    EXPECT_EQ(CookieMatches(cookie, c.host, "/"), c.matches) << c.domain << " " << c.host;
  }
}

TEST(CookieDomainCoversHostTest, OnlyTheHostAndItsParentsUpToTheRegistrableDomain) {
  const struct {
    const char* domain;
    const char* host;
    bool covers;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"127.5.0.1", "127.0.0.1", false},
      {".0.0.1", "127.0.0.1", false},
      {"::1", "::1", true},
      {".example.com", "www.example.com", true},
      {"EXAMPLE.com", "www.example.com", true},
      {"www.example.com", "www.example.com", true},
      {"shop.example.com", "www.example.com", false},
      {"ample.com", "www.example.com", false},
      {"com", "www.example.com", false},
      {"example.co.uk", "www.example.co.uk", true},
      {"co.uk", "www.example.co.uk", false},
      {"herokuapp.com", "alice.herokuapp.com", false},
      {"bob.herokuapp.com", "alice.herokuapp.com", false},
      {"localhost", "localhost", true},
      {".", "localhost", false},
      {"other.test", "www.example.com", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CookieDomainCoversHost(c.domain, c.host), c.covers) << c.domain << " " << c.host;
  }
}

TEST(CookieDocumentNameTest, OneDocumentPerBaseDomain) {
  const struct {
    const char* host;
    const char* name;
  } cases[] = {
      {"shop.acme.test", "acme_test.xml"},
      {".acme.test", "acme_test.xml"},
      {"www.example.co.uk", "example_co_uk.xml"},
      {"localhost", "localhost.xml"},
      {"127.0.0.1", "127_0_0_1.xml"},
      {"127.5.0.1", "127_5_0_1.xml"},
      {"alice.herokuapp.com", "alice_herokuapp_com.xml"},
  };
  for (const auto& c : cases) {
    StringBuffer name;
    ASSERT_TRUE(CookieDocumentName(c.host, name)) << c.host;
    EXPECT_EQ(name.view(), c.name);
  }
}

}  // namespace
}  // namespace quillon
