// The pool of HTTP clients, one per host and port (or per proxy), least recently used first and
// at most ten: the eleventh key evicts the client used longest ago, closing its connection.
// It only finds and creates clients; requests are run by the request driver.
#pragma once

#include "base/ext_ptr_array.h"

namespace quillon {

class HttpClient;
class HttpControl;
class LogBase;

class HttpConnPool {
 public:
  static constexpr int kCapacity = 10;

  HttpConnPool() = default;
  HttpConnPool(const HttpConnPool&) = delete;
  HttpConnPool& operator=(const HttpConnPool&) = delete;

  // The client for host and port, or for the proxy that settings choose for "http://": an
  // existing one is moved to the most recently used end; otherwise a new one is created for
  // that key (evicting the least recently used client when the pool is full). Owned by the
  // pool; valid until the next GetClient. Null only when memory runs out.
  HttpClient* GetClient(const char* host, int port, const HttpControl& settings, LogBase& log);

  int count() const { return clients_.count(); }
  // Least recently used first; null when out of range.
  HttpClient* clientAt(int index) const;
  // Closes and destroys every client.
  void clear() { clients_.removeAllAndDelete(); }

 private:
  OwningPtrArray clients_;
};

}  // namespace quillon
