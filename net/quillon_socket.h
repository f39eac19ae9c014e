// One TCP client connection over POSIX sockets: name lookup, connect with a time-out, and the
// sends and receives of the HTTP client and the TLS channel, each wait cut into heartbeat slices
// so the application's abort check runs while it waits. IPv4 only; no listening sockets.
// Waits use poll (descriptors above 1024 work); a test seam replaces the poll call.
#pragma once

#include <cstdint>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "net/bandwidth_throttle.h"
#include "net/performance_mon.h"

namespace quillon {

class DataBuffer;
class LogBase;
class Output;
class ProgressMonitor;

// The out flags of a receive: why it failed, or that the application asked to abort.
// endOfSession: a TLS peer ended its session (close-notify).
struct SocketFlags {
  bool timedOut = false;
  bool aborted = false;
  bool error = false;
  bool closedByPeer = false;
  bool endOfSession = false;

  void clear() { *this = SocketFlags{}; }
};

// Replaces the poll call of every wait on one socket (tests record the slice lengths and decide
// readiness without waiting out real time).
class SocketWaitSeam {
 public:
  virtual ~SocketWaitSeam() = default;
  // Waits up to ms for events on fd; returns what poll would (-1, 0 or 1) with revents set.
  virtual int pollOnce(int fd, short events, uint32_t ms, short& revents) = 0;
};

// Why the last connect failed: the library's connect failure reasons, with their numbers.
enum class ConnectFailure : int {
  None = 0,
  NoHost = 1,         // host name missing or empty
  Lookup = 2,         // the name did not resolve (or resolved to address 0)
  LookupTimeout = 3,  // the lookup timed out or used up the connect time-out
  Aborted = 4,        // the application aborted, during the lookup or the connect
  NoSocket = 5,       // no socket could be created
  ConnectTimeout = 6,
  Connect = 7,  // the connect failed for another reason
};

class QuillonSocket : public QuillonObject {
 public:
  static constexpr uint32_t kDefaultIdleTimeoutMs = 30000;
  static constexpr uint32_t kDefaultConnectTimeoutMs = 7000;
  // An idle time-out of 0 asks for six hours; nothing above this is stored.
  static constexpr uint32_t kIdleTimeoutZeroMs = 21600000;
  static constexpr uint32_t kMaxIdleTimeoutMs = 5000000;
  // A wait given no time-out waits this long.
  static constexpr uint32_t kNoTimeoutMs = 21600000;
  static constexpr uint32_t kMinHeartbeatMs = 50;
  // Socket buffer sizes outside [min, max) leave the system default.
  static constexpr uint32_t kMinBufferSize = 1000;
  static constexpr uint32_t kMaxBufferSize = 2000000;
  // Send chunks: the default, and the clamps of a chunk size asked for.
  static constexpr uint32_t kDefaultSendChunk = 32767;
  static constexpr uint32_t kMinSendChunk = 1000;
  static constexpr uint32_t kMaxSendChunk = 2000000;
  // Bulk receives allocate at most this much at once, whatever length the peer announced.
  static constexpr uint32_t kMaxReadBlock = 2200000;
  static constexpr uint64_t kLargeReadPiece = 20000000;

  QuillonSocket();
  ~QuillonSocket() override;
  QuillonSocket(const QuillonSocket&) = delete;
  QuillonSocket& operator=(const QuillonSocket&) = delete;

  // ---- Settings

  // Sockets need no start-up here: always true, logs nothing.
  static bool EnsureWinsockStarted(LogBase& log);

  void SetConnectTimeoutSec(uint32_t seconds) { connectTimeoutMs_ = seconds * 1000; }
  uint32_t GetConnectTimeoutSec() const { return connectTimeoutMs_ / 1000; }
  // Millisecond form for tests, which cannot wait whole seconds; 0 = plain blocking connect.
  void SetConnectTimeoutMs(uint32_t ms) { connectTimeoutMs_ = ms; }
  uint32_t GetConnectTimeoutMs() const { return connectTimeoutMs_; }
  // 0 means six hours, and anything above 5,000,000 ms is stored as 5,000,000.
  void SetIdleTimeoutMs(uint32_t ms);
  uint32_t GetIdleTimeoutMs() const { return idleTimeoutMs_; }

  void SetSendBufferSize(uint32_t size) { sendBufferSize_ = size; }
  void SetReceiveBufferSize(uint32_t size) { receiveBufferSize_ = size; }
  // Local address and port to bind to before connecting; empty and 0 mean any.
  void SetClientBindIp(const char* ip) { clientBindIp_.assign(ip ? ip : ""); }
  void SetClientBindPort(uint16_t port) { clientBindPort_ = port; }
  // Feeds the byte counts of both directions to the rate monitors.
  void SetRateReportsEnabled(bool on) { rateReports_ = on; }

  BandwidthThrottle& UploadThrottle() { return uploadThrottle_; }
  BandwidthThrottle& DownloadThrottle() { return downloadThrottle_; }
  PerformanceMon& SendRateMonitor() { return sendRate_; }
  PerformanceMon& ReceiveRateMonitor() { return receiveRate_; }

  // Tests only: every wait of this socket polls through seam (null restores poll).
  void SetWaitSeamForTests(SocketWaitSeam* seam) { waitSeam_ = seam; }

  // ---- State

  bool IsConnected() const { return connected_; }
  int SocketFd() const { return fd_.fd(); }
  uint32_t SocketSerial() const { return socketSerial_; }
  // Dotted IPv4 text of the last connect target (the host text itself when it was numeric).
  const StringBuffer& RemoteIpAddress() const { return remoteIp_; }
  // None after a successful connect.
  ConnectFailure ConnectFailReason() const { return connectFailReason_; }
  // Winsock code of the last send error, 0 if none.
  int LastSendError() const { return lastSendError_; }
  // Winsock code of the last failed connect call (refused, unreachable, ...), 0 if none.
  int ConnectSystemError() const { return connectSystemError_; }
  // Connected, with nothing queued from the peer: no bytes, no close, no reset (one look
  // without waiting). An idle kept-alive connection that fails it is not used again.
  bool IsQuietAndOpen();

  // ---- Connecting

  // Closes any socket and creates a new one with the configured buffer sizes, bound to the
  // client address when bindIfConfigured and one is set. False with the reason in log.
  bool CreateSocket(LogBase& log, bool bindIfConfigured);
  // Binds the socket to ipText (any address when null or empty) and the client bind port.
  bool BindClientAddress(const char* ipText, LogBase& log);
  // Connect, or ConnectWithAbort when both a heartbeat and a progress monitor are given.
  bool ConnectDispatch(const char* host, int port, uint32_t heartbeatMs, LogBase& log,
                       bool& dnsFailed, ProgressMonitor* progress);
  // Resolves host ("localhost" is 127.0.0.1 without a lookup) and connects within the connect
  // time-out. False with ConnectFailReason set; dnsFailed when the name did not resolve.
  bool Connect(const char* host, int port, LogBase& log, bool& dnsFailed);
  // Connect with the application's abort check every heartbeat, during the lookup as well.
  bool ConnectWithAbort(const char* host, int port, uint32_t heartbeatMs, LogBase& log,
                        bool& dnsFailed, ProgressMonitor* progress);
  // Shuts the socket down both ways and closes it; always clears the connected flag.
  void Close(LogBase& log);

  // ---- Waits

  // One wait for writability: seconds (0 = 21,600) or ms (0 = 21,600,000).
  bool WaitWritable(uint32_t seconds, LogBase& log);
  bool WaitWritableMs(uint32_t ms, LogBase& log);
  // Waits for writability in heartbeat slices (at least 50 ms) with an abort check after each;
  // initialDelayMs is slept first. A timeout of 0 is six hours.
  bool WaitWritableWithAbort(uint32_t heartbeatMs, uint32_t initialDelayMs, uint32_t timeoutMs,
                             LogBase& log, ProgressMonitor* progress, bool& aborted);
  // One wait for data (0 ms = 20). A failing wait closes the socket and sets lost.
  bool WaitForData(uint32_t ms, ProgressMonitor* progress, bool& lost, LogBase& log);
  // WaitForData in 200 ms slices; before each, progressStep units are reported to progress
  // while less than progressLimit has been reported.
  bool WaitForDataSliced(uint32_t totalMs, LogBase& log, ProgressMonitor* progress,
                         uint32_t progressStep, uint32_t progressLimit);
  // Waits for data in heartbeat slices, the first one halved so the first abort check comes
  // early. False with error, aborted or timedOut set.
  bool WaitReadable(uint32_t heartbeatMs, uint32_t timeoutMs, ProgressMonitor* progress,
                    bool& error, bool& aborted, bool& timedOut, LogBase& log);

  // ---- Sending

  // The send chunk used for a chunk size asked for (0 = 32,767, clamped to 1,000..2,000,000).
  static uint32_t EffectiveSendChunk(uint32_t chunkSize);
  // Sends all length bytes in chunks, waiting at most the idle time-out for room each time.
  bool SendBytes2(const uint8_t* data, uint32_t length, uint32_t chunkSize, uint32_t heartbeatMs,
                  LogBase& log, ProgressMonitor* progress);
  // Sends like SendBytes2 (numFirstChunks chunks of firstChunk, then laterChunk) while draining
  // whatever the peer sends meanwhile into received.
  bool SendBytesWhileReceiving(const uint8_t* data, uint32_t length, uint32_t firstChunk,
                               uint32_t numFirstChunks, uint32_t laterChunk,
                               uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress,
                               DataBuffer& received);
  // Appends what is readable now (for at most about 100 ms) to buffer; false when the peer
  // closed or the read failed.
  bool AccumulateAvailable(DataBuffer& buffer, LogBase& log, ProgressMonitor* progress);

  // ---- Receiving

  // One wait of up to the idle time-out (200 ms slices) and one recv of at most size bytes;
  // size is set to the count received.
  bool ReceiveOnce(uint8_t* buffer, uint32_t& size, bool& timedOut, bool& closed, LogBase& log,
                   ProgressMonitor* progress);
  // ReceiveOnce until it fails; true when anything was appended.
  bool ReceiveUntilClosed(DataBuffer& buffer, LogBase& log, ProgressMonitor* progress,
                          bool& closed);
  // One sliced wait of up to the idle time-out and one recv of at most size bytes; size is set
  // to the count received. flags tell why it failed.
  bool ReceiveSome(uint8_t* buffer, uint32_t& size, uint32_t heartbeatMs, LogBase& log,
                   ProgressMonitor* progress, SocketFlags& flags);
  // Receives exactly count bytes into buffer; received is the count that arrived.
  bool ReceiveExactly(uint8_t* buffer, uint32_t count, uint32_t heartbeatMs, LogBase& log,
                      ProgressMonitor* progress, uint32_t& received, SocketFlags& flags);
  // Appends exactly count bytes to buffer, allocating at most 2,200,000 bytes at a time.
  bool ReadN(uint32_t count, DataBuffer& buffer, uint32_t heartbeatMs, LogBase& log,
             ProgressMonitor* progress, SocketFlags& flags);
  // Writes exactly count bytes to output; what arrived before a failure is written too.
  bool ReceiveNToOutput(uint64_t count, Output& output, uint32_t heartbeatMs, LogBase& log,
                        ProgressMonitor* progress, SocketFlags& flags);
  // Writes everything until the peer closes to output, in reads of bufferSize
  // (1..1,000,000). True when anything was written.
  bool ReceiveToOutput(Output& output, uint32_t bufferSize, uint32_t heartbeatMs, LogBase& log,
                       ProgressMonitor* progress, SocketFlags& flags);

 private:
  // poll through the seam; EINTR is retried with the time left.
  int PollFor(short events, uint32_t ms, short& revents);
  // Shutdown, close, not connected.
  void DropConnection();
  bool SetNonBlocking(bool on);
  bool AbortRequested(ProgressMonitor* progress, uint32_t heartbeatMs);
  void AccountReceived(uint32_t count, ProgressMonitor* progress);
  void AccountSent(uint32_t count, ProgressMonitor* progress);
  // How one send loop cuts and logs: numFirstChunks chunks of firstChunk, then laterChunk;
  // received, when set, is filled with what the peer sends meanwhile.
  struct SendPlan {
    uint32_t firstChunk;
    uint32_t numFirstChunks;
    uint32_t laterChunk;
    DataBuffer* received;
    const char* noSocketMessage;
    const char* abortedMessage;
    const char* throttleAbortedMessage;
  };
  // The body of SendBytes2 and SendBytesWhileReceiving.
  bool SendLoop(const uint8_t* data, uint32_t length, const SendPlan& plan, uint32_t heartbeatMs,
                LogBase& log, ProgressMonitor* progress);
  // Waits up to idleMs for room to send in short steps, draining received between them;
  // drainFailed when a drain failed (the peer closed or the read failed; already logged).
  bool WaitWritableWhileDraining(DataBuffer& received, uint32_t heartbeatMs, uint32_t idleMs,
                                 LogBase& log, ProgressMonitor* progress, bool& aborted,
                                 bool& drainFailed);
  // Accounts bytes just sent and counts them in progress; false (logged) when it asks to abort.
  bool CountSentBytes(uint32_t count, ProgressMonitor* progress, LogBase& log);
  // The log lines of a send that stopped before its end: aborted, or the idle time-out.
  void LogUnfinishedSend(bool aborted, uint32_t idleMs, LogBase& log);
  // How a connect waits: in heartbeat slices that ask the progress monitor about aborting, or
  // in one piece (a lookup still polls its own monitor).
  enum class ConnectWait { kPlain, kWithAbort };
  bool ConnectImpl(const char* host, int port, uint32_t heartbeatMs, LogBase& log,
                   bool& dnsFailed, ProgressMonitor* progress, ConnectWait wait);
  bool ReceiveNToOutput32(uint32_t count, Output& output, uint8_t* work, uint32_t heartbeatMs,
                          LogBase& log, ProgressMonitor* progress, SocketFlags& flags);

  uint32_t sendBufferSize_ = 0;
  uint32_t receiveBufferSize_ = 0;
  PerformanceMon receiveRate_{PerformanceMon::kReceive};
  PerformanceMon sendRate_{PerformanceMon::kSend};
  UniqueFd fd_;
  uint32_t socketSerial_;
  BandwidthThrottle uploadThrottle_;
  BandwidthThrottle downloadThrottle_;
  uint32_t idleTimeoutMs_ = kDefaultIdleTimeoutMs;
  uint32_t connectTimeoutMs_ = kDefaultConnectTimeoutMs;
  int lastSendError_ = 0;
  int connectSystemError_ = 0;
  StringBuffer remoteIp_;
  ConnectFailure connectFailReason_ = ConnectFailure::None;
  StringBuffer clientBindIp_;
  uint16_t clientBindPort_ = 0;
  bool rateReports_ = false;
  bool connected_ = false;
  SocketWaitSeam* waitSeam_ = nullptr;
};

}  // namespace quillon
