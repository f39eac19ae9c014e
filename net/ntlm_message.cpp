#include "net/ntlm_message.h"

#include <openssl/crypto.h>

#include <cstring>
#include <initializer_list>

#include "base/log_base.h"
#include "base/md4.h"
#include "base/md5.h"
#include "base/xstring.h"

namespace quillon {
namespace {

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint32_t kNegotiateType = 1;
constexpr uint32_t kChallengeType = 2;
constexpr uint32_t kAuthenticateType = 3;
// The shortest CHALLENGE: signature, type, target name field, flags and server challenge.
constexpr uint32_t kChallengeMinBytes = 32;
constexpr uint32_t kNegotiateBytes = 32;
constexpr uint16_t kAvEol = 0;
constexpr uint16_t kAvTimestamp = 7;
constexpr uint32_t kAvHeaderBytes = 4;
constexpr uint32_t kTimestampBytes = 8;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t{Le16(p)} | uint32_t{Le16(p + 2)} << 16; }
uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p)} | uint64_t{Le32(p + 4)} << 32; }

bool AppendLe(DataBuffer& out, uint64_t value, int bytes) {
  uint8_t le[8];
  for (int i = 0; i < bytes; ++i) le[i] = static_cast<uint8_t>(value >> (8 * i));
  return out.append(le, static_cast<uint32_t>(bytes));
}

// A security buffer field (MS-NLMP 2.2.1): length, maximum length, offset.
bool AppendField(DataBuffer& out, uint32_t length, uint32_t offset) {
  return AppendLe(out, length, 2) && AppendLe(out, length, 2) && AppendLe(out, offset, 4);
}

// Wipes a secret's bytes in a way the compiler keeps.
void Wipe(void* bytes, size_t length) { OPENSSL_cleanse(bytes, length); }
void Wipe(DataBuffer& buffer) {
  if (buffer.data() != nullptr) Wipe(buffer.data(), buffer.capacity());
  buffer.clear();
}

// The UTF-16LE form of an ANSI text, without its terminator.
bool AppendUtf16(const char* ansi, DataBuffer& out) {
  XString text;
  if (!text.setFromAnsi(ansi)) return false;
  const DataBuffer& utf16 = text.utf16Buffer();
  const bool ok = utf16.length() < 2 || out.append(utf16.data(), utf16.length() - 2);
  Wipe(text.utf16Buffer());
  StringBuffer& ansiCopy = text.ansiBuffer();
  Wipe(const_cast<char*>(ansiCopy.getString()), ansiCopy.length());
  return ok;
}

// Upper case of a UTF-16 unit as the NTOWFv2 user name needs it: ASCII, Latin-1, Greek and
// Cyrillic letters, which covers the names met in practice (Windows uses a full table).
char16_t UpperUtf16(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3B1 && c <= 0x3C9) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

void UpperCaseUtf16(DataBuffer& text) {
  uint8_t* p = text.data();
  for (uint32_t i = 0; i + 1 < text.length(); i += 2) {
    const char16_t upper = UpperUtf16(static_cast<char16_t>(p[i] | p[i + 1] << 8));
    p[i] = static_cast<uint8_t>(upper);
    p[i + 1] = static_cast<uint8_t>(upper >> 8);
  }
}

// ---- Reading a CHALLENGE

struct Field {
  uint16_t length;
  uint32_t offset;
};

Field ReadField(const uint8_t* at) { return {Le16(at), Le32(at + 4)}; }

bool Refuse(LogBase& log, const char* reason, uint32_t challengeSize) {
  log.addError(reason);
  log.addTagInt64("ntlmChallengeSize", challengeSize);
  return false;
}

// A non-empty field must lie inside the message, after the fixed part.
bool CheckField(const Field& field, const char* name, uint32_t messageLength, LogBase& log) {
  if (field.length == 0) return true;
  if (field.offset >= kNtlmChallengeFixedBytes &&
      uint64_t{field.offset} + field.length <= messageLength) {
    return true;
  }
  log.addError("NTLM challenge field lies outside the message.");
  log.addTag("ntlmField", name);
  log.addTagInt64("ntlmFieldOffset", field.offset);
  log.addTagInt64("ntlmFieldLength", field.length);
  log.addTagInt64("ntlmChallengeSize", messageLength);
  return false;
}

// Walks the AV pairs (MS-NLMP 2.2.2.1) up to MsvAvEOL, taking the timestamp.
bool ReadAvPairs(NtlmChallenge& out, LogBase& log) {
  const uint8_t* pairs = out.targetInfo.data();
  const uint32_t end = out.targetInfo.length();
  for (uint32_t at = 0;;) {
    if (end - at < kAvHeaderBytes) {
      log.addError("NTLM target info ends without its end marker.");
      log.addTagInt64("ntlmTargetInfoSize", end);
      return false;
    }
    const uint16_t id = Le16(pairs + at);
    const uint16_t length = Le16(pairs + at + 2);
    at += kAvHeaderBytes;
    if (length > end - at) {
      log.addError("NTLM target info entry runs past its end.");
      log.addTagInt("ntlmAvId", id);
      log.addTagInt("ntlmAvLength", length);
      return false;
    }
    if (id == kAvEol) return true;
    if (id == kAvTimestamp) {
      if (length != kTimestampBytes) {
        log.addError("NTLM timestamp has the wrong length.");
        log.addTagInt("ntlmAvLength", length);
        return false;
      }
      out.hasTimestamp = true;
      out.timestamp = Le64(pairs + at);
    }
    at += length;
  }
}

}  // namespace

bool ReadNtlmChallenge(const uint8_t* bytes, uint32_t length, NtlmChallenge& out, LogBase& log) {
  out = NtlmChallenge();
  if (length > kNtlmMaxChallengeBytes) return Refuse(log, "NTLM challenge too large.", length);
  if (length < kChallengeMinBytes) return Refuse(log, "NTLM challenge too short.", length);
  if (std::memcmp(bytes, kSignature, sizeof kSignature) != 0) {
    return Refuse(log, "Not an NTLM message.", length);
  }
  if (Le32(bytes + 8) != kChallengeType) {
    log.addTagInt64("ntlmMessageType", Le32(bytes + 8));
    return Refuse(log, "NTLM message is not a challenge.", length);
  }
  if (!CheckField(ReadField(bytes + 12), "TargetName", length, log)) return false;
  out.flags = Le32(bytes + 20);
  std::memcpy(out.serverChallenge, bytes + 24, sizeof out.serverChallenge);
  if (length < kNtlmChallengeFixedBytes) return true;  // an old challenge without target info

  const Field targetInfo = ReadField(bytes + 40);
  if (!CheckField(targetInfo, "TargetInfo", length, log)) return false;
  if (targetInfo.length == 0) return true;
  if (!out.targetInfo.append(bytes + targetInfo.offset, targetInfo.length)) {
    log.addError("Out of memory reading the NTLM challenge.");
    return false;
  }
  return ReadAvPairs(out, log);
}

bool BuildNtlmNegotiate(DataBuffer& out) {
  out.clear();
  return out.append(kSignature, sizeof kSignature) && AppendLe(out, kNegotiateType, 4) &&
         AppendLe(out, kNtlmClientFlags, 4) && AppendField(out, 0, kNegotiateBytes) &&
         AppendField(out, 0, kNegotiateBytes);
}

bool NtowfV2(const char* password, const char* user, const char* domain, uint8_t key[16]) {
  DataBuffer unicodePassword;
  DataBuffer userDomain;
  uint8_t passwordHash[Md4::kDigestLength];
  bool ok = AppendUtf16(password, unicodePassword) && AppendUtf16(user, userDomain);
  UpperCaseUtf16(userDomain);
  ok = ok && AppendUtf16(domain, userDomain);
  if (ok) {
    Md4::digest(unicodePassword.data(), unicodePassword.length(), passwordHash);
    HmacMd5(passwordHash, sizeof passwordHash, userDomain.data(), userDomain.length(), key);
  }
  Wipe(unicodePassword);
  Wipe(passwordHash, sizeof passwordHash);
  return ok;
}

bool ComputeNtlmV2Response(const uint8_t responseKey[16], const uint8_t serverChallenge[8],
                           const uint8_t clientChallenge[8], uint64_t timestamp,
                           const DataBuffer& targetInfo, NtlmV2Response& out) {
  // The client blob "temp": versions 1 and 1, six zero bytes, the time, our challenge, four
  // zero bytes, the server's AV pairs, four zero bytes.
  static constexpr uint8_t kVersions[8] = {1, 1};
  static constexpr uint8_t kZeros[4] = {};
  DataBuffer proofInput;  // the server challenge followed by temp
  bool ok = proofInput.append(serverChallenge, 8) && proofInput.append(kVersions, 8) &&
            AppendLe(proofInput, timestamp, 8) && proofInput.append(clientChallenge, 8) &&
            proofInput.append(kZeros, 4) && proofInput.append(targetInfo) &&
            proofInput.append(kZeros, 4);
  if (!ok) return false;

  uint8_t proof[Md5::kDigestLength];
  HmacMd5(responseKey, 16, proofInput.data(), proofInput.length(), proof);
  out.ntResponse.clear();
  if (!out.ntResponse.append(proof, sizeof proof) ||
      !out.ntResponse.append(proofInput.data() + 8, proofInput.length() - 8)) {
    return false;
  }
  HmacMd5(responseKey, 16, proof, sizeof proof, out.sessionBaseKey);

  uint8_t challenges[16];
  std::memcpy(challenges, serverChallenge, 8);
  std::memcpy(challenges + 8, clientChallenge, 8);
  HmacMd5(responseKey, 16, challenges, sizeof challenges, out.lmResponse);
  std::memcpy(out.lmResponse + 16, clientChallenge, 8);
  return true;
}

bool BuildNtlmAuthenticate(const NtlmChallenge& challenge, const NtlmAuthenticateInput& input,
                           DataBuffer& out, uint8_t sessionBaseKey[16], LogBase& log) {
  out.clear();
  for (const char* text : {input.user, input.domain, input.password}) {
    if (std::strlen(text) > kNtlmMaxNameBytes) {
      log.addError("NTLM user name, domain or password too long.");
      log.addTagInt64("ntlmMaxNameBytes", kNtlmMaxNameBytes);
      return false;
    }
  }
  uint8_t key[16];
  NtlmV2Response response;
  const uint64_t timestamp = challenge.hasTimestamp ? challenge.timestamp : input.clockTimestamp;
  bool ok = NtowfV2(input.password, input.user, input.domain, key) &&
            ComputeNtlmV2Response(key, challenge.serverChallenge, input.clientChallenge, timestamp,
                                  challenge.targetInfo, response);
  Wipe(key, sizeof key);
  if (ok && challenge.hasTimestamp) std::memset(response.lmResponse, 0, kNtlmLmResponseBytes);

  const bool unicode = (challenge.flags & kNtlmNegotiateUnicode) != 0;
  DataBuffer domain;
  DataBuffer user;
  if (unicode) {
    ok = ok && AppendUtf16(input.domain, domain) && AppendUtf16(input.user, user);
  } else {
    ok = ok && domain.append(input.domain, static_cast<uint32_t>(std::strlen(input.domain))) &&
         user.append(input.user, static_cast<uint32_t>(std::strlen(input.user)));
  }
  if (!ok) {
    log.addError("Out of memory building the NTLM response.");
    return false;
  }

  // Payload after the fixed part: domain, user, (no workstation), LM and NT responses.
  const uint32_t domainAt = kNtlmAuthenticateFixedBytes;
  const uint32_t userAt = domainAt + domain.length();
  const uint32_t lmAt = userAt + user.length();
  const uint32_t ntAt = lmAt + kNtlmLmResponseBytes;
  const uint32_t end = ntAt + response.ntResponse.length();
  const uint32_t flags = (challenge.flags & kNtlmClientFlags) | (unicode ? 0 : kNtlmNegotiateOem);
  ok = out.append(kSignature, sizeof kSignature) && AppendLe(out, kAuthenticateType, 4) &&
       AppendField(out, kNtlmLmResponseBytes, lmAt) &&
       AppendField(out, response.ntResponse.length(), ntAt) &&
       AppendField(out, domain.length(), domainAt) && AppendField(out, user.length(), userAt) &&
       AppendField(out, 0, end) && AppendField(out, 0, end) && AppendLe(out, flags, 4) &&
       out.append(domain) && out.append(user) &&
       out.append(response.lmResponse, kNtlmLmResponseBytes) && out.append(response.ntResponse);
  if (!ok) {
    log.addError("Out of memory building the NTLM response.");
    return false;
  }
  std::memcpy(sessionBaseKey, response.sessionBaseKey, 16);
  Wipe(response.sessionBaseKey, 16);
  return true;
}

}  // namespace quillon
