// Where the bytes of one connection come from and go to, under a ByteStream: a plain socket, a
// TLS channel (net/schannel.h), or bytes held in memory (net/memory_transport.h). A transport
// receives one arrival at a time and sends; buffering is the ByteStream's and framing the HTTP
// reader's. Connecting is left out: a transport stands over a connection opened elsewhere.
#pragma once

#include <cstdint>

#include "net/quillon_socket.h"

namespace quillon {

class DataBuffer;
class LogBase;
class ProgressMonitor;
class SChannel;

class StreamTransport {
 public:
  // How one receive ended.
  enum class Arrival {
    kData,    // bytes were appended
    kEnded,   // the peer closed the connection or ended the TLS session
    kFailed,  // time-out, abort or error, as flags tell (logged)
  };
  // The kind of connection the readers above apply their policy for (a TLS connection frames
  // some answers differently).
  enum class Kind { kPlain, kTls };

  // The plain socket makes room for this much (or maxBytes when less) before a receive when
  // the buffer has less to spare.
  static constexpr uint32_t kReadBlock = 64 * 1024;

  StreamTransport() = default;
  virtual ~StreamTransport() = default;
  StreamTransport(const StreamTransport&) = delete;
  StreamTransport& operator=(const StreamTransport&) = delete;

  virtual Kind kind() const = 0;

  // Waits for the next arrival (the socket's idle time-out, heartbeat slices with abort checks)
  // and appends it to into: at most maxBytes, using into's spare room first, from a transport
  // that reads into place; a TLS channel appends the plain text of every record completed and
  // may pass maxBytes (the caller keeps the rest). flags tell why nothing came.
  virtual Arrival receive(DataBuffer& into, uint32_t maxBytes, uint32_t heartbeatMs, LogBase& log,
                          ProgressMonitor* progress, SocketFlags& flags) = 0;

  // Sends length bytes: a plain socket in pieces of plainPiece, a TLS channel as records.
  virtual bool send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece,
                    uint32_t heartbeatMs, LogBase& log, ProgressMonitor* progress) = 0;

  virtual bool isOpen() const = 0;
  // Open, nothing arrived unasked and no close or reset from the peer is waiting; checked
  // without waiting.
  virtual bool isQuiet() = 0;
  // Closes the connection (a TLS session is shut down with close-notify first).
  virtual void close(LogBase& log) = 0;

  // The socket underneath: the channel's own over TLS; for the in-memory transport a socket
  // that never connects and only carries the settings code sets on it.
  virtual QuillonSocket& socket() = 0;
  // The TLS channel; null for every other transport.
  virtual SChannel* channel() { return nullptr; }
};

// A plain TCP connection: one receive is one wait and one recv.
class SocketTransport final : public StreamTransport {
 public:
  explicit SocketTransport(QuillonSocket& socket) : socket_(socket) {}

  Kind kind() const override { return Kind::kPlain; }
  Arrival receive(DataBuffer& into, uint32_t maxBytes, uint32_t heartbeatMs, LogBase& log,
                  ProgressMonitor* progress, SocketFlags& flags) override;
  bool send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece, uint32_t heartbeatMs,
            LogBase& log, ProgressMonitor* progress) override;
  bool isOpen() const override { return socket_.IsConnected(); }
  bool isQuiet() override { return socket_.IsQuietAndOpen(); }
  void close(LogBase& log) override { socket_.Close(log); }
  QuillonSocket& socket() override { return socket_; }

 private:
  QuillonSocket& socket_;
};

// A TLS session: one receive is one raw read and the plain text of the records it completes.
class ChannelTransport final : public StreamTransport {
 public:
  explicit ChannelTransport(SChannel& channel);

  Kind kind() const override { return Kind::kTls; }
  Arrival receive(DataBuffer& into, uint32_t maxBytes, uint32_t heartbeatMs, LogBase& log,
                  ProgressMonitor* progress, SocketFlags& flags) override;
  bool send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece, uint32_t heartbeatMs,
            LogBase& log, ProgressMonitor* progress) override;
  bool isOpen() const override;
  bool isQuiet() override;
  // Without a session (it was never made, or already ended) only the socket is closed.
  void close(LogBase& log) override;
  QuillonSocket& socket() override { return socket_; }
  SChannel* channel() override { return &channel_; }

 private:
  SChannel& channel_;
  QuillonSocket& socket_;  // the channel's own
};

}  // namespace quillon
