// The NTLM messages of a client (MS-NLMP section 2.2): NEGOTIATE, the server's CHALLENGE read
// with every length and offset checked, and AUTHENTICATE with NTLMv2 responses (section 3.3.2).
// Left out: NTLMv1 and LM responses, the MIC, key exchange, signing and sealing, and channel
// bindings. The session base key is computed and handed to the caller.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"

namespace quillon {

class LogBase;

// NegotiateFlags (MS-NLMP 2.2.2.5).
inline constexpr uint32_t kNtlmNegotiateUnicode = 0x00000001;
inline constexpr uint32_t kNtlmNegotiateOem = 0x00000002;
inline constexpr uint32_t kNtlmRequestTarget = 0x00000004;
inline constexpr uint32_t kNtlmNegotiateNtlm = 0x00000200;
inline constexpr uint32_t kNtlmNegotiateAlwaysSign = 0x00008000;
inline constexpr uint32_t kNtlmNegotiateExtendedSessionSecurity = 0x00080000;
inline constexpr uint32_t kNtlmNegotiateTargetInfo = 0x00800000;
inline constexpr uint32_t kNtlmNegotiate128 = 0x20000000;
inline constexpr uint32_t kNtlmNegotiate56 = 0x80000000;
// What NEGOTIATE offers; AUTHENTICATE keeps the part of the server's choice found here.
inline constexpr uint32_t kNtlmClientFlags =
    kNtlmNegotiateUnicode | kNtlmNegotiateOem | kNtlmRequestTarget | kNtlmNegotiateNtlm |
    kNtlmNegotiateAlwaysSign | kNtlmNegotiateExtendedSessionSecurity | kNtlmNegotiate128 |
    kNtlmNegotiate56;

// A CHALLENGE larger than this is refused before it is read: it is the NTLM package's own
// maximum token size on Windows, and real challenges are a few hundred bytes.
inline constexpr uint32_t kNtlmMaxChallengeBytes = 2888;
// User and domain names, and passwords, longer than this many bytes are refused (they bound
// the AUTHENTICATE message; real names are far shorter).
inline constexpr uint32_t kNtlmMaxNameBytes = 512;
// The fixed part of a CHALLENGE that carries target information (up to the Version field).
inline constexpr uint32_t kNtlmChallengeFixedBytes = 48;
// AUTHENTICATE without Version and MIC: the signature, the type, six fields and the flags.
inline constexpr uint32_t kNtlmAuthenticateFixedBytes = 64;
inline constexpr uint32_t kNtlmLmResponseBytes = 24;
// The NTLMv2 response around the target info: NTProofStr, the fixed part of the client
// blob before it and the four zero bytes after it.
inline constexpr uint32_t kNtlmV2ResponseFixedBytes = 16 + 28 + 4;
// The largest token this generator builds: AUTHENTICATE for the largest challenge and names
// (each name as UTF-16, two bytes for every byte of its 8-bit text).
inline constexpr uint32_t kNtlmMaxTokenBytes = kNtlmAuthenticateFixedBytes + kNtlmLmResponseBytes +
                                               kNtlmV2ResponseFixedBytes + kNtlmMaxChallengeBytes +
                                               2 * 2 * kNtlmMaxNameBytes;

// The parts of a CHALLENGE that an NTLMv2 answer uses.
struct NtlmChallenge {
  uint32_t flags = 0;
  uint8_t serverChallenge[8] = {};
  // The AV pairs exactly as sent, MsvAvEOL included; empty when the server sent none.
  DataBuffer targetInfo;
  bool hasTimestamp = false;
  uint64_t timestamp = 0;  // MsvAvTimestamp: 100 ns units since 1601-01-01 UTC
};

// Reads a CHALLENGE_MESSAGE (MS-NLMP 2.2.1.2, 2.2.2.1). False with the reason logged when the
// message is too large, is not a challenge, or has a field or AV pair outside its bounds; out
// is then unspecified.
bool ReadNtlmChallenge(const uint8_t* bytes, uint32_t length, NtlmChallenge& out, LogBase& log);

// Replaces out with a NEGOTIATE_MESSAGE offering kNtlmClientFlags, without domain or
// workstation. False when memory runs out.
bool BuildNtlmNegotiate(DataBuffer& out);

// NTOWFv2 (MS-NLMP 3.3.2): HMAC-MD5 under MD4 of the UTF-16LE password, over the UTF-16LE of
// the upper-cased user followed by the domain. The texts are in the ANSI code page. False when
// memory runs out.
bool NtowfV2(const char* password, const char* user, const char* domain, uint8_t key[16]);

// The NTLMv2 computation of MS-NLMP 3.3.2 for one challenge.
struct NtlmV2Response {
  DataBuffer ntResponse;                          // NTProofStr followed by the client blob
  uint8_t lmResponse[kNtlmLmResponseBytes] = {};  // LMv2: HMAC of both challenges, then ours
  uint8_t sessionBaseKey[16] = {};
};
bool ComputeNtlmV2Response(const uint8_t responseKey[16], const uint8_t serverChallenge[8],
                           const uint8_t clientChallenge[8], uint64_t timestamp,
                           const DataBuffer& targetInfo, NtlmV2Response& out);

// What AUTHENTICATE needs besides the challenge. Texts are in the ANSI code page.
struct NtlmAuthenticateInput {
  const char* user = "";
  const char* domain = "";
  const char* password = "";
  uint8_t clientChallenge[8] = {};
  uint64_t clockTimestamp = 0;  // used when the challenge carries no MsvAvTimestamp
};

// Replaces out with an AUTHENTICATE_MESSAGE (MS-NLMP 2.2.1.3) answering the challenge, and
// fills sessionBaseKey. The LM response is 24 zero bytes when the challenge has a timestamp
// (MS-NLMP 3.1.5.1.2), else LMv2. Names are UTF-16LE when the server chose Unicode, else the
// 8-bit texts. False with the reason logged when a name is too long or memory runs out.
bool BuildNtlmAuthenticate(const NtlmChallenge& challenge, const NtlmAuthenticateInput& input,
                           DataBuffer& out, uint8_t sessionBaseKey[16], LogBase& log);

}  // namespace quillon
