#include "net/stream_transport.h"

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "net/schannel.h"

namespace quillon {

StreamTransport::Arrival SocketTransport::receive(DataBuffer& into, uint32_t maxBytes,
                                                  uint32_t heartbeatMs, LogBase& log,
                                                  ProgressMonitor* progress,
                                                  SocketFlags& flags) {
  const uint32_t held = into.length();
  const uint32_t block = maxBytes < kReadBlock ? maxBytes : kReadBlock;
  if (into.capacity() - held < block && !into.reserve(held + block)) {
    log.addError("Out of memory");
    flags.error = true;
    return Arrival::kFailed;
  }
  uint32_t size = into.capacity() - held;
  if (size > maxBytes) size = maxBytes;
  if (!socket_.ReceiveSome(into.data() + held, size, heartbeatMs, log, progress, flags)) {
    return flags.closedByPeer ? Arrival::kEnded : Arrival::kFailed;
  }
  into.setLength(held + size);
  // An abort asked for while the wait counted its slices ends the read like a failed one.
  return flags.aborted ? Arrival::kFailed : Arrival::kData;
}

bool SocketTransport::send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece,
                           uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress) {
  return socket_.SendBytes2(bytes, length, plainPiece, heartbeatMs, log, progress);
}

ChannelTransport::ChannelTransport(SChannel& channel)
    : channel_(channel), socket_(channel.Socket()) {}

StreamTransport::Arrival ChannelTransport::receive(DataBuffer& into, uint32_t, uint32_t heartbeatMs,
                                                   LogBase& log, ProgressMonitor* progress,
                                                   SocketFlags& flags) {
  const uint32_t held = into.length();
  const bool ok = channel_.ReceiveBytes(into, heartbeatMs, log, progress, flags);
  if (ok && !flags.endOfSession && into.length() > held) return Arrival::kData;
  if (flags.endOfSession) return Arrival::kEnded;
  // The socket went away under the session without a time-out or an abort: the peer closed.
  if (!ok && flags.closedByPeer && !flags.timedOut && !flags.aborted) return Arrival::kEnded;
  return Arrival::kFailed;
}

bool ChannelTransport::send(const uint8_t* bytes, uint32_t length, uint32_t,
                            uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress) {
  return channel_.SendBytes(bytes, length, heartbeatMs, log, progress);
}

bool ChannelTransport::isOpen() const { return channel_.IsConnected(); }

bool ChannelTransport::isQuiet() { return socket_.IsQuietAndOpen(); }

void ChannelTransport::close(LogBase& log) {
  if (channel_.HasSession()) {
    channel_.ShutdownChannel(true, log);
  } else {
    socket_.Close(log);
  }
}

}  // namespace quillon
