#include "tests/support/ntlm_acceptor.h"

#include <cctype>
#include <chrono>
#include <cstring>

#include "base/md4.h"
#include "base/md5.h"

namespace quillon::testing {
namespace {

uint32_t Le(const std::string& m, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(m[at + i]);
  return v;
}

void PutLe(std::string& m, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) m += static_cast<char>(v >> (8 * i));
}

std::string Utf16(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) wide += {c, '\0'};
  return wide;
}

std::string Ascii(const std::string& utf16) {
  std::string narrow;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) narrow += utf16[i];
  return narrow;
}

bool SameNoCase(std::string a, std::string b) {
  for (std::string* s : {&a, &b}) {
    for (char& c : *s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return a == b;
}

void AvPair(std::string& out, uint16_t id, const std::string& value) {
  PutLe(out, id, 2);
  PutLe(out, value.size(), 2);
  out += value;
}

}  // namespace

std::string NtlmAcceptor::Challenge(bool withTimestamp) {
  static uint8_t next = 0;
  for (uint8_t& b : serverChallenge_) b = ++next;
  withTimestamp_ = withTimestamp;
  targetInfo_.clear();
  AvPair(targetInfo_, 2, Utf16(account_.domain));  // MsvAvNbDomainName
  AvPair(targetInfo_, 1, Utf16("SERVER"));         // MsvAvNbComputerName
  if (withTimestamp) {
    std::string time;
    PutLe(time, kTimestamp, 8);
    AvPair(targetInfo_, 7, time);
  }
  AvPair(targetInfo_, 0, "");

  const std::string targetName = Utf16(account_.domain);
  std::string m("NTLMSSP\0", 8);
  PutLe(m, 2, 4);
  PutLe(m, targetName.size(), 2), PutLe(m, targetName.size(), 2), PutLe(m, 48, 4);
  PutLe(m, 0xa0898205, 4);  // Unicode, NTLM, domain target, target info, 128, 56, ...
  m.append(reinterpret_cast<const char*>(serverChallenge_), 8);
  m.append(8, '\0');
  PutLe(m, targetInfo_.size(), 2), PutLe(m, targetInfo_.size(), 2);
  PutLe(m, 48 + targetName.size(), 4);
  return m + targetName + targetInfo_;
}

bool NtlmAcceptor::Accepts(const std::string& m, std::string& why) const {
  if (m.size() < 64 || m.compare(0, 8, std::string("NTLMSSP\0", 8)) != 0 || Le(m, 8, 4) != 3) {
    why = "not an AUTHENTICATE message";
    return false;
  }
  std::string fields[4];  // LM, NT, domain, user
  for (int i = 0; i < 4; ++i) {
    const size_t length = Le(m, 12 + 8 * i, 2), offset = Le(m, 16 + 8 * i, 4);
    if (offset < 64 || offset + length > m.size()) {
      why = "field " + std::to_string(i) + " outside the message";
      return false;
    }
    fields[i] = m.substr(offset, length);
  }
  const std::string& nt = fields[1];
  const NtlmAccount claimed{Ascii(fields[3]), Ascii(fields[2]), account_.password};
  if (!SameNoCase(claimed.user, account_.user) || !SameNoCase(claimed.domain, account_.domain)) {
    why = "unknown account " + claimed.domain + "\\" + claimed.user;
    return false;
  }
  // The client blob: 1, 1, six zeros, the time, the client challenge, four zeros, our AV pairs
  // and four zeros.
  if (nt.size() != 16 + 28 + targetInfo_.size() + 4 || nt[16] != 1 || nt[17] != 1 ||
      nt.compare(44, targetInfo_.size(), targetInfo_) != 0) {
    why = "malformed NTLMv2 client blob";
    return false;
  }
  const uint64_t time = Le(nt, 24, 4) | uint64_t{Le(nt, 28, 4)} << 32;
  const uint64_t now =
      116444736000000000ULL + std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                      .count() *
                                  10;
  const uint64_t fiveMinutes = 5ULL * 60 * 10000000;
  if (withTimestamp_ ? time != kTimestamp : time + fiveMinutes < now || time > now + fiveMinutes) {
    why = "wrong time in the client blob";
    return false;
  }
  if (!ProvesPassword(claimed, serverChallenge_, nt)) {
    why = "NTProofStr does not prove the password";
    return false;
  }
  return true;
}

bool NtlmAcceptor::ProvesPassword(const NtlmAccount& account, const uint8_t serverChallenge[8],
                                  const std::string& ntResponse) {
  if (ntResponse.size() < 16 + 28) return false;
  const std::string password = Utf16(account.password);
  uint8_t hash[16], key[16], proof[16];
  Md4::digest(password.data(), password.size(), hash);
  std::string user = account.user;
  for (char& c : user) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string userDomain = Utf16(user) + Utf16(account.domain);
  HmacMd5(hash, 16, userDomain.data(), userDomain.size(), key);
  const std::string signed_ =
      std::string(reinterpret_cast<const char*>(serverChallenge), 8) + ntResponse.substr(16);
  HmacMd5(key, 16, signed_.data(), signed_.size(), proof);
  return std::memcmp(proof, ntResponse.data(), 16) == 0;
}

}  // namespace quillon::testing
