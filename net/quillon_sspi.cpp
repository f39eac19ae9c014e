#include "net/quillon_sspi.h"

#include <openssl/crypto.h>

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "base/ascii.h"
#include "base/file_access.h"
#include "base/log_base.h"
#include "base/platform.h"
#include "net/ntlm_message.h"

namespace quillon {
namespace {

constexpr uint32_t kSecpkgFlagConnection = 0x10;  // connection-oriented: the tokens are ours
constexpr uint16_t kRpcAuthnWinnt = 10;
constexpr SecurityPackageInfo kPackages[] = {
    {kSecpkgFlagConnection, 1, kRpcAuthnWinnt, kNtlmMaxTokenBytes, "NTLM", "NTLM Security Package"},
};
// 100 ns ticks from 1601-01-01 (the NTLM timestamp's epoch) to 1970-01-01.
constexpr uint64_t kFileTimeOfUnixEpoch = 116444736000000000ULL;

bool IsDefaultWord(const char* text) {
  StringBuffer word(text);
  word.trim();
  word.toLowerCase();
  return word.equals("default");
}

void WipeText(StringBuffer& text) {
  OPENSSL_cleanse(const_cast<char*>(text.getString()), text.length());
  text.clear();
}

uint64_t FileTimeNow() {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return kFileTimeOfUnixEpoch +
         static_cast<uint64_t>(std::chrono::duration_cast<Ticks>(now).count());
}

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// Finds the password of user (and of domain, when given) in the DOMAIN:USER:PASSWORD lines of
// NTLM_USER_FILE. The domain of the line found goes to out.domain.
uint32_t ReadUserFile(const char* user, const char* domain, StringBuffer& outDomain,
                      StringBuffer& outPassword, LogBase& log) {
  const char* path = Environment("NTLM_USER_FILE");
  if (path == nullptr) {
    log.addError("No password for the default NTLM credentials: NTLM_USER_FILE is not set.");
    return kSecENoCredentials;
  }
  FileAccess file;
  DataBuffer content;
  if (!file.open(path, log)) {
    log.addError("Cannot read NTLM_USER_FILE.");
    log.addTag("path", path);
    return kSecENoCredentials;
  }
  file.read(0, QuillonSSPI::kMaxUserFileBytes + 1, content);  // short reads end the file
  if (content.length() > QuillonSSPI::kMaxUserFileBytes) {
    log.addError("NTLM_USER_FILE is too large.");
    return kSecENoCredentials;
  }
  std::string_view rest(reinterpret_cast<const char*>(content.data()), content.length());
  uint32_t status = kSecENoCredentials;
  while (!rest.empty() && status != kSecEOk) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(line.size() < rest.size() ? line.size() + 1 : rest.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t userAt = line.find(':');
    const size_t passwordAt = userAt == line.npos ? line.npos : line.find(':', userAt + 1);
    if (passwordAt == line.npos) continue;
    const std::string_view lineDomain = line.substr(0, userAt);
    if (!EqualsNoCase(line.substr(userAt + 1, passwordAt - userAt - 1), user)) continue;
    if (domain != nullptr && !EqualsNoCase(lineDomain, domain)) continue;
    const std::string_view password = line.substr(passwordAt + 1);
    if (outDomain.assign(lineDomain) && outPassword.assign(password)) status = kSecEOk;
  }
  OPENSSL_cleanse(content.data(), content.length());
  if (status != kSecEOk) {
    log.addError("NTLM_USER_FILE has no line for the logged-on user.");
    log.addTag("user", user);
  }
  return status;
}

const char* CredentialsStatusName(uint32_t status) {
  switch (status) {
    case kSecEInsufficientMemory: return "SEC_E_INSUFFICIENT_MEMORY";
    case kSecEInternalError: return "SEC_E_INTERNAL_ERROR";
    case kSecESecpkgNotFound: return "SEC_E_SECPKG_NOT_FOUND";
    case kSecENotOwner: return "SEC_E_NOT_OWNER";
    case kSecEUnknownCredentials: return "SEC_E_UNKNOWN_CREDENTIALS";
    case kSecENoCredentials: return "SEC_E_NO_CREDENTIALS";
    default: return nullptr;
  }
}

}  // namespace

QuillonSSPI::QuillonSSPI() : packages_(kPackages), packageCount_(std::size(kPackages)) {}

QuillonSSPI::~QuillonSSPI() {
  DeleteContext();
  FreeCredentials();
}

int QuillonSSPI::FindPackage(const char* name) const {
  if (name == nullptr) return -1;
  for (uint32_t i = 0; i < packageCount_; ++i) {
    if (EqualsNoCase(packages_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

bool QuillonSSPI::authenticate(int packageIndex, const char* domain, const char* user,
                               const char* password, LogBase& log) {
  if (user == nullptr || *user == '\0' || password == nullptr || *password == '\0') return false;
  if (exchange_ == nullptr) {
    log.addError("QuillonSSPI.authenticate: no package exchange object");
    return false;
  }
  if (!AcquireCredentials(packageIndex, domain, user, password, log)) {
    log.addError("QuillonSSPI.authenticate: cannot acquire alternate credentials");
    return false;
  }
  bool done = false;
  bool authenticated = false;
  DataBuffer ours;
  if (!prepareOutboundPackage(packageIndex, ours, nullptr, done, authenticated, log)) {
    log.addError("QuillonSSPI.authenticate: failed to prepare 1st outbound package");
    return false;
  }
  // Each pass moves the package one stage on, so the loop ends after the challenge.
  for (;;) {
    DataBuffer theirs;
    if (!exchange_->ExchangePackage(ours, theirs, log)) {
      log.addError("QuillonSSPI.authenticate: exchange failed");
      return false;
    }
    ours.clear();
    if (!prepareOutboundPackage(packageIndex, ours, &theirs, done, authenticated, log)) {
      log.addError("QuillonSSPI.authenticate: failed to prepare next package");
      return false;
    }
    if (done) return exchange_->SendFinalResponse(ours, log);
  }
}

bool QuillonSSPI::AcquireCredentials(int packageIndex, const char* domain, const char* user,
                                     const char* password, LogBase& log) {
  if (user == nullptr || *user == '\0' || password == nullptr || *password == '\0') {
    log.addError("Failed to acquire alternate credentials: no username and/or password");
    return false;
  }
  if (packageIndex < 0 || static_cast<uint32_t>(packageIndex) >= packageCount_) {
    log.addError("Failed to acquire alternate credentials: package index out of range");
    log.addTagInt("PackageIndex", packageIndex);
    log.addTagInt("NumPackages", static_cast<int32_t>(packageCount_));
    return false;
  }
  const bool useDefault = IsDefaultWord(user) && IsDefaultWord(password);
  if (useDefault) log.addInfo("Using default NTLM credentials.");

  FreeCredentials();
  const bool copied = identity_.domain.assign(domain != nullptr ? domain : "") &&
                      identity_.user.assign(user) && identity_.password.assign(password);
  const uint32_t status =
      copied ? AcquireCredentialsHandle(useDefault, log) : kSecEInsufficientMemory;
  if (status == kSecEOk) {
    credentialsHeld_ = true;
    return true;
  }
  log.addError("Failed to acquire credentials handle");
  log.addTag("username", user);
  log.addTag("domain", domain != nullptr ? domain : "NONE");
  if (const char* name = CredentialsStatusName(status)) {
    log.addTag("status_code", name);
  } else {
    log.addTagHex("status_code", status);
  }
  FreeCredentials();
  return false;
}

// The package's credentials: the identity as given, or the logged-on user's.
uint32_t QuillonSSPI::AcquireCredentialsHandle(bool useDefault, LogBase& log) {
  Identity& c = credentials_;
  if (!useDefault) {
    if (!c.user.assign(identity_.user) || !c.domain.assign(identity_.domain) ||
        !c.password.assign(identity_.password)) {
      return kSecEInsufficientMemory;
    }
  } else {
    const char* user = Environment("USER");
    if (user == nullptr) user = Environment("LOGNAME");
    if (user == nullptr) {
      log.addError("No logged-on user: neither USER nor LOGNAME is set.");
      return kSecENoCredentials;
    }
    const uint32_t status =
        ReadUserFile(user, Environment("USERDOMAIN"), c.domain, c.password, log);
    if (status != kSecEOk) return status;
    if (!c.user.assign(user)) return kSecEInsufficientMemory;
  }
  if (c.user.length() > kNtlmMaxNameBytes || c.domain.length() > kNtlmMaxNameBytes ||
      c.password.length() > kNtlmMaxNameBytes) {
    log.addError("NTLM user name, domain or password too long.");
    log.addTagInt64("ntlmMaxNameBytes", kNtlmMaxNameBytes);
    return kSecEUnknownCredentials;
  }
  return kSecEOk;
}

bool QuillonSSPI::prepareOutboundPackage(int packageIndex, DataBuffer& out, const DataBuffer* in,
                                         bool& done, bool& authenticated, LogBase& log) {
  done = true;
  authenticated = false;
  if (packageIndex < 0 || static_cast<uint32_t>(packageIndex) >= packageCount_) {
    log.addError("QuillonSSPI.prepareOutboundPackage: package index out of range");
    log.addTagInt("packageIndex", packageIndex);
    return false;
  }
  DataBuffer token;
  const uint32_t status = InitializeSecurityContext(in, token, log);
  switch (status) {
    case kSecEInvalidToken: return true;
    case kSecICompleteNeeded:
    case kSecICompleteAndContinue:
      // The generator needs no completion step (CompleteAuthToken has nothing to do).
      log.addError(status == kSecICompleteNeeded
                       ? "QuillonSSPI.prepareOutboundPackage: SEC_I_COMPLETE_NEEDED"
                       : "QuillonSSPI.prepareOutboundPackage: SEC_I_COMPLETE_AND_CONTINUE");
      break;
    case kSecELogonDenied:
      log.addError("LOGON_DENIED");
      out.append(token);
      return true;
    case kSecEOk:
    case kSecIContinueNeeded: break;
    case kSecEInvalidHandle:
    case kSecETargetUnknown:
    case kSecEInternalError:
    case kSecENoCredentials:
    case kSecENoAuthenticatingAuthority: {
      StringBuffer line("QuillonSSPI.prepareOutboundPackage: ");
      line.append(SecurityStatusName(status));
      log.addError(line.getString());
      [[fallthrough]];
    }
    default:
      log.addTagHex("statusCode", status);
      log.addError("Finished and NOT authenticated");
      return false;
  }
  done = status == kSecEOk || status == kSecICompleteNeeded;
  authenticated = done;
  if (!out.append(token)) {
    log.addError("Out of memory");
    return false;
  }
  contextExists_ = true;
  return true;
}

// The NTLM generator's stages: no context, NEGOTIATE sent, AUTHENTICATE made. The attributes
// it returns are none (no signing, sealing or replay detection).
uint32_t QuillonSSPI::InitializeSecurityContext(const DataBuffer* in, DataBuffer& out,
                                                LogBase& log) {
  if (!credentialsHeld_) return kSecEInvalidHandle;
  contextFlags_ = 0;
  switch (stage_) {
    case Stage::None:
      if (in != nullptr) return kSecEOutOfSequence;
      if (!BuildNtlmNegotiate(out)) return kSecEInsufficientMemory;
      stage_ = Stage::NegotiateSent;
      return kSecIContinueNeeded;
    case Stage::NegotiateSent:
      stage_ = Stage::Finished;
      if (in == nullptr) return kSecEInvalidToken;
      return AnswerChallenge(*in, out, log);
    case Stage::Finished: break;
  }
  return kSecEOutOfSequence;
}

uint32_t QuillonSSPI::AnswerChallenge(const DataBuffer& in, DataBuffer& out, LogBase& log) {
  NtlmChallenge challenge;
  if (!ReadNtlmChallenge(in.data(), in.length(), challenge, log)) return kSecEInvalidToken;
  NtlmAuthenticateInput input;
  input.user = credentials_.user.getString();
  input.domain = credentials_.domain.getString();
  input.password = credentials_.password.getString();
  input.clockTimestamp = FileTimeNow();
  if (!CryptoRandomBytes(input.clientChallenge, sizeof input.clientChallenge)) {
    log.addError("No random bytes for the NTLM client challenge.");
    return kSecEInternalError;
  }
  if (!BuildNtlmAuthenticate(challenge, input, out, sessionBaseKey_, log)) {
    return kSecEInsufficientMemory;
  }
  return kSecEOk;
}

void QuillonSSPI::FreeCredentials() {
  for (Identity* identity : {&identity_, &credentials_}) {
    WipeText(identity->password);
    identity->user.clear();
    identity->domain.clear();
  }
  credentialsHeld_ = false;
}

void QuillonSSPI::DeleteContext() {
  stage_ = Stage::None;
  contextExists_ = false;
  OPENSSL_cleanse(sessionBaseKey_, sizeof sessionBaseKey_);
}

}  // namespace quillon
