// Feeds arbitrary bytes to the NTLM CHALLENGE reader; a challenge it accepts must keep its
// target info inside the message and yield an AUTHENTICATE within the package's token size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "net/ntlm_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  quillon::LogNull log;
  quillon::NtlmChallenge challenge;
  if (!quillon::ReadNtlmChallenge(data, static_cast<uint32_t>(size), challenge, log)) return 0;
  if (challenge.targetInfo.length() > size) std::abort();
  quillon::NtlmAuthenticateInput input;
  input.user = "User";
  input.domain = "Domain";
  input.password = "Password";
  quillon::DataBuffer out;
  uint8_t sessionKey[16];
  if (!quillon::BuildNtlmAuthenticate(challenge, input, out, sessionKey, log) ||
      out.length() > quillon::kNtlmMaxTokenBytes) {
    std::abort();
  }
  return 0;
}
