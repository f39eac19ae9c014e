// A connection played from memory, so the readers above a ByteStream can be tested and fuzzed
// without sockets: the peer's bytes are given up front and handed out in the piece sizes the
// test chose, then the ending it chose (the peer closes, or the read times out). Nothing waits
// and no real time passes; what is sent is kept for the test. TLS records are left out: a
// transport that stands for a TLS connection hands out plain text, a whole piece at a time.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/data_buffer.h"
#include "net/quillon_socket.h"
#include "net/stream_transport.h"

namespace quillon {

class MemoryTransport final : public StreamTransport {
 public:
  // What the peer does once every byte was handed out.
  enum class Ending {
    kPeerCloses,  // the next receive is kEnded (closedByPeer) and the connection is closed
    kTimesOut,    // every later receive is kFailed (timedOut); the connection stays open
  };
  struct Script {
    uint32_t firstPiece = 0;  // the most the first receive hands out; 0: no bound
    uint32_t piece = 0;       // the most each later receive hands out; 0: no bound
    Ending ending = Ending::kPeerCloses;
    Kind kind = Kind::kPlain;
  };

  // Copies bytes. When memory runs out the peer has sent nothing (loaded() is false).
  MemoryTransport(std::string_view bytes, const Script& script);

  bool loaded() const { return loaded_; }
  // Bytes not yet handed out.
  uint32_t left() const { return incoming_.length() - next_; }
  // Everything sent so far.
  std::string_view sent() const { return sent_.view(); }
  uint32_t receives() const { return receives_; }

  Kind kind() const override { return script_.kind; }
  // The next piece, else the ending. Plain: bounded by maxBytes too; TLS: the whole piece, as
  // a channel appends whole records. A receive after the close is kFailed with flags.error; an
  // abort asked for by progress ends a receive that would wait.
  Arrival receive(DataBuffer& into, uint32_t maxBytes, uint32_t heartbeatMs, LogBase& log,
                  ProgressMonitor* progress, SocketFlags& flags) override;
  // Keeps the bytes; false once closed (or when memory runs out).
  bool send(const uint8_t* bytes, uint32_t length, uint32_t plainPiece, uint32_t heartbeatMs,
            LogBase& log, ProgressMonitor* progress) override;
  bool isOpen() const override { return open_; }
  // Quiet once every byte was handed out and the peer only goes silent (kTimesOut).
  bool isQuiet() override;
  void close(LogBase& log) override;
  QuillonSocket& socket() override { return settingsOnly_; }

 private:
  DataBuffer incoming_;
  uint32_t next_ = 0;
  Script script_;
  bool loaded_ = false;
  bool open_ = true;
  uint32_t receives_ = 0;
  DataBuffer sent_;
  QuillonSocket settingsOnly_;  // never connected
};

}  // namespace quillon
