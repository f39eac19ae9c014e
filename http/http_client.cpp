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

ClientCertificateUse ClientCertificateFor(HttpControl& settings, const HttpClient& client,
                                          const char* host) {
  const RequestCredentials allowed = CredentialsForRequest(
      settings, client.urlCredentials(), client.fetchOrigin(), host ? host : "", true);
  return allowed.clientCertificate ? ClientCertificateUse::kOffer : ClientCertificateUse::kWithhold;
}

bool HttpConnect(HttpClient& client, HttpControl& settings, const char* host, int port, bool tls,
                 LogBase& log, ProgressMonitor* progress, bool& connectedNow) {
  LogContextGuard context(log, "httpConnect");
  log.addTag("hostname", host ? host : "");
  log.addTagInt("port", port);
  log.addTagInt("ssl", tls ? 1 : 0);
  if (!client.recordHost(host)) return false;
  client.setPort(port);
  client.setTls(tls);
  connectedNow = false;

  if (!client.isOpen(tls)) {
    QuillonSocket& socket = client.socket();
    if (tls) {
      ResetChannel(client.channel(), log);
    } else {
      socket.Close(log);
      ApplySocketTimeouts(socket, settings);
    }

    StringBuffer proxyHost;
    int proxyPort = kDefaultHttpPort;
    ChooseProxy(settings, tls ? "https://" : "http://", ProxyPurpose::Request, proxyHost,
                proxyPort, log);
    const char* targetHost = host ? host : "";
    int targetPort = port;
    if (!proxyHost.isEmpty()) {
      log.addTag("proxyDomain", proxyHost.getString());
      log.addTagInt("proxyPort", proxyPort);
      targetHost = proxyHost.getString();
      targetPort = proxyPort;
    }
    bool connected;
    bool dnsFailed = false;
    if (tls) {
      connected = ConnectChannel(client.channel(), settings, targetHost, targetPort,
                                 ClientCertificateFor(settings, client, host), log, progress,
                                 dnsFailed);
    } else {
      connected = socket.ConnectDispatch(targetHost, targetPort, settings.abortCheckMs, log,
                                         dnsFailed, progress);
    }
    if (!connected) {
      if (tls) {
        ResetChannel(client.channel(), log);
      } else {
        log.addTagInt("connectTimeoutSec", static_cast<int32_t>(socket.GetConnectTimeoutSec()));
        log.addTagInt("idleTimeoutMs", static_cast<int32_t>(socket.GetIdleTimeoutMs()));
        socket.Close(log);
      }
      log.addError("Failed to connect.");
      return false;
    }
    client.noteOpened(tls, targetHost, targetPort);
    connectedNow = true;
  }
  if (client.isOpen(tls)) {
    log.addError("Connected");
    return true;
  }
  log.addError("Socket not connected for HTTP request");
  return false;
}

}  // namespace quillon
