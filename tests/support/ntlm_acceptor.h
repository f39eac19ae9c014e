// A server's side of NTLMv2 for the tests, written from MS-NLMP apart from the library's own
// generator: it makes CHALLENGE messages and checks the NTLMv2 response of an AUTHENTICATE
// against one account. Its proof check is itself held to the protocol's published example
// (tests/net/ntlm_message_test.cpp). ASCII names only; no MIC, no LM response checks.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace quillon::testing {

struct NtlmAccount {
  std::string user;
  std::string domain;
  std::string password;
};

class NtlmAcceptor {
 public:
  // The timestamp the challenges carry (an arbitrary moment of 2024).
  static constexpr uint64_t kTimestamp = 0x01da4f5e0c8a1000;

  explicit NtlmAcceptor(NtlmAccount account) : account_(std::move(account)) {}

  // A CHALLENGE with a fresh server challenge, Unicode chosen, the NetBIOS domain and computer
  // names and, unless withTimestamp is false, kTimestamp.
  std::string Challenge(bool withTimestamp = true);
  // Whether authenticate answers the last Challenge() for the account with its password; when
  // not, why says what was wrong.
  bool Accepts(const std::string& authenticate, std::string& why) const;
  // The NTLMv2 check alone: the NTProofStr at the head of ntResponse is the HMAC of the server
  // challenge and the client blob after it, under the account's NTOWFv2.
  static bool ProvesPassword(const NtlmAccount& account, const uint8_t serverChallenge[8],
                             const std::string& ntResponse);

 private:
  NtlmAccount account_;
  uint8_t serverChallenge_[8] = {};
  std::string targetInfo_;
  bool withTimestamp_ = true;
};

}  // namespace quillon::testing
