#include "net/socket_errors.h"

#include <cerrno>
#include <cstdio>

#include "base/log_base.h"

namespace quillon {

int WinsockErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0: return 0;
    case EINTR: return kWsaEIntr;
    case EBADF: return kWsaEBadF;
    case EACCES:
    case EPERM: return kWsaEAcces;
    case EFAULT: return kWsaEFault;
    case EINVAL: return kWsaEInval;
    case EMFILE:
    case ENFILE: return kWsaEMFile;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS: return kWsaEWouldBlock;
    case EALREADY: return kWsaEAlready;
    case ENOTSOCK: return kWsaENotSock;
    case EDESTADDRREQ: return kWsaEDestAddrReq;
    case EMSGSIZE: return kWsaEMsgSize;
    case EPROTOTYPE: return kWsaEProtoType;
    case ENOPROTOOPT: return kWsaENoProtoOpt;
    case EPROTONOSUPPORT: return kWsaEProtoNoSupport;
    case ESOCKTNOSUPPORT: return kWsaESocktNoSupport;
    case EOPNOTSUPP: return kWsaEOpNotSupp;
    case EAFNOSUPPORT: return kWsaEAfNoSupport;
    case EADDRINUSE: return kWsaEAddrInUse;
    case EADDRNOTAVAIL: return kWsaEAddrNotAvail;
    case ENETDOWN: return kWsaENetDown;
    case ENETUNREACH: return kWsaENetUnreach;
    case ENETRESET: return kWsaENetReset;
    case ECONNABORTED: return kWsaEConnAborted;
    // A send after the peer reset the connection reports EPIPE here; Winsock says reset.
    case EPIPE:
    case ECONNRESET: return kWsaEConnReset;
    case ENOBUFS:
    case ENOMEM: return kWsaENoBufs;
    case EISCONN: return kWsaEIsConn;
    case ENOTCONN: return kWsaENotConn;
    case ETIMEDOUT: return kWsaETimedOut;
    case ECONNREFUSED: return kWsaEConnRefused;
    case EHOSTDOWN: return kWsaEHostDown;
    case EHOSTUNREACH: return kWsaEHostUnreach;
    default: return errnoValue;
  }
}

const char* WinsockErrorText(int code) {
  switch (code) {
    case 10013:
      return "WSAEACCES An attempt was made to access a socket in a way forbidden by its access "
             "permissions.";
    case 10022:
      return "WSAEINVAL An invalid argument was supplied.";
    case 10024:
      return "WSAEMFILE No more socket descriptors are available.";
    case 10035:
      return "WSAEWOULDBLOCK The socket would block.";
    case 10036:
      return "WSAEINPROGRESS A blocking Windows Sockets 1.1 call is in progress, or the service "
             "provider is still processing a callback function.";
    case 10041:
      return "WSAEPROTOTYPE The specified protocol is the wrong type for this socket.";
    case 10043:
      return "WSAEPROTONOSUPPORT The specified protocol is not supported.";
    case 10044:
      return "WSAESOCKTNOSUPPORT The specified socket type is not supported in this address "
             "family.";
    case 10047:
      return "WSAEAFNOSUPPORT The specified address family is not supported.";
    case 10048:
      return "WSAEADDRINUSE Only one usage of each socket address (protocol/network address/port) "
             "is normally permitted.";
    case 10050:
      return "WSAENETDOWN The network subsystem or the associated service provider has failed.";
    case 10051:
      return "WSAENETUNREACH A socket operation was attempted to an unreachable network.";
    case 10053:
      return "WSAECONNABORTED An established connection was aborted by the software in your host "
             "machine.";
    case 10054:
      return "WSAECONNRESET An existing connection was forcibly closed by the remote host.";
    case 10055:
      return "WSAENOBUFS No buffer space is available. The socket cannot be created.";
    case 10060:
      return "WSAETIMEDOUT A connection attempt failed because the connected party did not "
             "properly respond after a period of time, or established connection failed because "
             "connected host has failed to respond.";
    case 10061:
      return "WSAECONNREFUSED No connection could be made because the target machine actively "
             "refused it.";
    case 10093:
      return "WSANOTINITIALISED A successful WSAStartup must occur before using this function.";
    case 10106:
      return "WSAEPROVIDERFAILEDINIT The requested service provider could not be loaded or "
             "initialized.";
    default:
      return nullptr;
  }
}

void LogSocketError(int code, LogBase& log) {
  const char* text = WinsockErrorText(code);
  if (text) {
    log.addTag("SocketError", text);
    return;
  }
  char unlisted[32];
  std::snprintf(unlisted, sizeof unlisted, "Error %x", static_cast<unsigned>(code));
  log.addTag("SocketError", unlisted);
  log.addError(
      "Check to make sure the connection is not blocked by a firewall or anti-virus port "
      "filtering.");
}

}  // namespace quillon
