#include "net/byte_stream.h"

#include <cstring>

#include "base/log_base.h"
#include "base/progress.h"
#include "net/schannel.h"

namespace quillon {

namespace {

// Bytes of a fill are counted when a reader delivers them, not when they arrive.
class ArrivalsUncounted {
 public:
  explicit ArrivalsUncounted(ProgressMonitor* progress)
      : progress_(progress), before_(progress != nullptr && progress->countingSuspended()) {
    if (progress_ != nullptr) progress_->setCountingSuspended(true);
  }
  ~ArrivalsUncounted() {
    if (progress_ != nullptr) progress_->setCountingSuspended(before_);
  }
  ArrivalsUncounted(const ArrivalsUncounted&) = delete;
  ArrivalsUncounted& operator=(const ArrivalsUncounted&) = delete;

 private:
  ProgressMonitor* progress_;
  bool before_;
};

}  // namespace

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
  ArrivalsUncounted uncounted(progress);
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
    LogNull quiet;
    socket_->Close(quiet);
  }
}

}  // namespace quillon
