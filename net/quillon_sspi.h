// A client authentication exchange with a security package, in the shape of SSPI: the caller's
// PackageExchange carries our tokens to the server and brings back its answers. The one package
// is "NTLM", the library's own generator (net/ntlm_message.h): NEGOTIATE, then AUTHENTICATE
// with NTLMv2 responses to one CHALLENGE. The result says only that the tokens were produced
// and the final one delivered; whether the password was right is the server's answer to it.
//
// "default" credentials stand for the logged-on user: the name is $USER (else $LOGNAME), the
// domain $USERDOMAIN (may be unset), and the password comes from the file named by
// $NTLM_USER_FILE, whose lines read DOMAIN:USER:PASSWORD (the format gss-ntlmssp reads); the
// first line for the user, and for $USERDOMAIN when it is set, gives the password and domain.
#pragma once

#include <cstdint>

#include "base/data_buffer.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"
#include "net/schannel.h"

namespace quillon {

class LogBase;

// Status codes besides the channel's (net/schannel.h).
inline constexpr uint32_t kSecEInsufficientMemory = 0x80090300;
inline constexpr uint32_t kSecESecpkgNotFound = 0x80090305;
inline constexpr uint32_t kSecENotOwner = 0x80090306;
inline constexpr uint32_t kSecEOutOfSequence = 0x80090310;

// The exchange partner: it carries tokens to the server (HTTP: base64 in Authorization and
// WWW-Authenticate).
class PackageExchange {
 public:
  virtual ~PackageExchange() = default;
  // Sends our token; true with the server's answer token in incoming.
  virtual bool ExchangePackage(const DataBuffer& outgoing, DataBuffer& incoming, LogBase& log) = 0;
  // Sends our last token; true when the server accepted it.
  virtual bool SendFinalResponse(const DataBuffer& outgoing, LogBase& log) = 0;
};

// One entry of the package list.
struct SecurityPackageInfo {
  uint32_t capabilities;
  uint16_t version;
  uint16_t rpcId;
  uint32_t maxTokenBytes;
  const char* name;
  const char* comment;
};

class QuillonSSPI : public QuillonObject {
 public:
  // The context flags a new object requests.
  static constexpr uint32_t kInitialContextFlags = 4;
  // NTLM_USER_FILE is read up to this many bytes; a larger file holds no usable credentials.
  static constexpr uint32_t kMaxUserFileBytes = 65536;

  QuillonSSPI();
  ~QuillonSSPI() override;
  QuillonSSPI(const QuillonSSPI&) = delete;
  QuillonSSPI& operator=(const QuillonSSPI&) = delete;

  uint32_t NumPackages() const { return packageCount_; }
  // The package at index; index must be below NumPackages().
  const SecurityPackageInfo& Package(int index) const { return packages_[index]; }
  // Position of the package named name (ASCII case ignored), or -1.
  int FindPackage(const char* name) const;
  // The partner for authenticate (not owned; may be null).
  void SetPackageExchange(PackageExchange* exchange) { exchange_ = exchange; }

  // Runs the whole exchange with the package at packageIndex; domain may be null. True when
  // every token was produced and the partner accepted the last one.
  bool authenticate(int packageIndex, const char* domain, const char* user, const char* password,
                    LogBase& log);

  // Takes credentials for the package, replacing earlier ones (see the header comment for
  // "default"). False with the reason logged.
  bool AcquireCredentials(int packageIndex, const char* domain, const char* user,
                          const char* password, LogBase& log);
  // Produces our next token from the server's (none for the first) and appends it to out.
  // done: no further token follows; authenticated: the package finished successfully. False
  // with the status logged when the package failed.
  bool prepareOutboundPackage(int packageIndex, DataBuffer& out, const DataBuffer* in, bool& done,
                              bool& authenticated, LogBase& log);

  uint32_t ContextFlags() const { return contextFlags_; }
  bool HoldsCredentials() const { return credentialsHeld_; }
  bool HasContext() const { return contextExists_; }
  // The NTLMv2 session base key of a finished exchange (zeros before).
  const uint8_t* SessionBaseKey() const { return sessionBaseKey_; }

 private:
  // Owned copies of the credentials' texts, in the ANSI code page (an absent domain is empty).
  struct Identity {
    StringBuffer user;
    StringBuffer domain;
    StringBuffer password;
  };
  enum class Stage { None, NegotiateSent, Finished };

  uint32_t AcquireCredentialsHandle(bool useDefault, LogBase& log);
  uint32_t InitializeSecurityContext(const DataBuffer* in, DataBuffer& out, LogBase& log);
  uint32_t AnswerChallenge(const DataBuffer& in, DataBuffer& out, LogBase& log);
  void FreeCredentials();
  void DeleteContext();

  const SecurityPackageInfo* packages_;
  uint32_t packageCount_;
  Identity identity_;
  Identity credentials_;  // what the package uses: the identity, or the default user's
  bool credentialsHeld_ = false;
  Stage stage_ = Stage::None;
  bool contextExists_ = false;
  PackageExchange* exchange_ = nullptr;
  uint32_t contextFlags_ = kInitialContextFlags;
  uint8_t sessionBaseKey_[16] = {};
};

}  // namespace quillon
