// Socket error codes as the library logs them: errno values mapped to the Winsock numbers, and
// the Winsock texts written into the log. Nothing here touches a socket.
#pragma once

namespace quillon {

class LogBase;

inline constexpr int kWsaEIntr = 10004;
inline constexpr int kWsaEBadF = 10009;
inline constexpr int kWsaEAcces = 10013;
inline constexpr int kWsaEFault = 10014;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEMFile = 10024;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaEAlready = 10037;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEDestAddrReq = 10039;
inline constexpr int kWsaEMsgSize = 10040;
inline constexpr int kWsaEProtoType = 10041;
inline constexpr int kWsaENoProtoOpt = 10042;
inline constexpr int kWsaEProtoNoSupport = 10043;
inline constexpr int kWsaESocktNoSupport = 10044;
inline constexpr int kWsaEOpNotSupp = 10045;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEAddrNotAvail = 10049;
inline constexpr int kWsaENetDown = 10050;
inline constexpr int kWsaENetUnreach = 10051;
inline constexpr int kWsaENetReset = 10052;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENoBufs = 10055;
inline constexpr int kWsaEIsConn = 10056;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaEHostDown = 10064;
inline constexpr int kWsaEHostUnreach = 10065;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaEProviderFailedInit = 10106;

// The Winsock number for an errno value (EINPROGRESS and EAGAIN both become would-block, EPIPE
// a reset). A value with no counterpart is returned unchanged; 0 stays 0.
int WinsockErrorFromErrno(int errnoValue);

// The Winsock text of a listed code, or null for a code the table does not list.
const char* WinsockErrorText(int code);

// Logs data "SocketError" with the code's text; an unlisted code is logged as "Error %x" and
// followed by the firewall hint line.
void LogSocketError(int code, LogBase& log);

}  // namespace quillon
