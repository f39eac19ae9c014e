#include "http/http_client.h"

#include "base/log_base.h"
#include "http/http_control.h"

namespace quillon {

namespace {

HttpTestOverrides g_overrides;

}  // namespace

void SetHttpOverridesForTests(const HttpTestOverrides& overrides) { g_overrides = overrides; }

const HttpTestOverrides& HttpOverrides() { return g_overrides; }

HttpClient::~HttpClient() {
  LogNull quiet;
  CloseClientConnection(quiet);
}

bool HttpClient::NormaliseHost(const char* host, StringBuffer& out) {
  if (!out.assign(host ? host : "")) return false;
  out.toLowerCase();
  out.replaceAll("http://", "");
  out.replaceAll("https://", "");
  out.removeChar('/');
  out.trim();
  return true;
}

void HttpClient::CloseClientConnection(LogBase& log) {
  ResetChannel(channel_, log);
  socket_.Close(log);
  socketStream_.discard();
  channelStream_.discard();
  host_.clear();
}

void HttpClient::noteOpened(bool tls, const char* host, int port) {
  stream(tls).discard();
  peerHost_[tls ? 1 : 0].assign(host != nullptr ? host : "");
  peerPort_[tls ? 1 : 0] = port;
}

bool HttpClient::isOpenTo(bool tls, const char* host, int port) const {
  const int kind = tls ? 1 : 0;
  return isOpen(tls) && peerPort_[kind] == port &&
         peerHost_[kind].equalsIgnoreCase(host != nullptr ? host : "");
}

void ApplySocketTimeouts(QuillonSocket& socket, const HttpControl& settings) {
  const HttpTestOverrides& o = HttpOverrides();
  if (o.connectTimeoutMs != 0) {
    socket.SetConnectTimeoutMs(o.connectTimeoutMs);
  } else {
    socket.SetConnectTimeoutSec(settings.connectTimeoutSec);
  }
  socket.SetIdleTimeoutMs(o.readTimeoutMs != 0 ? o.readTimeoutMs : settings.readTimeout * 1000);
}

void ResetChannel(SChannel& channel, LogBase& log) {
  if (channel.HasSession()) {
    channel.ShutdownChannel(true, log);
  } else {
    LogNull quiet;
    channel.Socket().Close(quiet);
  }
}

bool ConnectChannel(SChannel& channel, const HttpControl& settings, const char* host, int port,
                    ClientCertificateUse certificate, LogBase& log, ProgressMonitor* progress,
                    bool& dnsFailed) {
  channel.SetHost(host);
  channel.SetPort(port);
  channel.SetProtocol(settings.tlsProtocol.getString());
  ApplySocketTimeouts(channel.Socket(), settings);
  channel.SetRequireVerified(settings.requireVerifiedCert);
  const bool offer = certificate == ClientCertificateUse::kOffer;
  if (!offer && !settings.clientCredential.isEmpty()) {
    log.addInfo("The client certificate is kept from this host: it is not on the site.");
  }
  return channel.EstablishChannel(log, dnsFailed, settings.abortCheckMs, progress,
                                  offer ? &settings.clientCredential : nullptr);
}

}  // namespace quillon
