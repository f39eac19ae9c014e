// Connection half of QuillonSocket: settings, socket creation, binding, connecting, closing,
// and the poll primitive every wait goes through. The sends and receives are in socket_io.cpp.
#include "net/quillon_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>

#include "base/log_base.h"
#include "base/platform.h"
#include "base/progress.h"
#include "net/hostname_resolve.h"
#include "net/socket_errors.h"

namespace quillon {
namespace {

std::atomic<uint32_t> g_socketSerial{0};

// The heartbeat of the lookup inside a plain Connect, whose monitor has no application sink.
constexpr uint32_t kPlainConnectLookupHeartbeatMs = 200;

// Nothing below throws by design; should anything (memory running out) the connect still fails
// with its reason in the log.
void LogConnectException(const char* what, LogBase& log) {
  log.addError("Connect function failed");
  log.addTag("exception", what);
}

}  // namespace

// ---- Construction and settings

QuillonSocket::QuillonSocket() : socketSerial_(g_socketSerial.fetch_add(1) + 1) {
  LogNull ignored;
  EnsureWinsockStarted(ignored);
}

QuillonSocket::~QuillonSocket() = default;

bool QuillonSocket::EnsureWinsockStarted(LogBase&) { return true; }

void QuillonSocket::SetIdleTimeoutMs(uint32_t ms) {
  if (ms == 0) ms = kIdleTimeoutZeroMs;
  idleTimeoutMs_ = ms > kMaxIdleTimeoutMs ? kMaxIdleTimeoutMs : ms;
}

// ---- Low-level helpers

int QuillonSocket::PollFor(short events, uint32_t ms, short& revents) {
  revents = 0;
  if (waitSeam_ != nullptr) return waitSeam_->pollOnce(fd_.fd(), events, ms, revents);
  uint32_t start = TickCount();
  uint32_t left = ms;
  for (;;) {
    pollfd entry{fd_.fd(), events, 0};
    int rc = ::poll(&entry, 1, static_cast<int>(left));
    if (rc >= 0) {
      revents = entry.revents;
      // A descriptor poll does not know is select's error, not a ready socket.
      if (rc > 0 && (entry.revents & POLLNVAL)) return -1;
      return rc;
    }
    if (errno != EINTR) return -1;
    uint32_t now = TickCount();
    if (now < start) start = now;
    if (now - start >= ms) return 0;
    left = ms - (now - start);
  }
}

void QuillonSocket::DropConnection() {
  if (fd_.isValid()) {
    ::shutdown(fd_.fd(), SHUT_RDWR);
    fd_.reset();
  }
  connected_ = false;
}

bool QuillonSocket::SetNonBlocking(bool on) {
  int flags = ::fcntl(fd_.fd(), F_GETFL, 0);
  if (flags < 0) return false;
  int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || ::fcntl(fd_.fd(), F_SETFL, wanted) == 0;
}

bool QuillonSocket::AbortRequested(ProgressMonitor* progress, uint32_t heartbeatMs) {
  return progress != nullptr && progress->checkInterval(heartbeatMs);
}

void QuillonSocket::AccountReceived(uint32_t count, ProgressMonitor* progress) {
  downloadThrottle_.account(count);
  if (rateReports_) receiveRate_.addBytes(count, progress);
}

void QuillonSocket::AccountSent(uint32_t count, ProgressMonitor* progress) {
  uploadThrottle_.account(count);
  if (rateReports_) sendRate_.addBytes(count, progress);
}

// ---- Creating, binding, closing

bool QuillonSocket::CreateSocket(LogBase& log, bool bindIfConfigured) {
  if (!EnsureWinsockStarted(log)) return false;
  Close(log);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    LogSocketError(WinsockErrorFromErrno(errno), log);
    return false;
  }
  fd_.reset(fd);
  if (sendBufferSize_ >= kMinBufferSize && sendBufferSize_ < kMaxBufferSize) {
    int size = static_cast<int>(sendBufferSize_);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  if (receiveBufferSize_ >= kMinBufferSize && receiveBufferSize_ < kMaxBufferSize) {
    int size = static_cast<int>(receiveBufferSize_);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  if (bindIfConfigured && (!clientBindIp_.isEmpty() || clientBindPort_ != 0)) {
    log.addTag("BindIpAddr", clientBindIp_.getString());
    if (clientBindPort_ != 0) log.addTagInt("BindPort", clientBindPort_);
    if (!BindClientAddress(clientBindIp_.getString(), log)) {
      log.addError("Failed to bind to local IP address");
      Close(log);
      return false;
    }
  }
  return true;
}

bool QuillonSocket::BindClientAddress(const char* ipText, LogBase& log) {
  log.addTag("ClientBindIP", ipText ? ipText : "");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = (ipText == nullptr || *ipText == '\0') ? htonl(INADDR_ANY)
                                                                   : inet_addr(ipText);
  local.sin_port = htons(clientBindPort_);
  if (::bind(fd_.fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    LogSocketError(WinsockErrorFromErrno(errno), log);
    return false;
  }
  return true;
}

void QuillonSocket::Close(LogBase&) { DropConnection(); }

// ---- Connecting

bool QuillonSocket::ConnectDispatch(const char* host, int port, uint32_t heartbeatMs,
                                    LogBase& log, bool& dnsFailed, ProgressMonitor* progress) {
  connectFailReason_ = ConnectFailure::None;
  connectSystemError_ = 0;
  try {
    if (heartbeatMs != 0 && progress != nullptr) {
      return ConnectWithAbort(host, port, heartbeatMs, log, dnsFailed, progress);
    }
    return Connect(host, port, log, dnsFailed);
  } catch (const std::exception& e) {
    LogConnectException(e.what(), log);
  } catch (...) {
    LogConnectException("unknown exception", log);
  }
  connectFailReason_ = ConnectFailure::Connect;
  return false;
}

bool QuillonSocket::Connect(const char* host, int port, LogBase& log, bool& dnsFailed) {
  return ConnectImpl(host, port, 0, log, dnsFailed, nullptr, ConnectWait::kPlain);
}

bool QuillonSocket::ConnectWithAbort(const char* host, int port, uint32_t heartbeatMs,
                                     LogBase& log, bool& dnsFailed, ProgressMonitor* progress) {
  return ConnectImpl(host, port, heartbeatMs, log, dnsFailed, progress, ConnectWait::kWithAbort);
}

bool QuillonSocket::ConnectImpl(const char* host, int port, uint32_t heartbeatMs, LogBase& log,
                                bool& dnsFailed, ProgressMonitor* progress, ConnectWait wait) {
  const bool withAbort = wait == ConnectWait::kWithAbort;
  connectFailReason_ = ConnectFailure::None;
  dnsFailed = false;
  remoteIp_.clear();
  if (host == nullptr) {
    connectFailReason_ = ConnectFailure::NoHost;
    log.addError("Cannot connect, hostname is NULL");
    return false;
  }
  StringBuffer name(host);
  name.trim();
  if (name.isEmpty()) {
    connectFailReason_ = ConnectFailure::NoHost;
    log.addError("Cannot connect, hostname is zero length");
    return false;
  }
  // A port that does not fit 16 bits would silently connect somewhere else.
  if (port < 0 || port > 65535) {
    connectFailReason_ = ConnectFailure::Connect;
    log.addError("Invalid port number");
    log.addTagInt("port", port);
    return false;
  }
  if (name.equalsIgnoreCase("localhost")) name.assign("127.0.0.1");
  EnsureWinsockStarted(log);

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr.s_addr = inet_addr(name.getString());
  uint32_t remainingMs = connectTimeoutMs_;

  if (target.sin_addr.s_addr == INADDR_NONE) {
    uint32_t lookupStart = TickCount();
    ProgressMonitor ownMonitor(nullptr, 0);
    StringBuffer ipText;
    uint32_t address = 0;
    bool aborted = false;
    bool timedOut = false;
    bool found = ResolveHostname(
        name.getString(), connectTimeoutMs_,
        withAbort ? heartbeatMs : kPlainConnectLookupHeartbeatMs, log,
        withAbort ? progress : &ownMonitor, ipText, address, aborted, timedOut);
    remoteIp_.assign(ipText);
    if (!found || ipText.isEmpty()) {
      dnsFailed = true;
      log.addError(withAbort ? "Cannot get host by name." : "Cannot get host by name..");
      log.addTag("hostname", name.getString());
      connectFailReason_ = aborted    ? ConnectFailure::Aborted
                           : timedOut ? ConnectFailure::LookupTimeout
                                      : ConnectFailure::Lookup;
      return false;
    }
    if (address == 0) {
      connectFailReason_ = ConnectFailure::Lookup;
      return false;
    }
    uint32_t now = TickCount();
    if (connectTimeoutMs_ != 0 && now >= lookupStart) {
      uint32_t used = now - lookupStart;
      if (used >= connectTimeoutMs_) {
        connectFailReason_ = ConnectFailure::LookupTimeout;
        log.addError("Application timeout after DNS");
        return false;
      }
      // A plain connect gives the connect itself the whole time-out again.
      if (withAbort) remainingMs = connectTimeoutMs_ - used;
    }
    target.sin_addr.s_addr = address;
  } else {
    remoteIp_.assign(name);
  }

  if (!CreateSocket(log, true) || !fd_.isValid()) {
    connectFailReason_ = ConnectFailure::NoSocket;
    log.addError("Cannot connect, invalid socket.");
    return false;
  }
  bool timed = connectTimeoutMs_ != 0;
  if (timed) SetNonBlocking(true);

  int rc = ::connect(fd_.fd(), reinterpret_cast<sockaddr*>(&target), sizeof target);
  int error = rc == 0 ? 0 : WinsockErrorFromErrno(errno);
  // An interrupted connect goes on in the background, like a non-blocking one.
  if (rc != 0 && error == kWsaEIntr) error = kWsaEWouldBlock;
  if (rc != 0 && error != kWsaEWouldBlock) {
    if (error == kWsaEInval) {
      log.addTag("IP_Address", remoteIp_.getString());
      log.addTagHex("ipAddr", target.sin_addr.s_addr);
      log.addTag("Hostname", name.getString());
      log.addTagHex("SocketHandle", static_cast<uint32_t>(fd_.fd()));
    }
    log.addTagInt("sockError", error);
  }

  bool timedOut = false;
  if (rc != 0 && error == kWsaEWouldBlock && timed) {
    bool aborted = false;
    bool ready = withAbort
                     ? WaitWritableWithAbort(heartbeatMs, 0, remainingMs, log, progress, aborted)
                     : WaitWritableMs(remainingMs, log);
    if (ready) {
      // Linux reports a refused connect as writable: SO_ERROR decides.
      int soError = 0;
      socklen_t length = sizeof soError;
      if (::getsockopt(fd_.fd(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
      if (soError == 0) {
        SetNonBlocking(false);
        connected_ = true;
        receiveRate_.restart();
        sendRate_.restart();
        return true;
      }
      error = WinsockErrorFromErrno(soError);
      log.addTagInt("sockError", error);
    } else if (aborted) {
      SetNonBlocking(false);
      connectFailReason_ = ConnectFailure::Aborted;
      return false;
    } else {
      timedOut = true;
    }
  }
  if (timed) SetNonBlocking(false);

  if (rc == 0) {
    connected_ = true;
    receiveRate_.restart();
    sendRate_.restart();
    return true;
  }
  if (timedOut) {
    log.addTagInt("ConnectTimeoutMs", static_cast<int32_t>(connectTimeoutMs_));
    connectFailReason_ = ConnectFailure::ConnectTimeout;
    if (withAbort) {
      LogSocketError(kWsaEWouldBlock, log);
      return false;
    }
  } else if (connectFailReason_ == ConnectFailure::None) {
    connectFailReason_ = ConnectFailure::Connect;
  }
  connectSystemError_ = error;
  log.addError(withAbort ? "Connect function failed" : "Connect function failed.");
  LogSocketError(error, log);
  return false;
}

}  // namespace quillon
