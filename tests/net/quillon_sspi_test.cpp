// QuillonSSPI over the NTLM generator: the legs of an exchange against the tests' acceptor, the
// failures with their log lines, and default credentials taken from the environment.
#include "net/quillon_sspi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/logger.h"
#include "net/ntlm_message.h"
#include "tests/support/ntlm_acceptor.h"
#include "tests/support/test_support.h"

namespace quillon::testing {
namespace {

// The server's side: answers NEGOTIATE with the acceptor's challenge (or a hostile one) and
// judges the final token.
class AcceptorExchange : public PackageExchange {
 public:
  explicit AcceptorExchange(NtlmAccount account) : acceptor(std::move(account)) {}

  bool ExchangePackage(const DataBuffer& outgoing, DataBuffer& incoming, LogBase&) override {
    ++exchanges;
    if (outgoing.view().substr(0, 12) != std::string_view("NTLMSSP\0\1\0\0\0", 12)) return false;
    return !failExchange &&
           incoming.append(hostile.empty() ? acceptor.Challenge(timestamp) : hostile);
  }
  bool SendFinalResponse(const DataBuffer& outgoing, LogBase&) override {
    return acceptor.Accepts(std::string(outgoing.view()), why);
  }

  NtlmAcceptor acceptor;
  bool timestamp = true;
  bool failExchange = false;
  std::string hostile;
  int exchanges = 0;
  std::string why;
};

const NtlmAccount kAccount{"User", "Domain", "Password"};

TEST(QuillonSspiTest, GoodPasswordIsAcceptedAndAWrongOneRefused) {
  const struct {
    const char* password;
    bool timestamp;  // false: the blob's time comes from our clock
    bool accepted;
  } kCases[] = {{"Password", true, true}, {"Password", false, true}, {"password", true, false}};
  for (const auto& c : kCases) {
    AcceptorExchange exchange(kAccount);
    exchange.timestamp = c.timestamp;
    QuillonSSPI sspi;
    sspi.SetPackageExchange(&exchange);
    Logger log;
    EXPECT_EQ(sspi.authenticate(sspi.FindPackage("ntlm"), "Domain", "user", c.password, log),
              c.accepted)
        << c.password << ' ' << c.timestamp << ": " << exchange.why << '\n'
        << LogText(log);
    EXPECT_EQ(exchange.exchanges, 1);
  }
  EXPECT_EQ(QuillonSSPI().FindPackage("Kerberos"), -1);
}

TEST(QuillonSspiTest, FailuresSayWhy) {
  const std::string longName(kNtlmMaxNameBytes + 1, 'u');
  const struct {
    const char* name;
    int package;
    const char* user;
    bool noExchange;
    bool failExchange;
    std::string hostile;
    std::vector<const char*> lines;
  } kCases[] = {
      {"no partner",
       0,
       "User",
       true,
       false,
       "",
       {"QuillonSSPI.authenticate: no package exchange object"}},
      {"no such package",
       3,
       "User",
       false,
       false,
       "",
       {"Failed to acquire alternate credentials: package index out of range", "NumPackages: 1",
        "QuillonSSPI.authenticate: cannot acquire alternate credentials"}},
      {"name too long",
       0,
       longName.c_str(),
       false,
       false,
       "",
       {"NTLM user name, domain or password too long.", "Failed to acquire credentials handle",
        "status_code: SEC_E_UNKNOWN_CREDENTIALS"}},
      {"exchange fails", 0, "User", false, true, "", {"QuillonSSPI.authenticate: exchange failed"}},
      // A bad challenge ends the package with no token; the empty final leg is refused.
      {"truncated challenge", 0, "User", false, false, "NTLMSSP", {"NTLM challenge too short."}},
  };
  for (const auto& c : kCases) {
    AcceptorExchange exchange(kAccount);
    exchange.failExchange = c.failExchange;
    exchange.hostile = c.hostile;
    QuillonSSPI sspi;
    if (!c.noExchange) sspi.SetPackageExchange(&exchange);
    Logger log;
    EXPECT_FALSE(sspi.authenticate(c.package, "Domain", c.user, "Password", log)) << c.name;
    for (const char* line : c.lines) {
      EXPECT_NE(LogText(log).find(line), std::string::npos) << c.name << '\n' << LogText(log);
    }
  }

  // The package's own sequence: NEGOTIATE, then one answer, then nothing more.
  QuillonSSPI sspi;
  Logger log;
  DataBuffer token;
  bool done = false, authenticated = false;
  EXPECT_FALSE(sspi.prepareOutboundPackage(0, token, nullptr, done, authenticated, log));
  ASSERT_TRUE(sspi.AcquireCredentials(0, nullptr, "User", "Password", log));
  ASSERT_TRUE(sspi.prepareOutboundPackage(0, token, nullptr, done, authenticated, log));
  EXPECT_FALSE(done);
  NtlmAcceptor acceptor(kAccount);
  const std::string challenge = acceptor.Challenge();
  DataBuffer in(challenge.data(), challenge.size());
  ASSERT_TRUE(sspi.prepareOutboundPackage(0, token, &in, done, authenticated, log));
  EXPECT_TRUE(done && authenticated);
  EXPECT_FALSE(sspi.prepareOutboundPackage(0, token, &in, done, authenticated, log));
  const std::string text = LogText(log);
  for (const char* line : {"QuillonSSPI.prepareOutboundPackage: SEC_E_INVALID_HANDLE",
                           "statusCode: 0x80090310", "Finished and NOT authenticated"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << '\n' << text;
  }
}

TEST(QuillonSspiTest, DefaultCredentialsAreTheLoggedOnUsersFromTheUserFile) {
  const std::string userFile = FreshDir("ntlm-default") + "users";
  WriteFileBytes(userFile, "Other:tester:wrong\nno separators\nDomain:TESTER:Pass:word\r\n");
  const NtlmAccount account{"tester", "Domain", "Pass:word"};
  const struct {
    const char* userDomain;
    const char* file;
    const char* line;  // null: authenticated
  } kCases[] = {
      {"domain", userFile.c_str(), nullptr},
      {"Elsewhere", userFile.c_str(), "NTLM_USER_FILE has no line for the logged-on user."},
      {"Domain", nullptr, "NTLM_USER_FILE is not set"},
      {"Domain", "/no/such/users", "No such file or directory"},
  };
  for (const auto& c : kCases) {
    // This program's other tests give their credentials, so the variables may stay set.
    setenv("USER", "tester", 1);
    setenv("USERDOMAIN", c.userDomain, 1);
    c.file != nullptr ? setenv("NTLM_USER_FILE", c.file, 1) : unsetenv("NTLM_USER_FILE");
    AcceptorExchange exchange(account);
    QuillonSSPI sspi;
    sspi.SetPackageExchange(&exchange);
    Logger log;
    EXPECT_EQ(sspi.authenticate(0, nullptr, " Default ", "DEFAULT", log), c.line == nullptr)
        << c.userDomain << ": " << exchange.why << '\n'
        << LogText(log);
    const std::string text = LogText(log);
    EXPECT_NE(text.find("Using default NTLM credentials."), std::string::npos);
    if (c.line != nullptr) {
      for (const char* line : {c.line, "domain: NONE", "status_code: SEC_E_NO_CREDENTIALS"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << '\n' << text;
      }
    }
  }
}

}  // namespace
}  // namespace quillon::testing
