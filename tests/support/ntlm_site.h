// A site behind NTLM for end-to-end tests: HttpFixtureServer handlers that ask for NTLM, answer
// a NEGOTIATE with the tests' acceptor's CHALLENGE and let the page through for an AUTHENTICATE
// that proves the account's password on the connection that got the challenge; and a TLS front
// (socat, one plain connection per TLS connection) so the same site can be reached over HTTPS.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/http_fixture_server.h"
#include "tests/support/ntlm_acceptor.h"

namespace quillon::testing {

// Serves body (an HTML page) at path to whoever logs in to account with NTLM; everyone else
// gets 401 with "WWW-Authenticate: NTLM". Connections are kept alive.
void ServeBehindNtlm(HttpFixtureServer& server, const std::string& path,
                     const NtlmAccount& account, const std::string& body);

// socat terminating TLS with certificate and key (PEM) on a free port and relaying each
// connection to 127.0.0.1:backendPort.
class TlsFront {
 public:
  TlsFront(int backendPort, const std::string& certificate, const std::string& key);
  ~TlsFront();
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  bool isRunning() const { return pid_ > 0; }
  // "https://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path) const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace quillon::testing
