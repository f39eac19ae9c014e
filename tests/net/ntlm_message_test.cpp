// NTLM messages: the NTLMv2 example of MS-NLMP section 4.2.4 byte for byte, hostile CHALLENGE
// messages refused with a reason, and the AUTHENTICATE layout for a server that chose OEM text.
#include "net/ntlm_message.h"

#include <gtest/gtest.h>

#include <string>

#include "base/logger.h"
#include "tests/support/ntlm_acceptor.h"
#include "tests/support/test_support.h"

namespace quillon::testing {
namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) text += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
  return text;
}

std::string Bytes(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

const uint8_t* U8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// MS-NLMP 4.2.4: user "User", domain "Domain", password "Password", time 0, and the AV pairs
// MsvAvNbDomainName "Domain", MsvAvNbComputerName "Server", MsvAvEOL.
const std::string kServerChallenge = Bytes("0123456789abcdef");
const std::string kClientChallenge = Bytes("aaaaaaaaaaaaaaaa");
const std::string kTargetInfo = Bytes(
    "02000c0044006f006d00610069006e00"
    "01000c0053006500720076006500720000000000");
const std::string kClientBlob = Bytes(
                                    "0101000000000000"
                                    "0000000000000000"
                                    "aaaaaaaaaaaaaaaa"
                                    "00000000") +
                                kTargetInfo + Bytes("00000000");

TEST(NtlmMessageTest, MsNlmpNtlmV2ExampleByteForByte) {
  uint8_t key[16];
  ASSERT_TRUE(NtowfV2("Password", "User", "Domain", key));
  EXPECT_EQ(Hex(key, 16), "0c868a403bfd7a93a3001ef22ef02e3f");

  NtlmV2Response response;
  ASSERT_TRUE(ComputeNtlmV2Response(key, U8(kServerChallenge), U8(kClientChallenge), 0,
                                    DataBuffer(kTargetInfo.data(), kTargetInfo.size()), response));
  const std::string nt(response.ntResponse.view());
  EXPECT_EQ(Hex(U8(nt), 16), "68cd0ab851e51c96aabc927bebef6a1c");  // NTProofStr
  EXPECT_EQ(nt.substr(16), kClientBlob);
  EXPECT_EQ(Hex(response.sessionBaseKey, 16), "8de40ccadbc14a82f15cb0ad0de95ca3");
  EXPECT_EQ(Hex(response.lmResponse, 24), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");

  // The tests' acceptor holds to the same example: it takes the published response for the
  // password and refuses it for another.
  EXPECT_TRUE(
      NtlmAcceptor::ProvesPassword({"User", "Domain", "Password"}, U8(kServerChallenge), nt));
  EXPECT_FALSE(
      NtlmAcceptor::ProvesPassword({"User", "Domain", "password"}, U8(kServerChallenge), nt));
}

// The message with a little-endian number of `bytes` bytes written at `at`.
std::string With(std::string m, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) m[at + i] = static_cast<char>(value >> (8 * i));
  return m;
}

TEST(NtlmMessageTest, HostileChallengesAreRefusedWithTheirReason) {
  // The acceptor's challenge: target name "Domain" at 48, target info (48 bytes) at 60 with
  // the timestamp pair at 60 + 32.
  NtlmAcceptor acceptor({"User", "Domain", "Password"});
  const std::string good = acceptor.Challenge();
  ASSERT_EQ(good.size(), 108u);
  const struct {
    const char* name;
    std::string message;
    const char* error;  // null: read
  } kCases[] = {
      {"well formed", good, nullptr},
      {"64 KB", good + std::string(65536 - good.size(), '\0'), "NTLM challenge too large."},
      {"truncated to 20 bytes", good.substr(0, 20), "NTLM challenge too short."},
      {"cut inside the target info", good.substr(0, 80), "lies outside the message"},
      {"bad signature", "X" + good.substr(1), "Not an NTLM message."},
      {"type 3", With(good, 8, 3, 4), "is not a challenge"},
      {"target info past the end", With(good, 44, 5000, 4), "lies outside the message"},
      {"target info longer than the message", With(good, 40, 200, 2), "lies outside the message"},
      {"target info inside the header", With(good, 44, 8, 4), "lies outside the message"},
      {"offset that wraps", With(good, 44, 0xfffffff0, 4), "lies outside the message"},
      {"target name past the end", With(good, 16, 4000, 4), "lies outside the message"},
      {"AV pair longer than the target info", With(good, 62, 0x4000, 2), "runs past its end"},
      {"no end marker", With(good, 40, 44, 2), "ends without its end marker"},
      {"4-byte timestamp", With(good, 94, 4, 2), "timestamp has the wrong length"},
      {"old 32-byte form", With(good.substr(0, 32), 12, 0, 2), nullptr},
      {"no target info", With(good, 40, 0, 2), nullptr},
  };
  for (const auto& c : kCases) {
    Logger log;
    NtlmChallenge challenge;
    const bool read = ReadNtlmChallenge(U8(c.message), c.message.size(), challenge, log);
    EXPECT_EQ(read, c.error == nullptr) << c.name;
    if (c.error != nullptr) {
      EXPECT_NE(LogText(log).find(c.error), std::string::npos) << c.name << "\n" << LogText(log);
    }
  }

  Logger log;
  NtlmChallenge challenge;
  ASSERT_TRUE(ReadNtlmChallenge(U8(good), good.size(), challenge, log));
  EXPECT_TRUE(challenge.hasTimestamp);
  EXPECT_EQ(challenge.timestamp, NtlmAcceptor::kTimestamp);
  EXPECT_EQ(std::string(challenge.targetInfo.view()), good.substr(60));
}

TEST(NtlmMessageTest, OemChoiceSendsEightBitNamesAndSaysSo) {
  NtlmChallenge challenge;
  challenge.flags = kNtlmNegotiateOem | kNtlmNegotiateNtlm;
  NtlmAuthenticateInput input;
  input.user = "User";
  input.domain = "Domain";
  input.password = "Password";
  DataBuffer out;
  uint8_t sessionKey[16];
  Logger log;
  ASSERT_TRUE(BuildNtlmAuthenticate(challenge, input, out, sessionKey, log));
  const std::string m(out.view());
  EXPECT_EQ(m.substr(64, 10), "DomainUser");
  EXPECT_EQ(static_cast<uint8_t>(m[60]) & (kNtlmNegotiateOem | kNtlmNegotiateUnicode),
            kNtlmNegotiateOem);
}

}  // namespace
}  // namespace quillon::testing
