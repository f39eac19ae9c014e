#include "tests/support/ntlm_site.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

#include "base/content_coding.h"
#include "tests/support/nginx_fixture.h"

namespace quillon::testing {
namespace {

constexpr const char* kSocat = "/usr/bin/socat";
constexpr int kStartTimeoutMs = 5000;

// The acceptor of each connection: a login counts only on the connection of its challenge.
struct NtlmSiteState {
  NtlmAccount account;
  std::string body;
  std::mutex mutex;
  std::map<int, std::unique_ptr<NtlmAcceptor>> acceptors;
};

std::string TokenOf(const std::string& head) {
  const std::string field = "\r\nAuthorization: NTLM ";
  size_t at = head.find(field);
  if (at == std::string::npos) return "";
  at += field.size();
  std::string text = head.substr(at, head.find("\r\n", at) - at);
  DataBuffer bytes;
  ContentCoding::decodeBase64(text.c_str(), static_cast<uint32_t>(text.size()), bytes);
  return std::string(bytes.view());
}

std::string Base64(const std::string& bytes) {
  StringBuffer text;
  ContentCoding::encodeBase64(bytes.data(), static_cast<uint32_t>(bytes.size()), text);
  return std::string(text.view());
}

std::string Refusal(const std::string& offer) {
  return HttpFixtureServer::Response(401, "Unauthorized", "",
                                     "WWW-Authenticate: " + offer + "\r\n");
}

std::string Answer(NtlmSiteState& state, const HttpFixtureServer::Request& request) {
  const std::string token = TokenOf(request.head);
  const int type = token.size() >= 12 ? static_cast<uint8_t>(token[8]) : 0;
  std::lock_guard<std::mutex> lock(state.mutex);
  std::unique_ptr<NtlmAcceptor>& acceptor = state.acceptors[request.connection];
  if (type == 1) {
    acceptor = std::make_unique<NtlmAcceptor>(state.account);
    return Refusal("NTLM " + Base64(acceptor->Challenge()));
  }
  std::string why;
  if (type == 3 && acceptor && acceptor->Accepts(token, why)) {
    return HttpFixtureServer::Response(200, "OK", state.body, "Content-Type: text/html\r\n");
  }
  return Refusal("NTLM");
}

}  // namespace

void ServeBehindNtlm(HttpFixtureServer& server, const std::string& path,
                     const NtlmAccount& account, const std::string& body) {
  auto state = std::make_shared<NtlmSiteState>();
  state->account = account;
  state->body = body;
  server.AddHandler(path, [state](int fd, const HttpFixtureServer::Request& request) {
    HttpFixtureServer::SendAll(fd, Answer(*state, request));
    return HttpFixtureServer::After::kKeepAlive;
  });
}

TlsFront::TlsFront(int backendPort, const std::string& certificate, const std::string& key) {
  if (access(kSocat, X_OK) != 0) return;
  port_ = FreeLoopbackPort();
  const std::string listen = "OPENSSL-LISTEN:" + std::to_string(port_) +
                             ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + certificate +
                             ",key=" + key;
  const std::string target = "TCP:127.0.0.1:" + std::to_string(backendPort);
  pid_t pid = fork();
  if (pid == 0) {
    // Its log (the probe of WaitForPort ends a handshake early) goes nowhere.
    execl(kSocat, kSocat, "-lf", "/dev/null", listen.c_str(), target.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid > 0 && WaitForPort(port_, kStartTimeoutMs)) {
    pid_ = pid;
  } else if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

TlsFront::~TlsFront() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string TlsFront::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace quillon::testing
