#include "net/byte_stream.h"

#include <cstring>

#include "base/log_base.h"
#include "base/progress.h"
#include "net/schannel.h"

namespace quillon {

ByteStream::ByteStream(SChannel& channel) : socket_(&channel.Socket()), channel_(&channel) {}

bool ByteStream::isOpen() const {
  return channel_ != nullptr ? channel_->IsConnected() : socket_->IsConnected();
}

void ByteStream::consume(uint32_t count) {
  start_ += count < size() ? count : size();
  if (start_ == buffer_.length()) discard();
}

void ByteStream::discard() {
  buffer_.clear();
  start_ = 0;
}

void ByteStream::compact() {
  if (start_ == 0) return;
  const uint32_t held = size();
  if (held > start_) return;
  std::memmove(buffer_.data(), buffer_.data() + start_, held);
  buffer_.setLength(held);
  start_ = 0;
}

ByteStream::Fill ByteStream::fill(uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress,
                                  SocketFlags& flags) {
  flags.clear();
  compact();
  CountingSuspended uncounted(progress);
  return tls() ? fillTls(heartbeatMs, log, progress, flags)
               : fillPlain(heartbeatMs, log, progress, flags);
}

ByteStream::Fill ByteStream::fillPlain(uint32_t heartbeatMs, LogBase& log,
                                       ProgressMonitor* progress, SocketFlags& flags) {
  const uint32_t held = buffer_.length();
  if (buffer_.capacity() - held < kFillBlock && !buffer_.reserve(held + kFillBlock)) {
    log.addError("Out of memory");
    flags.error = true;
    return Fill::kFailed;
  }
  uint32_t size = buffer_.capacity() - held;
  if (!socket_->ReceiveSome(buffer_.data() + held, size, heartbeatMs, log, progress, flags)) {
    return flags.closedByPeer ? Fill::kEnded : Fill::kFailed;
  }
  buffer_.setLength(held + size);
  // An abort asked for while the wait counted its slices ends the read like a failed one.
  if (flags.aborted) return Fill::kFailed;
  return Fill::kData;
}

ByteStream::Fill ByteStream::fillTls(uint32_t heartbeatMs, LogBase& log,
                                     ProgressMonitor* progress, SocketFlags& flags) {
  const uint32_t held = buffer_.length();
  const bool ok = channel_->ReceiveBytes(buffer_, heartbeatMs, log, progress, flags);
  if (ok && !flags.endOfSession && buffer_.length() > held) return Fill::kData;
  if (flags.endOfSession) return Fill::kEnded;
  if (!ok && flags.closedByPeer && !flags.timedOut && !flags.aborted) return Fill::kEnded;
  return Fill::kFailed;
}

ByteStream::Fill ByteStream::fillInto(DataBuffer& target, uint64_t maxBytes, uint32_t heartbeatMs,
                                      LogBase& log, ProgressMonitor* progress,
                                      SocketFlags& flags, uint32_t& added) {
  added = 0;
  if (size() != 0 || maxBytes == 0) return fill(heartbeatMs, log, progress, flags);
  flags.clear();
  discard();
  CountingSuspended uncounted(progress);
  const uint32_t before = target.length();
  const uint32_t want = maxBytes < kDirectBlock ? static_cast<uint32_t>(maxBytes) : kDirectBlock;
  if (target.capacity() - before < want) {
    const uint64_t grown = uint64_t{before} + (before / 2 > want ? before / 2 : want);
    if (grown > UINT32_MAX || !target.reserve(static_cast<uint32_t>(grown))) {
      log.addError("Out of memory");
      flags.error = true;
      return Fill::kFailed;
    }
  }
  Fill outcome;
  if (tls()) {
    const bool ok = channel_->ReceiveBytes(target, heartbeatMs, log, progress, flags);
    if (ok && !flags.endOfSession && target.length() > before) {
      outcome = Fill::kData;
    } else if (flags.endOfSession ||
               (!ok && flags.closedByPeer && !flags.timedOut && !flags.aborted)) {
      outcome = Fill::kEnded;
    } else {
      outcome = Fill::kFailed;
    }
  } else {
    uint32_t room = target.capacity() - before;
    if (room > want) room = want;
    if (socket_->ReceiveSome(target.data() + before, room, heartbeatMs, log, progress, flags)) {
      target.setLength(before + room);
      outcome = flags.aborted ? Fill::kFailed : Fill::kData;
    } else {
      outcome = flags.closedByPeer ? Fill::kEnded : Fill::kFailed;
    }
  }
  // What came past the bytes asked for (a TLS record may hold more) waits in the stream.
  uint32_t arrived = target.length() - before;
  if (arrived > maxBytes) {
    const uint32_t kept = static_cast<uint32_t>(maxBytes);
    if (!buffer_.append(target.data() + before + kept, arrived - kept)) {
      log.addError("Out of memory");
      flags.error = true;
      outcome = Fill::kFailed;
    }
    target.setLength(before + kept);
    arrived = kept;
  }
  added = arrived;
  return outcome;
}

bool ByteStream::send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece,
                      uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress) {
  if (channel_ != nullptr) return channel_->SendBytes(bytes, length, heartbeatMs, log, progress);
  return socket_->SendBytes2(bytes, length, plainPiece, heartbeatMs, log, progress);
}

bool ByteStream::isReusable() {
  return isOpen() && size() == 0 && socket_->IsQuietAndOpen();
}

void ByteStream::close(LogBase& log) {
  discard();
  if (channel_ == nullptr) {
    socket_->Close(log);
  } else if (channel_->HasSession()) {
    channel_->ShutdownChannel(true, log);
  } else {
    socket_->Close(log);
  }
}

}  // namespace quillon
