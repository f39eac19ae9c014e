#include "net/memory_transport.h"

#include <cstring>

#include "base/log_base.h"
#include "base/progress.h"

namespace quillon {

MemoryTransport::MemoryTransport(std::string_view bytes, const Script& script) : script_(script) {
  loaded_ = bytes.size() <= UINT32_MAX && incoming_.append(bytes);
  if (!loaded_) incoming_.clear();
}

StreamTransport::Arrival MemoryTransport::receive(DataBuffer& into, uint32_t maxBytes,
                                                  uint32_t heartbeatMs, LogBase& log,
                                                  ProgressMonitor* progress,
                                                  SocketFlags& flags) {
  flags.clear();
  if (!open_) {
    log.addError("This socket is not connected");
    flags.error = true;
    return Arrival::kFailed;
  }
  const uint32_t bound = receives_ == 0 ? script_.firstPiece : script_.piece;
  ++receives_;
  if (left() == 0) {
    if (script_.ending == Ending::kPeerCloses) {
      open_ = false;
      flags.closedByPeer = true;
      return Arrival::kEnded;
    }
    // The wait a silent peer causes would end at the abort check or the idle time-out.
    if (progress != nullptr && progress->pollAbort(heartbeatMs)) {
      flags.aborted = true;
    } else {
      flags.timedOut = true;
    }
    return Arrival::kFailed;
  }
  uint32_t count = left();
  if (bound != 0 && count > bound) count = bound;
  // A TLS channel hands over every record one raw read completes, whatever was asked for.
  if (script_.kind == Kind::kPlain && count > maxBytes) count = maxBytes;
  // Room grows a block at a time as before a socket's receive, not a piece at a time.
  const uint32_t held = into.length();
  const uint64_t room = uint64_t{held} + (count > kReadBlock ? count : kReadBlock);
  if (room > UINT32_MAX ||
      (into.capacity() - held < count && !into.reserve(static_cast<uint32_t>(room)))) {
    log.addError("Out of memory");
    flags.error = true;
    return Arrival::kFailed;
  }
  if (count > 0) std::memcpy(into.data() + held, incoming_.data() + next_, count);
  into.setLength(held + count);
  next_ += count;
  if (progress != nullptr) {
    bool abort = false;
    progress->consumeAndCheck(count, abort);
    if (abort) {
      flags.aborted = true;
      return Arrival::kFailed;
    }
  }
  return Arrival::kData;
}

bool MemoryTransport::send(const uint8_t* bytes, uint32_t length, uint32_t, uint32_t, LogBase& log,
                           ProgressMonitor*) {
  if (!open_) {
    log.addError("This socket is not connected");
    return false;
  }
  if (sent_.append(bytes, length)) return true;
  log.addError("Out of memory");
  return false;
}

bool MemoryTransport::isQuiet() {
  return open_ && left() == 0 && script_.ending == Ending::kTimesOut;
}

void MemoryTransport::close(LogBase&) {
  open_ = false;
  next_ = incoming_.length();
}

}  // namespace quillon
