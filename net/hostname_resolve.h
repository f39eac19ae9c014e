// Host-name lookup (IPv4) for socket connects. A lookup with a heartbeat and a progress monitor
// runs on a detached worker thread while the caller polls for the result, an abort and a
// time-out; the shared HostnameResolve is reference-counted, so a lookup its caller abandoned
// ends safely. Every lookup goes through one resolver function, which tests replace.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/string_buffer.h"

namespace quillon {

class LogBase;
class ProgressMonitor;

// Looks name up and stores its first IPv4 address (network byte order); false when there is
// none. May block for as long as the system resolver takes; it runs on worker threads.
using ResolverFunction = bool (*)(const char* name, uint32_t& address);

// The real resolver: getaddrinfo with AF_INET.
bool SystemResolve(const char* name, uint32_t& address);
// Replaces the resolver of every later lookup (tests); null restores SystemResolve.
void SetResolverForTests(ResolverFunction resolver);

// Formats a network-order IPv4 address as dotted text.
void FormatIpv4(uint32_t address, StringBuffer& out);

// Holds a reference count; releasing the last reference deletes the object.
class RefCountedObject {
 public:
  RefCountedObject() = default;
  RefCountedObject(const RefCountedObject&) = delete;
  RefCountedObject& operator=(const RefCountedObject&) = delete;

  void addRef();
  // Drops one reference; the last one deletes the object.
  void release();

 protected:
  virtual ~RefCountedObject() = default;

 private:
  std::atomic<int> refs_{0};
};

// One lookup, shared by the caller and its worker thread (one reference each).
class HostnameResolve : public RefCountedObject {
 public:
  static constexpr uint32_t kPollIntervalMs = 10;

  // A new lookup object with no references, or null when memory runs out.
  static HostnameResolve* Create();

  // Looks name up. Without a heartbeat or a progress monitor the caller's thread does the
  // lookup itself; otherwise a worker does it while the caller polls every 10 ms, runs the
  // abort check every heartbeat and gives up after timeoutMs (0 = no limit), setting aborted
  // or timedOut. The worker is never stopped. True when a dotted address text was found.
  bool Resolve(const char* name, uint32_t timeoutMs, uint32_t heartbeatMs, LogBase& log,
               ProgressMonitor* progress, StringBuffer& ipText, uint32_t& address, bool& aborted,
               bool& timedOut);

  // The number of lookup objects alive in the process (tests wait for abandoned ones).
  static int LiveCountForTests();

 private:
  HostnameResolve();
  ~HostnameResolve() override;

  // The worker's part: look up, publish the result, clear the running flag.
  void RunLookup();

  StringBuffer name_;
  // Written by the worker before it clears running_; read by the caller only after.
  char ipText_[16] = {};
  uint32_t address_ = 0;
  std::atomic<bool> running_{false};
};

// Resolves name for a connect: one lookup, then (when that fails in time) the name cleaned of
// blanks, quotes, '<', '>', ':', '/', '@' and '?' and lower-cased, then "www." + the cleaned name
// when it has exactly one dot. timeoutMs covers all attempts (0 = none). On success ipText and
// ipAddress hold the address; on failure aborted or timedOut tells why, if either applies.
bool ResolveHostname(const char* name, uint32_t timeoutMs, uint32_t heartbeatMs, LogBase& log,
                     ProgressMonitor* progress, StringBuffer& ipText, uint32_t& ipAddress,
                     bool& aborted, bool& timedOut);

}  // namespace quillon
