#include <gtest/gtest.h>

#include <string>

#include "base/html_help.h"
#include "base/memory.h"

namespace quillon {
namespace {

using namespace std::string_literals;

std::string Decode(std::string_view text) {
  DataBuffer out;
  out.append("stale");
  EXPECT_TRUE(HtmlHelp::UrlDecode(text, out));
  return std::string(out.view());
}

std::string Base(std::string_view host) {
  StringBuffer out("stale");
  EXPECT_TRUE(HtmlHelp::BaseDomain(host, out));
  return std::string(out.view());
}

TEST(UrlDecodeTest, DecodesPlusAndPercentEscapes) {
  struct Case {
    std::string text;
    std::string decoded;
  } cases[] = {
      {"a+b", "a b"},
      {"%41%42", "AB"},
      {"%2f%2F", "//"},
      {"%e9t%C3%A9", "\xE9t\xC3\xA9"},
      {"%00x", "\0x"s},
      {"%2B+%25", "+ %"},                // decoded bytes are not decoded again
      {"http://x/?u=%68ttp%3A//y", "http://x/?u=http://y"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.text), c.decoded) << c.text;
}

TEST(UrlDecodeTest, ShortEscapeAtTheEndEndsTheOutput) {
  EXPECT_EQ(Decode("abc%4"), "abc");
  EXPECT_EQ(Decode("abc%"), "abc");
  EXPECT_EQ(Decode("%41%4"), "A");
}

TEST(UrlDecodeTest, NonHexDigitsCountAsZero) {
  EXPECT_EQ(Decode("%4G"), "@");
  EXPECT_EQ(Decode("%G4"), "\x04");
  EXPECT_EQ(Decode("%zz!"), "\0!"s);
  EXPECT_EQ(Decode("%%41"), "\x04" "1");  // "%4" then "1"
}

TEST(UrlDecodeTest, OutOfMemoryIsAFalseResult) {
  DataBuffer out;
  std::string text(100000, 'a');
  SetAllocationFailureForTests(true);
  bool decoded = HtmlHelp::UrlDecode(text, out);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(decoded);
}

TEST(MatchesWildcardTest, StarStandsForAnyRun) {
  struct Case {
    const char* text;
    const char* pattern;
    bool caseSensitive;
    bool matches;
  } cases[] = {
      // Only stars, or nothing.
      {"anything at all", "*", true, true},
      {"x", "***", true, true},
      {"", "*", true, true},
      {"", "**", false, true},
      {"", "", true, true},
      {"", "a", true, false},
      {"", "*a", true, false},
      {"x", "", true, false},
      // No star: the whole text.
      {"abc", "abc", true, true},
      {"abc", "ABC", true, false},
      {"abc", "ABC", false, true},
      {"abcd", "abc", false, false},
      {"ab", "abc", false, false},
      // Leading, middle and final parts.
      {"http://site/cgi-bin/run.pl", "http://*/cgi-bin/*.pl", false, true},
      {"HTTP://SITE/CGI-BIN/RUN.PL", "http://*/cgi-bin/*.pl", false, true},
      {"HTTP://SITE/CGI-BIN/RUN.PL", "http://*/cgi-bin/*.pl", true, false},
      {"http://site/cgi-bin/run.plx", "http://*/cgi-bin/*.pl", false, false},
      {"http://site/run.pl", "http://*/cgi-bin/*.pl", false, false},
      {"prefix-only", "prefix*", true, true},
      {"prefix", "prefix*", true, true},
      {"pre", "prefix*", true, false},
      {"a.pdf", "*.pdf", true, true},
      {".pdf", "*.pdf", true, true},
      {"a.pdf.html", "*.pdf", true, false},
      {"a.pdf.html", "*.pdf*", true, true},
      {"ab", "a*b", true, true},
      {"a", "a*b", true, false},
      {"aXbYb", "a*b", true, true},
      {"x?id=1", "*?id=*", true, true},        // "?" is not special
      {"xyid=1", "*?id=*", true, false},
      {"abcabc", "*b*b*", true, true},
      {"abcac", "*b*b*", true, false},
      {"a**b", "a*\\**b", true, false},        // no escapes: "\\" is a plain byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HtmlHelp::MatchesWildcard(c.text, c.pattern, c.caseSensitive), c.matches)
        << "[" << c.text << "] [" << c.pattern << "] " << c.caseSensitive;
  }
}

TEST(MatchesWildcardTest, MiddlePartTakesItsFirstOccurrence) {
  // The first "b" is taken; the final part then has to end what is left after it.
  EXPECT_TRUE(HtmlHelp::MatchesWildcard("abXbc", "a*b*c", true));
  // The middle part is searched after the leading part, never inside it.
  EXPECT_FALSE(HtmlHelp::MatchesWildcard("abc", "ab*b*", true));
  // The final part must fit in what is left after the middle part.
  EXPECT_FALSE(HtmlHelp::MatchesWildcard("xabx", "x*ab*bx", true));
}

TEST(MatchesWildcardTest, MissingPatternMatchesOnlyEmptyText) {
  EXPECT_TRUE(HtmlHelp::MatchesWildcard("", nullptr, false));
  EXPECT_FALSE(HtmlHelp::MatchesWildcard("x", nullptr, false));
}

TEST(BaseDomainTest, RegistrableDomainByThePublicSuffixList) {
  struct Case {
    const char* host;
    const char* base;
  } cases[] = {
      {"www.example.com", "example.com"},
      {"a.b.c.example.org", "example.org"},
      {"www.shop.example.co.uk", "example.co.uk"},
      {"shop.acme.test", "acme.test"},
      {"WWW.Example.COM", "Example.COM"},  // looked up in any case, given back as written
      // Hosting services whose users each hold a registrable domain of their own.
      {"alice.herokuapp.com", "alice.herokuapp.com"},
      {"www.someone.blogspot.com", "someone.blogspot.com"},
      // A public suffix or a name without one stands alone.
      {"herokuapp.com", "herokuapp.com"},
      {"co.uk", "co.uk"},
      {"localhost", "localhost"},
      // An address is a domain of its own.
      {"127.0.0.1", "127.0.0.1"},
      {"127.5.0.1", "127.5.0.1"},
      {"192.168.0.1:8080", "192.168.0.1"},
      {"::1", "::1"},
      {"[::1]:8080", "[::1]"},
      {"fe80::1%eth0", "fe80::1%eth0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Base(c.host), c.base) << c.host;
}

TEST(BaseDomainTest, HostIsTrimmedAndCutBeforeItIsSplit) {
  struct Case {
    const char* host;
    const char* base;
  } cases[] = {
      {"  www.example.com  ", "example.com"},
      {"www.example.com:8080", "example.com"},
      {"www.example.com?x=1", "example.com"},
      {"www.example.com&x", "example.com"},
      {"www.example.com=1", "example.com"},
      {"www.example.com%20x", "example.com"},
      {"www.example.com x.org", "example.com"},
      {"\twww.example.com :80", "example.com"},
  };
  for (const auto& c : cases) EXPECT_EQ(Base(c.host), c.base) << c.host;
}

TEST(BaseDomainTest, StrayDotsAndEmptyHosts) {
  EXPECT_EQ(Base("localhost:8080"), "localhost");
  EXPECT_EQ(Base(".acme.test"), "acme.test");
  EXPECT_EQ(Base("www.example.com."), "example.com");
  EXPECT_EQ(Base("com."), "com.");
  EXPECT_EQ(Base(""), "");
  EXPECT_EQ(Base(":80"), "");
}

}  // namespace
}  // namespace quillon
