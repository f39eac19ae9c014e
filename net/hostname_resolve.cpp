#include "net/hostname_resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "base/log_base.h"
#include "base/platform.h"
#include "base/progress.h"

namespace quillon {
namespace {

std::atomic<ResolverFunction> g_resolver{nullptr};
std::atomic<int> g_liveLookups{0};

ResolverFunction CurrentResolver() {
  ResolverFunction resolver = g_resolver.load();
  return resolver ? resolver : &SystemResolve;
}

// Milliseconds since start; a tick count that went backwards restarts the measurement.
uint32_t ElapsedSince(uint32_t& start) {
  uint32_t now = TickCount();
  if (now < start) start = now;
  return now - start;
}

}  // namespace

bool SystemResolve(const char* name, uint32_t& address) {
  address = 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      address = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(found);
  return true;
}

void SetResolverForTests(ResolverFunction resolver) { g_resolver.store(resolver); }

void FormatIpv4(uint32_t address, StringBuffer& out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  out.assign(text);
}

// ---- RefCountedObject

void RefCountedObject::addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

void RefCountedObject::release() {
  // acq_rel: the last owner must see every write the other owner made before its release.
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

// ---- HostnameResolve

HostnameResolve::HostnameResolve() { g_liveLookups.fetch_add(1); }

HostnameResolve::~HostnameResolve() { g_liveLookups.fetch_sub(1); }

HostnameResolve* HostnameResolve::Create() { return new (std::nothrow) HostnameResolve(); }

int HostnameResolve::LiveCountForTests() { return g_liveLookups.load(); }

void HostnameResolve::RunLookup() {
  try {
    uint32_t address = 0;
    if (CurrentResolver()(name_.getString(), address)) {
      StringBuffer text;
      FormatIpv4(address, text);
      address_ = address;
      std::snprintf(ipText_, sizeof ipText_, "%s", text.getString());
    }
  } catch (...) {
    // The lookup failed; the empty text says so.
  }
  running_.store(false, std::memory_order_release);
}

bool HostnameResolve::Resolve(const char* name, uint32_t timeoutMs, uint32_t heartbeatMs,
                              LogBase& log, ProgressMonitor* progress, StringBuffer& ipText,
                              uint32_t& address, bool& aborted, bool& timedOut) {
  ipText.clear();
  address = 0;
  if (name == nullptr) return false;

  if (heartbeatMs == 0 || progress == nullptr) {
    uint32_t found = 0;
    if (!CurrentResolver()(name, found)) return false;
    address = found;
    FormatIpv4(found, ipText);
    return true;
  }

  if (!name_.assign(name)) {
    log.addError("Memory allocation failure.");
    return false;
  }
  running_.store(true);
  addRef();  // the worker's reference
  try {
    std::thread([this] {
      RunLookup();
      release();
    }).detach();
  } catch (...) {
    running_.store(false);
    release();
    log.addError("Failed to start the DNS lookup thread.");
    return false;
  }

  uint32_t start = TickCount();
  uint32_t sinceAbortCheck = 0;
  for (;;) {
    if (!running_.load(std::memory_order_acquire)) {
      address = address_;
      ipText.assign(ipText_);
      return !ipText.isEmpty();
    }
    SleepMs(kPollIntervalMs);
    sinceAbortCheck += kPollIntervalMs;
    if (sinceAbortCheck >= heartbeatMs) {
      sinceAbortCheck = 0;
      if (progress->checkInterval(heartbeatMs)) {
        aborted = true;
        log.addError("DNS lookup aborted by application callback");
        return false;
      }
    }
    if (timeoutMs != 0 && ElapsedSince(start) > timeoutMs) {
      timedOut = true;
      return false;
    }
  }
}

// ---- ResolveHostname

namespace {

// One lookup through a fresh shared object; false with a log line when it cannot be made.
bool ResolveOnce(const char* name, uint32_t timeoutMs, uint32_t heartbeatMs, LogBase& log,
                 ProgressMonitor* progress, StringBuffer& ipText, uint32_t& address,
                 bool& aborted, bool& timedOut, const char* allocationMessage) {
  HostnameResolve* lookup = HostnameResolve::Create();
  if (lookup == nullptr) {
    log.addError(allocationMessage);
    return false;
  }
  lookup->addRef();
  bool ok = lookup->Resolve(name, timeoutMs, heartbeatMs, log, progress, ipText, address,
                            aborted, timedOut);
  lookup->release();
  return ok && !ipText.isEmpty();
}

// Characters a typed host name may carry that no real one does.
bool IsCleanedAway(char c) {
  return std::strchr(" \t\r\n'\"<>:/@?", c) != nullptr;
}

}  // namespace

bool ResolveHostname(const char* name, uint32_t timeoutMs, uint32_t heartbeatMs, LogBase& log,
                     ProgressMonitor* progress, StringBuffer& ipText, uint32_t& ipAddress,
                     bool& aborted, bool& timedOut) {
  ipText.clear();
  ipAddress = 0;
  aborted = false;
  timedOut = false;
  if (name == nullptr) return false;

  uint32_t start = TickCount();
  uint32_t remaining = timeoutMs;
  // False when the time is used up (timedOut set and logged); else shrinks remaining.
  auto timeLeft = [&]() {
    if (timeoutMs == 0) return true;
    uint32_t used = ElapsedSince(start);
    if (used >= timeoutMs) {
      timedOut = true;
      log.addError("DNS timed out.");
      return false;
    }
    remaining = timeoutMs - used;
    return true;
  };

  if (ResolveOnce(name, remaining, heartbeatMs, log, progress, ipText, ipAddress, aborted,
                  timedOut, "Memory allocation failure.")) {
    return true;
  }
  // An abort ends the lookup: retrying would only ask the application again.
  if (aborted || !timeLeft()) return false;

  StringBuffer cleaned(name);
  cleaned.trim();
  StringBuffer kept;
  for (char c : cleaned.view()) {
    if (!IsCleanedAway(c)) kept.appendChar(c);
  }
  kept.toLowerCase();
  if (!kept.isEmpty() && kept.length() != std::strlen(name)) {
    if (ResolveOnce(kept.getString(), remaining, heartbeatMs, log, progress, ipText, ipAddress,
                    aborted, timedOut, "Memory allocation error")) {
      return true;
    }
    if (aborted || !timeLeft()) return false;
  }

  uint32_t dots = 0;
  for (char c : kept.view()) dots += c == '.' ? 1 : 0;
  if (dots == 1) {
    StringBuffer withWww("www.");
    withWww.append(kept);
    if (ResolveOnce(withWww.getString(), remaining, heartbeatMs, log, progress, ipText,
                    ipAddress, aborted, timedOut, "Memory allocation error")) {
      return true;
    }
  }
  return false;
}

}  // namespace quillon
