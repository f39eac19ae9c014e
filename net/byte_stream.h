// A buffered byte stream over one connection's transport (net/stream_transport.h): a plain
// QuillonSocket, a TLS SChannel, or bytes played from memory. Each fill appends what one arrival
// brings to the connection's one buffer, and readers take bytes off its front. Framing (heads,
// chunks, lengths) is the HTTP reader's; the waits, abort checks, throttles and time-outs stay
// those of the transport underneath.
#pragma once

#include <cstdint>
#include <string_view>

#include <variant>

#include "base/data_buffer.h"
#include "net/quillon_socket.h"
#include "net/stream_transport.h"

namespace quillon {

class LogBase;
class ProgressMonitor;
class SChannel;

class ByteStream {
 public:
  // Room asked for before each plain receive when the buffer has less to spare.
  static constexpr uint32_t kFillBlock = StreamTransport::kReadBlock;
  // One receive straight into a body takes at most this much.
  static constexpr uint32_t kDirectBlock = 1024 * 1024;

  explicit ByteStream(QuillonSocket& socket);
  explicit ByteStream(SChannel& channel);
  // Over a transport the caller owns and keeps alive as long as the stream (a MemoryTransport
  // in tests).
  explicit ByteStream(StreamTransport& transport);
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // Whether the readers apply the TLS connection's policy (a MemoryTransport may stand for
  // either kind).
  bool tls() const { return transport_->kind() == StreamTransport::Kind::kTls; }
  // The TLS channel; null over a plain socket or a MemoryTransport.
  SChannel* channel() const { return transport_->channel(); }
  // The socket underneath (the channel's own over TLS). Over a MemoryTransport it never
  // connects: it only carries settings (the idle time-out a reader sets and restores).
  QuillonSocket& socket() const { return transport_->socket(); }
  StreamTransport& transport() const { return *transport_; }
  bool isOpen() const { return transport_->isOpen(); }

  // Bytes received and not yet taken.
  const uint8_t* data() const { return buffer_.data() + start_; }
  uint32_t size() const { return buffer_.length() - start_; }
  std::string_view view() const {
    return std::string_view(reinterpret_cast<const char*>(data()), size());
  }
  // Takes count bytes (at most size()) off the front.
  void consume(uint32_t count);
  // Forgets what is held: a new connection starts empty.
  void discard();

  // kData: bytes were appended; kEnded: the peer closed the connection or ended the TLS
  // session; kFailed: time-out, abort or error, as flags tell (logged).
  using Fill = StreamTransport::Arrival;
  // Waits for the next arrival (idle time-out, heartbeat slices with abort checks) and appends
  // it. The bytes are not counted as progress here: readers count what they deliver.
  Fill fill(uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress, SocketFlags& flags);

  // fill for a body held in memory: while the stream holds nothing, the arrival goes straight
  // to the end of target (no copy through the stream's buffer), growing it by half its size at
  // a time. At most maxBytes stay in target; anything past them is held by the stream. added
  // is the count appended to target.
  Fill fillInto(DataBuffer& target, uint64_t maxBytes, uint32_t heartbeatMs, LogBase& log,
                ProgressMonitor* progress, SocketFlags& flags, uint32_t& added);

  // Sends length bytes: over a plain socket in pieces of plainPiece, over TLS as records.
  bool send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece, uint32_t heartbeatMs,
            LogBase& log, ProgressMonitor* progress);

  // Whether an idle kept-alive connection can carry another request: open, nothing arrived
  // unasked, and no close or reset from the peer is waiting (checked without waiting).
  bool isReusable();

  // Closes the connection (a TLS session is shut down with close-notify) and forgets the
  // buffer.
  void close(LogBase& log);

 private:
  // Moves the unread bytes to the front once they are less than what was read past.
  void compact();

  // The transport made for a socket or a channel given to the constructor.
  std::variant<std::monostate, SocketTransport, ChannelTransport> owned_;
  StreamTransport* transport_;
  DataBuffer buffer_;
  uint32_t start_ = 0;
};

}  // namespace quillon
