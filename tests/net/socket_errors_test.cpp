#include "net/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "base/logger.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

using testing::LogText;

TEST(SocketErrorsTest, ErrnoValuesMapToWinsockNumbers) {
  struct Case {
    int errnoValue;
    int winsock;
  } cases[] = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},   {ECONNRESET, 10054},   {EWOULDBLOCK, 10035},
      {EAGAIN, 10035},       {EINPROGRESS, 10035}, {EINVAL, 10022},       {EACCES, 10013},
      {EMFILE, 10024},       {ENETUNREACH, 10051}, {ENETDOWN, 10050},     {EADDRINUSE, 10048},
      {EAFNOSUPPORT, 10047}, {ENOBUFS, 10055},     {ECONNABORTED, 10053}, {EHOSTUNREACH, 10065},
      {EPIPE, 10054},        {ENOTCONN, 10057},    {0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WinsockErrorFromErrno(c.errnoValue), c.winsock) << "errno " << c.errnoValue;
  }
}

TEST(SocketErrorsTest, UnmappedErrnoPassesThrough) {
  EXPECT_EQ(WinsockErrorFromErrno(ENOENT), ENOENT);
}

TEST(SocketErrorsTest, ListedCodeIsLoggedAsSocketErrorData) {
  Logger log;
  LogSocketError(10061, log);
  std::string text = LogText(log);
  EXPECT_NE(text.find("SocketError: WSAECONNREFUSED No connection could be made because the "
                      "target machine actively refused it."),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("firewall"), std::string::npos);
}

TEST(SocketErrorsTest, UnlistedCodeIsLoggedInHexWithTheFirewallHint) {
  Logger log;
  LogSocketError(10065, log);
  std::string text = LogText(log);
  EXPECT_NE(text.find("SocketError: Error 2751"), std::string::npos) << text;
  EXPECT_NE(text.find("Check to make sure the connection is not blocked by a firewall or "
                      "anti-virus port filtering."),
            std::string::npos)
      << text;
}

TEST(SocketErrorsTest, EveryListedCodeHasItsWinsockName) {
  struct Case {
    int code;
    const char* prefix;
  } cases[] = {
      {10013, "WSAEACCES "},         {10022, "WSAEINVAL "},          {10024, "WSAEMFILE "},
      {10035, "WSAEWOULDBLOCK "},    {10036, "WSAEINPROGRESS "},     {10041, "WSAEPROTOTYPE "},
      {10043, "WSAEPROTONOSUPPORT "}, {10044, "WSAESOCKTNOSUPPORT "}, {10047, "WSAEAFNOSUPPORT "},
      {10048, "WSAEADDRINUSE "},     {10050, "WSAENETDOWN "},        {10051, "WSAENETUNREACH "},
      {10053, "WSAECONNABORTED "},   {10054, "WSAECONNRESET "},      {10055, "WSAENOBUFS "},
      {10060, "WSAETIMEDOUT "},      {10061, "WSAECONNREFUSED "},    {10093, "WSANOTINITIALISED "},
      {10106, "WSAEPROVIDERFAILEDINIT "},
  };
  for (const Case& c : cases) {
    const char* text = WinsockErrorText(c.code);
    ASSERT_NE(text, nullptr) << c.code;
    EXPECT_EQ(std::string(text).rfind(c.prefix, 0), 0u) << c.code;
  }
  EXPECT_EQ(WinsockErrorText(10065), nullptr);
  EXPECT_EQ(WinsockErrorText(0), nullptr);
}

}  // namespace
}  // namespace quillon
