#include "http/http_conn_pool.h"

#include <new>

#include "base/log_base.h"
#include "base/string_buffer.h"
#include "http/http_client.h"
#include "http/http_control.h"
#include "http/parse_url.h"

namespace quillon {

HttpClient* HttpConnPool::clientAt(int index) const { return clients_.at<HttpClient>(index); }

HttpClient* HttpConnPool::GetClient(const char* host, int port, const HttpControl& settings,
                                    LogBase& log) {
  StringBuffer proxyHost;
  int proxyPort = kDefaultHttpPort;
  ChooseProxy(settings, "http://", ProxyPurpose::PoolLookup, proxyHost, proxyPort, log);
  StringBuffer keyHost;
  int keyPort = port;
  if (!proxyHost.isEmpty()) {
    if (!HttpClient::NormaliseHost(proxyHost.getString(), keyHost)) return nullptr;
    keyPort = proxyPort;
  } else if (!HttpClient::NormaliseHost(host, keyHost)) {
    return nullptr;
  }

  for (int i = 0; i < clients_.count();) {
    HttpClient* client = clients_.at<HttpClient>(i);
    if (client == nullptr) {
      clients_.removeAt(i);
      continue;
    }
    if (client->port() == keyPort && client->host().equalsIgnoreCase(keyHost.getString())) {
      clients_.removeAt(i);
      if (!clients_.append(client)) {
        delete client;
        return nullptr;
      }
      return client;
    }
    ++i;
  }

  if (clients_.count() >= kCapacity) delete clients_.removeAt(0);
  HttpClient* client = new (std::nothrow) HttpClient;
  if (client == nullptr) return nullptr;
  // The key is recorded at once, so the next request for this host and port finds the client
  // again (the recorded port would otherwise stay 80 for every port).
  if (!client->recordHost(keyHost.getString()) || !clients_.append(client)) {
    delete client;
    return nullptr;
  }
  client->setPort(keyPort);
  return client;
}

}  // namespace quillon
