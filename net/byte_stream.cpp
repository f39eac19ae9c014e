#include "net/byte_stream.h"

#include <cstring>

#include "base/log_base.h"
#include "base/progress.h"

namespace quillon {

ByteStream::ByteStream(QuillonSocket& socket)
    : owned_(std::in_place_type<SocketTransport>, socket),
      transport_(&std::get<SocketTransport>(owned_)) {}

ByteStream::ByteStream(SChannel& channel)
    : owned_(std::in_place_type<ChannelTransport>, channel),
      transport_(&std::get<ChannelTransport>(owned_)) {}

ByteStream::ByteStream(StreamTransport& transport) : transport_(&transport) {}

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
  return transport_->receive(buffer_, UINT32_MAX, heartbeatMs, log, progress, flags);
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
  Fill outcome = transport_->receive(target, want, heartbeatMs, log, progress, flags);
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
  return transport_->send(bytes, length, plainPiece, heartbeatMs, log, progress);
}

bool ByteStream::isReusable() { return isOpen() && size() == 0 && transport_->isQuiet(); }

void ByteStream::close(LogBase& log) {
  discard();
  transport_->close(log);
}

}  // namespace quillon
