// Data half of QuillonSocket: the waits, sends and receives, each with the idle time-out, the
// heartbeat abort check, the bandwidth throttles and the rate reports.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "base/memory.h"
#include "base/output.h"
#include "base/platform.h"
#include "base/progress.h"
#include "net/quillon_socket.h"
#include "net/socket_errors.h"

namespace quillon {
namespace {

struct FreeBytesDeleter {
  void operator()(uint8_t* block) const { FreeBytes(block); }
};
using ByteBlock = std::unique_ptr<uint8_t, FreeBytesDeleter>;

ByteBlock AllocBlock(uint32_t size) { return ByteBlock(static_cast<uint8_t*>(AllocBytes(size))); }

// The sliced waits' slices for the write waits and the ReceiveOnce wait.
constexpr uint32_t kDataSliceMs = 200;
constexpr uint32_t kMinDataSliceMs = 10;
constexpr uint32_t kWaitForDataZeroMs = 20;
constexpr uint32_t kReceiveOnceDefaultMs = 60000;
constexpr uint32_t kWriteStepMs = 100;
constexpr uint32_t kAccumulateBlock = 2000;
constexpr uint32_t kAccumulateQuietMs = 100;
constexpr uint32_t kUntilClosedBlock = 20000;
constexpr uint32_t kEmptyReadPauseMs = 200;
constexpr uint32_t kMaxEmptyReads = 30;
constexpr uint32_t kMaxOutputBuffer = 1000000;
constexpr uint32_t kZeroSendPauseMs = 10;

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// recv with EINTR retried.
ssize_t RecvRetry(int fd, void* buffer, size_t size, int flags) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, size, flags);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// send that never blocks (the socket's own mode stays as it is), with EINTR retried.
ssize_t SendRetry(int fd, const void* data, size_t size) {
  for (;;) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0 || errno != EINTR) return n;
  }
}

void LogSystemError(LogBase& log, const char* prefix, int error) {
  std::string line(prefix);
  line += SystemErrorText(error);
  log.addError(line.c_str());
}

uint32_t RaiseHeartbeat(uint32_t heartbeatMs) {
  return heartbeatMs != 0 && heartbeatMs < QuillonSocket::kMinHeartbeatMs
             ? QuillonSocket::kMinHeartbeatMs
             : heartbeatMs;
}

uint32_t Min32(uint64_t a, uint64_t b) { return static_cast<uint32_t>(a < b ? a : b); }

}  // namespace

// ---- Write waits

bool QuillonSocket::WaitWritable(uint32_t seconds, LogBase& log) {
  if (!fd_.isValid()) {
    log.addError("invalid socket, not ready for writing.");
    return false;
  }
  if (seconds == 0) seconds = kNoTimeoutMs / 1000;
  short revents = 0;
  int rc = PollFor(POLLOUT, seconds > kNoTimeoutMs / 1000 ? kNoTimeoutMs : seconds * 1000, revents);
  if (rc < 0) {
    log.addError("select returned a socket error");
    return false;
  }
  if (rc == 0) {
    log.addError("socket is not ready for writing.");
    return false;
  }
  return true;
}

bool QuillonSocket::WaitWritableMs(uint32_t ms, LogBase& log) {
  if (!fd_.isValid()) {
    log.addError("invalid socket, not ready for writing.");
    return false;
  }
  if (ms == 0) ms = kNoTimeoutMs;
  short revents = 0;
  int rc = PollFor(POLLOUT, ms, revents);
  if (rc < 0) {
    log.addError("select returned a socket error");
    return false;
  }
  if (rc == 0) {
    log.addError("socket is not ready for writing");
    return false;
  }
  return true;
}

bool QuillonSocket::WaitWritableWithAbort(uint32_t heartbeatMs, uint32_t initialDelayMs,
                                          uint32_t timeoutMs, LogBase& log,
                                          ProgressMonitor* progress, bool& aborted) {
  aborted = false;
  heartbeatMs = RaiseHeartbeat(heartbeatMs);
  if (timeoutMs == 0) timeoutMs = kNoTimeoutMs;
  if (progress == nullptr || heartbeatMs == 0) return WaitWritableMs(timeoutMs, log);
  if (!fd_.isValid()) {
    log.addError("invalid socket, not ready for writing.");
    return false;
  }
  for (uint32_t left = initialDelayMs; left > 0;) {
    uint32_t slice = left < heartbeatMs ? left : heartbeatMs;
    SleepMs(slice);
    left -= slice;
    if (progress->checkInterval(heartbeatMs)) {
      aborted = true;
      log.addError("socket operation aborted by application callback..");
      return false;
    }
  }
  uint32_t waited = 0;
  while (waited < timeoutMs) {
    uint32_t slice = Min32(heartbeatMs, timeoutMs - waited);
    short revents = 0;
    int rc = PollFor(POLLOUT, slice, revents);
    if (rc < 0) {
      log.addError("select returned a socket error");
      return false;
    }
    if (rc > 0) return true;
    waited += slice;
    if (waited >= timeoutMs) break;
    if (progress->checkInterval(heartbeatMs)) {
      aborted = true;
      log.addError("socket operation aborted by application callback");
      return false;
    }
  }
  log.addError("socket is not ready for writing;");
  return false;
}

// ---- Read waits

bool QuillonSocket::WaitForData(uint32_t ms, ProgressMonitor* progress, bool& lost, LogBase& log) {
  lost = false;
  if (progress != nullptr && progress->pollAbort(0)) {
    log.addError("Wait-for-data aborted by app");
    return false;
  }
  if (!fd_.isValid()) {
    lost = true;
    log.addError("Wait-for-data passed invalid socket.");
    return false;
  }
  if (ms == 0) ms = kWaitForDataZeroMs;
  short revents = 0;
  int rc = PollFor(POLLIN, ms, revents);
  if (rc < 0) {
    lost = true;
    log.addError("The peer has closed the socket (TCP) connection");
    DropConnection();
    return false;
  }
  return rc > 0;
}

bool QuillonSocket::WaitForDataSliced(uint32_t totalMs, LogBase& log, ProgressMonitor* progress,
                                      uint32_t progressStep, uint32_t progressLimit) {
  bool lost = false;
  if (progress == nullptr) return WaitForData(totalMs, nullptr, lost, log);
  uint32_t waited = 0;
  uint32_t reported = 0;
  while (waited < totalMs) {
    uint32_t slice = Min32(kDataSliceMs, totalMs - waited);
    if (slice < kMinDataSliceMs) slice = kMinDataSliceMs;
    if (progressStep != 0 && reported < progressLimit) {
      progress->consume(progressStep);
      reported += progressStep;
    }
    if (WaitForData(slice, progress, lost, log)) return true;
    if (lost || progress->isAborted()) return false;
    waited += slice;
  }
  return false;
}

bool QuillonSocket::WaitReadable(uint32_t heartbeatMs, uint32_t timeoutMs,
                                 ProgressMonitor* progress, bool& error, bool& aborted,
                                 bool& timedOut, LogBase& log) {
  heartbeatMs = RaiseHeartbeat(heartbeatMs);
  if (timeoutMs == 0) timeoutMs = kNoTimeoutMs;
  if (!fd_.isValid()) {
    log.addError("Invalid socket.");
    error = true;
    return false;
  }
  uint32_t waited = 0;
  bool first = true;
  while (waited < timeoutMs) {
    uint32_t slice = Min32(heartbeatMs != 0 ? heartbeatMs : timeoutMs, timeoutMs - waited);
    if (first) {
      // The first abort check comes after half a heartbeat.
      slice = slice > 99 ? slice / 2 : kMinHeartbeatMs;
      first = false;
    }
    short revents = 0;
    int rc = PollFor(POLLIN, slice, revents);
    if (rc < 0) {
      error = true;
      log.addError("Error waiting for socket to become ready for reading.");
      DropConnection();
      return false;
    }
    if (rc > 0) return true;
    waited += slice;
    if (waited >= timeoutMs) break;
    if (progress != nullptr && heartbeatMs != 0 && progress->checkInterval(heartbeatMs)) {
      aborted = true;
      log.addError("socket operation aborted by application callback");
      return false;
    }
  }
  log.addError("Timeout waiting to read socket or accept connection");
  log.addTagInt("timeoutMs", static_cast<int32_t>(timeoutMs));
  timedOut = true;
  return false;
}

// ---- Sending

uint32_t QuillonSocket::EffectiveSendChunk(uint32_t chunkSize) {
  if (chunkSize == 0) return kDefaultSendChunk;
  if (chunkSize < kMinSendChunk) return kMinSendChunk;
  if (chunkSize > kMaxSendChunk) return kMaxSendChunk;
  return chunkSize;
}

bool QuillonSocket::CountSentBytes(uint32_t count, ProgressMonitor* progress, LogBase& log) {
  AccountSent(count, progress);
  if (progress == nullptr) return true;
  bool abort = false;
  progress->consumeAndCheck(count, abort);
  if (abort) log.addError("Socket send aborted by application");
  return !abort;
}

void QuillonSocket::LogUnfinishedSend(bool aborted, uint32_t idleMs, LogBase& log) {
  if (aborted) {
    log.addError("Socket send aborted by application");
    return;
  }
  log.addTagInt("idleTimeoutMs", static_cast<int32_t>(idleMs));
  log.addError("Socket send idle timeout");
}

bool QuillonSocket::SendBytes2(const uint8_t* data, uint32_t length, uint32_t chunkSize,
                               uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress) {
  uint32_t chunk = EffectiveSendChunk(chunkSize);
  SendPlan plan{chunk, 0, chunk, nullptr, "No socket exists for sending (2)",
                "Socket SendBytes2 aborted by application. (1a)",
                "Aborted by application while upload throttling (1b)"};
  return SendLoop(data, length, plan, heartbeatMs, log, progress);
}

bool QuillonSocket::SendBytesWhileReceiving(const uint8_t* data, uint32_t length,
                                            uint32_t firstChunk, uint32_t numFirstChunks,
                                            uint32_t laterChunk, uint32_t heartbeatMs,
                                            LogBase& log, ProgressMonitor* progress,
                                            DataBuffer& received) {
  if (length == 0) return true;
  SendPlan plan{EffectiveSendChunk(firstChunk), numFirstChunks, EffectiveSendChunk(laterChunk),
                &received, "No socket exists for sending (2a)",
                "Socket SendBytes2 aborted by application. (1)",
                "Aborted by application while upload throttling (2)"};
  return SendLoop(data, length, plan, heartbeatMs, log, progress);
}

bool QuillonSocket::SendLoop(const uint8_t* data, uint32_t length, const SendPlan& plan,
                             uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress) {
  uint32_t idleMs = idleTimeoutMs_ != 0 ? idleTimeoutMs_ : kNoTimeoutMs;
  lastSendError_ = 0;
  if (!fd_.isValid()) {
    log.addError(plan.noSocketMessage);
    return false;
  }
  uint32_t sent = 0;
  uint32_t sends = 0;
  bool waitAborted = false;
  while (sent < length) {
    uint32_t n =
        Min32(length - sent, sends < plan.numFirstChunks ? plan.firstChunk : plan.laterChunk);
    if (AbortRequested(progress, heartbeatMs)) {
      log.addError(plan.abortedMessage);
      return false;
    }
    bool throttleAborted = false;
    uploadThrottle_.wait(heartbeatMs, progress, throttleAborted);
    if (throttleAborted) {
      log.addError(plan.throttleAbortedMessage);
      return false;
    }
    if (plan.received && !AccumulateAvailable(*plan.received, log, progress)) return false;
    ssize_t rc = SendRetry(fd_.fd(), data + sent, n);
    if (rc < 0) {
      int error = errno;
      lastSendError_ = WinsockErrorFromErrno(error);
      if (!WouldBlock(error)) {
        LogSocketError(lastSendError_, log);
        log.addError("Error sending on socket");
        log.addTagInt("send_size", static_cast<int32_t>(n));
        DropConnection();
        return false;
      }
      bool drainFailed = false;
      bool writable = plan.received
                          ? WaitWritableWhileDraining(*plan.received, heartbeatMs, idleMs, log,
                                                      progress, waitAborted, drainFailed)
                          : WaitWritableWithAbort(heartbeatMs, 0, idleMs, log, progress,
                                                  waitAborted);
      if (drainFailed) return false;
      if (!writable) break;
      continue;
    }
    if (rc > 0) {
      ++sends;
      if (!CountSentBytes(static_cast<uint32_t>(rc), progress, log)) return false;
      sent += static_cast<uint32_t>(rc);
    } else {
      SleepMs(kZeroSendPauseMs);
    }
  }
  if (sent >= length) return true;
  LogUnfinishedSend(waitAborted, idleMs, log);
  return false;
}

bool QuillonSocket::WaitWritableWhileDraining(DataBuffer& received, uint32_t heartbeatMs,
                                              uint32_t idleMs, LogBase& log,
                                              ProgressMonitor* progress, bool& aborted,
                                              bool& drainFailed) {
  drainFailed = !AccumulateAvailable(received, log, progress);
  if (drainFailed) return false;
  // Short steps, so what the peer sends meanwhile keeps being drained. The steps' own
  // not-ready lines would only repeat themselves; the caller logs the outcome.
  LogNull quiet;
  for (uint32_t waited = 0; waited < idleMs; waited += kWriteStepMs) {
    if (WaitWritableWithAbort(heartbeatMs, 0, kWriteStepMs, quiet, progress, aborted)) return true;
    if (aborted) return false;
    drainFailed = !AccumulateAvailable(received, log, progress);
    if (drainFailed) return false;
  }
  return false;
}

bool QuillonSocket::AccumulateAvailable(DataBuffer& buffer, LogBase& log,
                                        ProgressMonitor* progress) {
  ByteBlock block = AllocBlock(kAccumulateBlock);
  if (!block) {
    log.addError("Socket receive memory allocation failed.");
    return false;
  }
  if (!fd_.isValid()) return false;
  uint32_t start = TickCount();
  uint32_t lastData = start;
  for (;;) {
    uint32_t now = TickCount();
    if (now - start > kAccumulateQuietMs || now - lastData > kAccumulateQuietMs) return true;
    bool aborted = false;
    downloadThrottle_.wait(0, progress, aborted);
    if (aborted) {
      log.addError("Aborted by application while download throttling (3)");
      return false;
    }
    ssize_t n = RecvRetry(fd_.fd(), block.get(), kAccumulateBlock, MSG_DONTWAIT);
    if (n == 0) {
      DropConnection();
      return false;
    }
    if (n < 0) {
      int error = errno;
      if (WouldBlock(error)) return true;
      LogSystemError(log, "SOCKET_ERROR: ", error);
      log.addError("Failed to accumulate data on socket.");
      return false;
    }
    if (!buffer.append(block.get(), static_cast<uint32_t>(n))) {
      log.addError("Socket receive memory allocation failed.");
      return false;
    }
    lastData = TickCount();
    AccountReceived(static_cast<uint32_t>(n), progress);
  }
}

// ---- Receiving

bool QuillonSocket::IsQuietAndOpen() {
  if (!connected_ || !fd_.isValid()) return false;
  uint8_t probe;
  ssize_t n = RecvRetry(fd_.fd(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && WouldBlock(errno);
}

bool QuillonSocket::ReceiveOnce(uint8_t* buffer, uint32_t& size, bool& timedOut, bool& closed,
                                LogBase& log, ProgressMonitor* progress) {
  timedOut = false;
  closed = false;
  uint32_t wanted = size;
  size = 0;
  if (!fd_.isValid()) {
    log.addError("This socket is not connected");
    closed = true;
    return false;
  }
  if (!WaitForDataSliced(idleTimeoutMs_ != 0 ? idleTimeoutMs_ : kReceiveOnceDefaultMs, log,
                         progress, 0, 0)) {
    if (!fd_.isValid()) {
      closed = true;
      return false;
    }
    log.addError("WaitForData timed out.");
    timedOut = true;
    return false;
  }
  bool aborted = false;
  downloadThrottle_.wait(0, progress, aborted);
  if (aborted) {
    log.addError("Aborted by application while download throttling (1)");
    return false;
  }
  ssize_t n = RecvRetry(fd_.fd(), buffer, wanted, 0);
  if (n > 0) {
    size = static_cast<uint32_t>(n);
    AccountReceived(size, progress);
    if (progress != nullptr) {
      bool abort = false;
      progress->consumeAndCheck(size, abort);
    }
    return true;
  }
  if (n == 0) {
    log.addError("The peer has closed the socket (TCP) connection");
    DropConnection();
    closed = true;
    return false;
  }
  LogSystemError(log, "", errno);
  log.addError("Failed to receive on the TCP socket");
  connected_ = false;
  return false;
}

bool QuillonSocket::ReceiveUntilClosed(DataBuffer& buffer, LogBase& log,
                                       ProgressMonitor* progress, bool& closed) {
  closed = false;
  ByteBlock block = AllocBlock(kUntilClosedBlock + 24);
  if (!block) {
    log.addError("Socket read memory allocation failed.");
    return false;
  }
  bool last = false;
  for (;;) {
    uint32_t size = kUntilClosedBlock;
    bool timedOut = false;
    last = ReceiveOnce(block.get(), size, timedOut, closed, log, progress);
    if (!last || size == 0) break;
    if (!buffer.append(block.get(), size)) {
      log.addError("Socket read memory allocation failed.");
      return false;
    }
  }
  return buffer.length() > 0 ? true : last;
}

bool QuillonSocket::ReceiveSome(uint8_t* buffer, uint32_t& size, uint32_t heartbeatMs,
                                LogBase& log, ProgressMonitor* progress, SocketFlags& flags) {
  flags.clear();
  uint32_t wanted = size;
  size = 0;
  if (!fd_.isValid()) {
    log.addError("This socket is not connected");
    flags.error = true;
    connected_ = false;
    return false;
  }
  if (wanted == 0) return true;
  bool throttleAborted = false;
  downloadThrottle_.wait(heartbeatMs, progress, throttleAborted);
  if (throttleAborted) {
    flags.aborted = true;
    log.addError("Aborted by application while download throttling (2)");
    return false;
  }
  // Data already queued is taken without a wait (one system call instead of two).
  ssize_t n = RecvRetry(fd_.fd(), buffer, wanted, MSG_DONTWAIT);
  while (n < 0 && WouldBlock(errno)) {
    if (!WaitReadable(heartbeatMs, idleTimeoutMs_ != 0 ? idleTimeoutMs_ : kNoTimeoutMs, progress,
                      flags.error, flags.aborted, flags.timedOut, log)) {
      return false;
    }
    n = RecvRetry(fd_.fd(), buffer, wanted, MSG_DONTWAIT);
  }
  if (n == 0) {
    log.addTagInt("numBytesRequested", static_cast<int32_t>(wanted));
    log.addError("Connection closed by server.");
    DropConnection();
    flags.closedByPeer = true;
    return false;
  }
  if (n < 0) {
    LogSystemError(log, "SOCKET_ERROR: ", errno);
    log.addTagInt("numBytesRequested", static_cast<int32_t>(wanted));
    log.addError("Failed to receive data on the TCP socket");
    flags.error = true;
    connected_ = false;
    return false;
  }
  size = static_cast<uint32_t>(n);
  AccountReceived(size, progress);
  if (progress != nullptr) {
    bool abort = false;
    progress->consumeAndCheck(size, abort);
    if (abort) flags.aborted = true;
  }
  return true;
}

bool QuillonSocket::ReceiveExactly(uint8_t* buffer, uint32_t count, uint32_t heartbeatMs,
                                   LogBase& log, ProgressMonitor* progress, uint32_t& received,
                                   SocketFlags& flags) {
  received = 0;
  uint32_t emptyReads = 0;
  while (received < count) {
    if (AbortRequested(progress, heartbeatMs)) {
      flags.aborted = true;
      return false;
    }
    uint32_t size = count - received;
    if (!ReceiveSome(buffer + received, size, heartbeatMs, log, progress, flags)) return false;
    if (size > 0) {
      received += size;
      emptyReads = 0;
    } else {
      SleepMs(kEmptyReadPauseMs);
      if (++emptyReads > kMaxEmptyReads) return true;
    }
  }
  return true;
}

bool QuillonSocket::ReadN(uint32_t count, DataBuffer& buffer, uint32_t heartbeatMs, LogBase& log,
                          ProgressMonitor* progress, SocketFlags& flags) {
  if (count == 0) return true;
  uint32_t blockSize = Min32(count, kMaxReadBlock);
  ByteBlock work = AllocBlock(blockSize + 16);
  if (!work) {
    log.addError("Failed to allocate buffer in Socket.ReadN");
    return false;
  }
  uint32_t remaining = count;
  while (remaining > 0) {
    if (AbortRequested(progress, heartbeatMs)) {
      flags.aborted = true;
      return false;
    }
    uint32_t ask = Min32(remaining, blockSize);
    uint32_t got = 0;
    bool ok = ReceiveExactly(work.get(), ask, heartbeatMs, log, progress, got, flags);
    if (got > 0 && !buffer.append(work.get(), got)) {
      log.addError("Failed to allocate buffer in Socket.ReadN");
      return false;
    }
    if (!ok || got < ask) return false;
    remaining -= got;
  }
  return true;
}

bool QuillonSocket::ReceiveNToOutput(uint64_t count, Output& output, uint32_t heartbeatMs,
                                     LogBase& log, ProgressMonitor* progress, SocketFlags& flags) {
  if (count == 0) return true;
  ByteBlock work = AllocBlock(Min32(count, kMaxReadBlock));
  if (!work) {
    log.addError("Out of memory for socket reading to output");
    return false;
  }
  if (count <= UINT32_MAX) {
    return ReceiveNToOutput32(static_cast<uint32_t>(count), output, work.get(), heartbeatMs, log,
                              progress, flags);
  }
  while (count > 0) {
    uint32_t piece = Min32(count, kLargeReadPiece);
    if (!ReceiveNToOutput32(piece, output, work.get(), heartbeatMs, log, progress, flags)) {
      return false;
    }
    count -= piece;
  }
  return true;
}

bool QuillonSocket::ReceiveNToOutput32(uint32_t count, Output& output, uint8_t* work,
                                       uint32_t heartbeatMs, LogBase& log,
                                       ProgressMonitor* progress, SocketFlags& flags) {
  bool inPieces = count > kMaxReadBlock;
  uint32_t remaining = count;
  while (remaining > 0) {
    if (inPieces && AbortRequested(progress, heartbeatMs)) {
      flags.aborted = true;
      log.addError("Application aborted socket receive in AbortCheck callback.");
      return false;
    }
    uint32_t piece = Min32(remaining, kMaxReadBlock);
    uint32_t got = 0;
    bool ok = ReceiveExactly(work, piece, heartbeatMs, log, progress, got, flags);
    // What arrived before a failure still goes to the output.
    if (got > 0 && !output.writeBytes(work, got, log)) return false;
    if (!ok || got < piece) return false;
    remaining -= got;
  }
  return true;
}

bool QuillonSocket::ReceiveToOutput(Output& output, uint32_t bufferSize, uint32_t heartbeatMs,
                                    LogBase& log, ProgressMonitor* progress, SocketFlags& flags) {
  if (bufferSize == 0) bufferSize = 1;
  if (bufferSize > kMaxOutputBuffer) bufferSize = kMaxOutputBuffer;
  ByteBlock work = AllocBlock(bufferSize);
  if (!work) {
    log.addError("Out of memory for socket reading");
    return false;
  }
  bool wrote = false;
  bool last = false;
  for (;;) {
    uint32_t size = bufferSize;
    last = ReceiveSome(work.get(), size, heartbeatMs, log, progress, flags);
    if (!last || size == 0) break;
    if (!output.writeBytes(work.get(), size, log)) return false;
    wrote = true;
    // An abort asked for while the bytes were counted ends the read.
    if (flags.aborted) return false;
  }
  return wrote ? true : last;
}

}  // namespace quillon
