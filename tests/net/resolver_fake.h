// A resolver for tests: a table of names that resolve, a record of every name asked for, and
// an optional gate that holds lookups until the test opens it.
#pragma once

#include <arpa/inet.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/platform.h"
#include "net/hostname_resolve.h"

namespace quillon::testing {

class FakeResolver {
 public:
  static FakeResolver& Instance() {
    static FakeResolver instance;
    return instance;
  }

  // Installs the fake with an empty table, an open gate and no record.
  void Install() {
    std::lock_guard<std::mutex> lock(mutex_);
    table_.clear();
    asked_.clear();
    gateClosed_.store(false);
    SetResolverForTests(&Resolve);
  }
  void Uninstall() { SetResolverForTests(nullptr); }

  void Add(const std::string& name, const char* dotted) {
    std::lock_guard<std::mutex> lock(mutex_);
    table_[name] = inet_addr(dotted);
  }
  std::vector<std::string> Asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }
  // While closed, every lookup waits (on its worker thread) until the gate opens.
  void CloseGate() { gateClosed_.store(true); }
  void OpenGate() { gateClosed_.store(false); }

  // Waits until no lookup object is alive (abandoned workers have finished).
  static bool WaitForLookupsToEnd() {
    for (int i = 0; i < 1000; ++i) {
      if (HostnameResolve::LiveCountForTests() == 0) return true;
      SleepMs(5);
    }
    return false;
  }

 private:
  static bool Resolve(const char* name, uint32_t& address) {
    FakeResolver& self = Instance();
    {
      std::lock_guard<std::mutex> lock(self.mutex_);
      self.asked_.push_back(name);
    }
    while (self.gateClosed_.load()) SleepMs(1);
    std::lock_guard<std::mutex> lock(self.mutex_);
    auto found = self.table_.find(name);
    if (found == self.table_.end()) return false;
    address = found->second;
    return true;
  }

  std::mutex mutex_;
  std::map<std::string, uint32_t> table_;
  std::vector<std::string> asked_;
  std::atomic<bool> gateClosed_{false};
};

}  // namespace quillon::testing
