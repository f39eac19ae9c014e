#include "http/response_reader.h"

#include <string_view>

#include "base/data_buffer.h"
#include "base/gzip.h"
#include "base/log_base.h"
#include "base/output.h"
#include "base/progress.h"
#include "base/string_buffer.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "net/quillon_socket.h"
#include "net/schannel.h"

namespace quillon {

namespace {

constexpr const char* kLimitPassed = "Content length more than the maximum allowed...";

// Passes writes on to the real sink until they would take it past the limit (0 = none); the
// write that would pass it is refused, so the sink never holds more than the limit.
class LimitedOutput : public Output {
 public:
  LimitedOutput(Output& inner, uint64_t limit) : inner_(inner), limit_(limit) {}

  bool writeBytes(const uint8_t* bytes, uint32_t length, LogBase& log) override {
    if (limit_ != 0 && inner_.size() + length > limit_) {
      passed_ = true;
      return false;
    }
    return inner_.writeBytes(bytes, length, log);
  }
  uint64_t size() const override { return inner_.size(); }
  bool passed() const { return passed_; }

 private:
  Output& inner_;
  uint64_t limit_;
  bool passed_ = false;
};

// Keeps framing bytes (chunk size lines and their line ends) out of the body progress.
class CountingSuspended {
 public:
  explicit CountingSuspended(ProgressMonitor* progress)
      : progress_(progress), before_(progress != nullptr && progress->countingSuspended()) {
    if (progress_ != nullptr) progress_->setCountingSuspended(true);
  }
  ~CountingSuspended() {
    if (progress_ != nullptr) progress_->setCountingSuspended(before_);
  }
  CountingSuspended(const CountingSuspended&) = delete;
  CountingSuspended& operator=(const CountingSuspended&) = delete;

 private:
  ProgressMonitor* progress_;
  bool before_;
};

// Restores the socket's idle time-out when a read until close ends.
class IdleTimeoutScope {
 public:
  IdleTimeoutScope(QuillonSocket& socket, uint32_t ms)
      : socket_(socket), saved_(socket.GetIdleTimeoutMs()) {
    socket_.SetIdleTimeoutMs(ms);
  }
  ~IdleTimeoutScope() { socket_.SetIdleTimeoutMs(saved_); }
  IdleTimeoutScope(const IdleTimeoutScope&) = delete;
  IdleTimeoutScope& operator=(const IdleTimeoutScope&) = delete;

 private:
  QuillonSocket& socket_;
  uint32_t saved_;
};

// Whole seconds of the settings as a socket time-out; the socket caps what it stores anyway.
uint32_t SecondsToMs(uint32_t seconds) {
  uint64_t ms = uint64_t{seconds} * 1000;
  return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

enum class SizeLine { kSize, kNoNumber, kTooLarge };

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a chunk size line the way "%x" does (leading white space and an optional "0x" skipped,
// the digits up to the first other character: a chunk extension after ";" is ignored), but
// into 64 bits and refusing a size that does not fit them. A sign counts as no number.
SizeLine ParseChunkSize(std::string_view line, uint64_t& size) {
  size = 0;
  size_t at = 0;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\v' ||
                              line[at] == '\f' || line[at] == '\r' || line[at] == '\n')) {
    ++at;
  }
  if (at + 2 < line.size() && line[at] == '0' && (line[at + 1] == 'x' || line[at + 1] == 'X') &&
      HexDigit(line[at + 2]) >= 0) {
    at += 2;
  }
  bool any = false;
  for (; at < line.size(); ++at) {
    int digit = HexDigit(line[at]);
    if (digit < 0) break;
    if (size > (UINT64_MAX >> 4)) return SizeLine::kTooLarge;
    size = (size << 4) | static_cast<uint64_t>(digit);
    any = true;
  }
  return any ? SizeLine::kSize : SizeLine::kNoNumber;
}

bool IsChunked(const HttpResult& result) {
  StringBuffer te;
  return result.header.fields.getFieldValue("Transfer-Encoding", te) &&
         te.equalsIgnoreCase("chunked");
}

void LogLimitPassed(const HttpControl& settings, LogBase& log) {
  log.addError(kLimitPassed);
  log.addTagInt64("maxContentLength", static_cast<int64_t>(settings.maxContentLength));
}

// Reads a body delimited by the peer's close, at most maxContentLength bytes of it, with the
// socket's idle time-out set to timeoutMs meanwhile. A close before any byte is an empty body.
bool ReadUntilClose(HttpControl& settings, HttpResult& result, Output& sink,
                    QuillonSocket& socket, uint32_t timeoutMs, LogBase& log,
                    ProgressMonitor* progress) {
  IdleTimeoutScope timeout(socket, timeoutMs);
  LimitedOutput limited(sink, settings.maxContentLength);
  SocketFlags& flags = result.socketFlags;
  bool ok = socket.ReceiveToOutput(limited, kReadUntilCloseBlock, settings.abortCheckMs, log,
                                   progress, flags);
  if (limited.passed()) {
    LogLimitPassed(settings, log);
    log.addTagInt64("receivedSoFar", static_cast<int64_t>(sink.size()));
    socket.Close(log);
    return false;
  }
  if (!ok && flags.closedByPeer && !flags.aborted) return true;
  return ok;
}

// Reads exactly length bytes after checking them against maxContentLength.
bool ReadByLength(HttpControl& settings, HttpResult& result, Output& sink, QuillonSocket& socket,
                  uint64_t length, LogBase& log, ProgressMonitor* progress) {
  if (settings.maxContentLength != 0 && length > settings.maxContentLength) {
    log.addError("Content length more than the maximum allowed.");
    log.addTagInt64("maxContentLength", static_cast<int64_t>(settings.maxContentLength));
    return false;
  }
  return socket.ReceiveNToOutput(length, sink, settings.abortCheckMs, log, progress,
                                 result.socketFlags);
}

// Trailer lines after the last chunk are consumed up to their empty line, so nothing of this
// response stays queued on a connection that is used again.
bool ReadChunkTrailer(HttpControl& settings, HttpResult& result, QuillonSocket& socket,
                      LogBase& log, ProgressMonitor* progress) {
  uint64_t consumed = 0;
  DataBuffer line;
  for (;;) {
    line.clear();
    if (!socket.ReceiveLine(line, settings.abortCheckMs, log, progress, &result.socketFlags)) {
      return false;
    }
    uint32_t n = line.length();
    const uint8_t* d = line.data();
    if (n == 0 || (n == 1 && d[0] == '\n') || (n == 2 && d[0] == '\r' && d[1] == '\n')) {
      return true;
    }
    consumed += n;
    if (consumed > kMaxTrailerBytes) {
      log.addError("Chunked response trailer too large.");
      return false;
    }
  }
}

bool ReadChunked(HttpControl& settings, HttpResult& result, Output& sink, QuillonSocket& socket,
                 LogBase& log, ProgressMonitor* progress) {
  log.addError("Reading chunked response");
  if (progress != nullptr && progress->applicationSink() != nullptr) {
    progress->applicationSink()->OnChunked();
  }
  SocketFlags& flags = result.socketFlags;
  const uint32_t heartbeat = settings.abortCheckMs;
  DataBuffer line;
  DataBuffer lineEnd;
  for (;;) {
    line.clear();
    bool gotLine;
    {
      CountingSuspended framing(progress);
      gotLine = socket.ReceiveLine(line, heartbeat, log, progress, &flags);
    }
    if (!gotLine) {
      socket.Close(log);
      log.addError("Failed to get response data (a)");
      return false;
    }
    uint64_t size = 0;
    SizeLine parsed = ParseChunkSize(
        std::string_view(reinterpret_cast<const char*>(line.data()), line.length()), size);
    if (parsed == SizeLine::kNoNumber) return true;
    if (parsed == SizeLine::kTooLarge) {
      socket.Close(log);
      log.addError("Chunk size does not fit 64 bits.");
      return false;
    }
    if (size == 0) {
      CountingSuspended framing(progress);
      return ReadChunkTrailer(settings, result, socket, log, progress);
    }
    // Checked before the chunk is read: its announced size is never held beyond the limit.
    if (settings.maxContentLength != 0 &&
        (size > settings.maxContentLength ||
         sink.size() > settings.maxContentLength - size)) {
      socket.Close(log);
      log.addError("Chunked response is too large.");
      log.addTagInt64("maxContentLength", static_cast<int64_t>(settings.maxContentLength));
      log.addTagInt64("receivedSoFar", static_cast<int64_t>(sink.size()));
      return false;
    }
    if (!socket.ReceiveNToOutput(size, sink, heartbeat, log, progress, flags)) {
      socket.Close(log);
      log.addError("Failed to get response data (b)");
      return false;
    }
    lineEnd.clear();
    bool gotEnd;
    {
      CountingSuspended framing(progress);
      gotEnd = socket.ReadN(2, lineEnd, heartbeat, log, progress, flags);
    }
    if (!gotEnd) {
      socket.Close(log);
      log.addError("Failed to get response data (c)");
      return false;
    }
  }
}

// Codes whose body is read when it is delimited (the redirects followed for GET among them).
bool ReadsBodyByRule(int status, bool delimited) {
  if (status >= 200 && status <= 299 && status != 204) return true;
  if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
    return true;
  }
  return status >= 400 && delimited;
}

}  // namespace

bool ReadBodyPlain(HttpControl& settings, HttpResult& result, Output& sink, QuillonSocket& socket,
                   LogBase& log, ProgressMonitor* progress) {
  const HttpResponseHeader& header = result.header;
  const int status = header.statusCode;
  if (header.contentLengthInvalid) {
    log.addError("Invalid Content-Length.");
    return false;
  }
  if (result.verb.equalsIgnoreCase("HEAD")) {
    log.addError("No response body to fetch...");
    return true;
  }
  const bool chunked = IsChunked(result);
  const bool hasLength = header.hasContentLength || header.contentLength > 0;

  if (ReadsBodyByRule(status, hasLength || chunked)) {
    if (chunked) return ReadChunked(settings, result, sink, socket, log, progress);
    if (header.contentLength > 0) {
      return ReadByLength(settings, result, sink, socket, header.contentLength, log, progress);
    }
    if (header.hasContentLength) return true;
    if (status >= 300) {
      log.addError(
          "Skipping response body because Content-Length header is missing and response code "
          ">= 300");
      return true;
    }
    log.addError("Read max non-chunked response");
    return ReadUntilClose(settings, result, sink, socket, SecondsToMs(settings.readTimeout), log,
                          progress);
  }

  log.addTagInt("response_code", status);
  if (status == 500) {
    if (header.contentLength > 0) {
      log.addTagInt64("ContentLength", static_cast<int64_t>(header.contentLength));
      return ReadByLength(settings, result, sink, socket, header.contentLength, log, progress);
    }
    if (header.hasContentLength) return true;
    log.addError("Read max non-chunked response.");
    uint32_t seconds = settings.readTimeout < kServerErrorShortTimeoutLimitSec
                           ? settings.readTimeout
                           : kServerErrorReadTimeoutSec;
    return ReadUntilClose(settings, result, sink, socket, SecondsToMs(seconds), log, progress);
  }
  log.addError("No response body to fetch...");
  // Interim answers (the driver reads the next head) and revalidations carry no body.
  return (status >= 100 && status <= 199) || status == 304;
}

bool DecodeGzipBody(HttpControl& settings, HttpResult& result, Output& sink, LogBase& log) {
  StringBuffer coding;
  if (!result.header.fields.getFieldValue("Content-Encoding", coding) ||
      !coding.equalsIgnoreCase("gzip")) {
    return true;
  }
  if (sink.size() <= kMinGzipBodyLength) return true;
  DataBuffer copy;
  const DataBuffer* body = sink.dataBuffer();
  if (body == nullptr) {
    if (!sink.copyTo(copy, log)) return false;
    body = &copy;
  }
  if (body->length() <= kMinGzipBodyLength || body->data()[0] != 0x1F ||
      body->data()[1] != 0x8B) {
    return true;
  }
  const uint64_t limit = settings.maxContentLength;
  DataBuffer decoded;
  if (!Gzip::uncompress(*body, decoded, limit, log)) {
    // Only a passed limit leaves more than the limit behind; any other failure keeps the body.
    if (limit != 0 && decoded.length() > limit) {
      LogLimitPassed(settings, log);
      return false;
    }
    return true;
  }
  DataBuffer* target = sink.dataBuffer();
  if (target != nullptr) {
    target->moveFrom(decoded);
  } else if (!sink.clear(log) || !sink.writeBytes(decoded.data(), decoded.length(), log)) {
    return false;
  }
  sink.takeEndAsPosition();
  return true;
}

namespace {

// One block read over TLS with its outcome.
struct TlsRead {
  bool ok = false;
  bool timedOut = false;
  bool aborted = false;
  bool error = false;
  bool endOfSession = false;
  bool closed = false;
  // The session ended (close-notify or the connection closed) rather than the read failing.
  bool ended() const { return endOfSession || (!ok && closed && !timedOut && !aborted); }
};

TlsRead ReceiveTlsBlock(SChannel& channel, const HttpControl& settings, HttpResult& result,
                        DataBuffer& block, LogBase& log, ProgressMonitor* progress) {
  TlsRead read;
  block.clear();
  read.ok = channel.ReceiveBytes(block, settings.abortCheckMs, log, progress, read.timedOut,
                                 read.aborted, read.error, read.endOfSession, read.closed);
  result.socketFlags.timedOut = read.timedOut;
  result.socketFlags.aborted = read.aborted;
  result.socketFlags.error = read.error;
  result.socketFlags.closedByPeer = read.closed;
  return read;
}

void FireChunkedNotification(ProgressMonitor* progress) {
  if (progress != nullptr && progress->applicationSink() != nullptr) {
    progress->applicationSink()->OnChunked();
  }
}

// A chunked body decoded as its bytes arrive (RFC 9112 section 7.1): size line, data, CR LF,
// ..., the last chunk, trailer lines and the empty line.
class ChunkedDecoder {
 public:
  enum class Step { kMore, kDone, kFailed };

  ChunkedDecoder(HttpControl& settings, Output& sink, LogBase& log)
      : settings_(settings), sink_(sink), log_(log) {}

  // Takes the next bytes; kFailed after logging why.
  Step feed(const uint8_t* bytes, uint32_t count) {
    uint32_t at = 0;
    while (at < count && state_ != State::kDone) {
      switch (state_) {
        case State::kSizeLine:
        case State::kTrailer: {
          const uint8_t byte = bytes[at++];
          if (byte != '\n') {
            if (!line_.append(reinterpret_cast<const char*>(&byte), 1)) return OutOfMemory();
            if (state_ == State::kSizeLine && line_.length() > kMaxChunkSizeLine) {
              return Fail("Failed to parse chunked SSL response data. (3)");
            }
            if (state_ == State::kTrailer && ++trailerBytes_ > kMaxTrailerBytes) {
              return Fail("Chunked response trailer too large.");
            }
            break;
          }
          if (line_.lastChar() == '\r') line_.shorten(1);
          Step step = state_ == State::kSizeLine ? SizeLineDone() : TrailerLineDone();
          line_.clear();
          if (step == Step::kFailed) return step;
          break;
        }
        case State::kData: {
          uint32_t take = count - at;
          if (take > remaining_) take = static_cast<uint32_t>(remaining_);
          if (!sink_.writeBytes(bytes + at, take, log_)) return Fail("Failed to write chunk data.");
          at += take;
          remaining_ -= take;
          if (remaining_ == 0) {
            state_ = State::kDataEnd;
            dataEndLeft_ = 2;
          }
          break;
        }
        case State::kDataEnd:
          // The two bytes after the data (CR LF) are passed over.
          ++at;
          if (--dataEndLeft_ == 0) state_ = State::kSizeLine;
          break;
        case State::kDone:
          break;
      }
    }
    return state_ == State::kDone ? Step::kDone : Step::kMore;
  }

  // What an early end of the session leaves: the size line or the data unfinished.
  void LogEarlyEnd() {
    log_.addError(state_ == State::kData || state_ == State::kDataEnd
                      ? "Failed to parse chunked SSL response data. (4)"
                      : "Failed to parse chunked SSL response data. (1)");
  }

 private:
  enum class State { kSizeLine, kData, kDataEnd, kTrailer, kDone };

  Step SizeLineDone() {
    uint64_t size = 0;
    switch (ParseChunkSize(line_.view(), size)) {
      case SizeLine::kNoNumber:
        return Fail("Failed to parse chunked SSL response data. (2)");
      case SizeLine::kTooLarge:
        return Fail("Chunk size does not fit 64 bits.");
      case SizeLine::kSize:
        break;
    }
    if (size == 0) {
      state_ = State::kTrailer;
      return Step::kMore;
    }
    // Checked before the chunk arrives: its announced size is never held beyond the limit.
    const uint64_t limit = settings_.maxContentLength;
    if (limit != 0 && (size > limit || sink_.size() > limit - size)) {
      log_.addError("Chunked response is too large.");
      log_.addTagInt64("maxContentLength", static_cast<int64_t>(limit));
      log_.addTagInt64("receivedSoFar", static_cast<int64_t>(sink_.size()));
      return Step::kFailed;
    }
    remaining_ = size;
    state_ = State::kData;
    return Step::kMore;
  }

  Step TrailerLineDone() {
    if (line_.isEmpty()) state_ = State::kDone;
    return Step::kMore;
  }

  Step Fail(const char* text) {
    log_.addError(text);
    return Step::kFailed;
  }
  Step OutOfMemory() { return Fail("Out of memory"); }

  HttpControl& settings_;
  Output& sink_;
  LogBase& log_;
  State state_ = State::kSizeLine;
  StringBuffer line_;
  uint64_t remaining_ = 0;
  int dataEndLeft_ = 0;
  uint32_t trailerBytes_ = 0;
};

void LogTlsBodyFailure(const HttpResult& result, LogBase& log) {
  log.addError("Failed to get response data for HTTPS");
  log.addTagInt64("ContentLength", static_cast<int64_t>(result.header.contentLength));
  log.addTagInt("ResponseCode", result.header.statusCode);
}

}  // namespace

bool ReadChunkedTls(std::string_view inHand, HttpControl& settings, HttpResult& result,
                    SChannel& channel, Output& sink, LogBase& log, ProgressMonitor* progress) {
  ChunkedDecoder decoder(settings, sink, log);
  ChunkedDecoder::Step step = decoder.feed(reinterpret_cast<const uint8_t*>(inHand.data()),
                                           static_cast<uint32_t>(inHand.size()));
  DataBuffer block;
  while (step == ChunkedDecoder::Step::kMore) {
    TlsRead read = ReceiveTlsBlock(channel, settings, result, block, log, progress);
    if (read.ended()) {
      decoder.LogEarlyEnd();
      return false;
    }
    if (!read.ok) {
      LogNull quiet;
      if (channel.HasSession()) channel.ShutdownChannel(true, quiet);
      log.addError("Failed to get SSL chunked response data (1)");
      return false;
    }
    step = decoder.feed(block.data(), block.length());
  }
  return step == ChunkedDecoder::Step::kDone;
}

bool ReadBodyTls(HttpControl& settings, HttpResult& result, Output& sink, std::string_view inHand,
                 SChannel& channel, LogBase& log, ProgressMonitor* progress) {
  const HttpResponseHeader& header = result.header;
  if (header.contentLengthInvalid) {
    log.addError("Invalid Content-Length.");
    return false;
  }
  const int status = header.statusCode;
  // Interim answers and HEAD have no body; what came after the head is the next answer's.
  if ((status >= 100 && status <= 199) || result.verb.equalsIgnoreCase("HEAD")) {
    log.addError("No response body to fetch...");
    return true;
  }
  StringBuffer te;
  const bool hasTe = header.fields.getFieldValue("Transfer-Encoding", te);
  const bool chunked = hasTe && te.equalsIgnoreCase("chunked");
  const uint64_t length = header.contentLength;
  if (!header.hasContentLength) log.addError("No content-length header field.");
  if (hasTe) {
    log.addTag("transferEncoding", te.getString());
  } else {
    log.addError("No transfer-encoding header field.");
  }
  log.addTagInt64("sslContentLength", static_cast<int64_t>(length));
  const uint32_t n = static_cast<uint32_t>(inHand.size());
  log.addTagInt("extraLen", static_cast<int32_t>(n));

  const uint64_t limit = settings.maxContentLength;
  if (!chunked && length > 0 && limit != 0 && length > limit) {
    log.addError("Content length more than the maximum allowed.");
    log.addTagInt64("maxContentLength", static_cast<int64_t>(limit));
    return false;
  }
  const uint8_t* extra = reinterpret_cast<const uint8_t*>(inHand.data());
  if (!chunked && length > 0 && n >= length) {
    // Bytes past the announced length belong to nobody: they are dropped.
    log.addError("Already have entire response.");
    if (!sink.writeBytes(extra, static_cast<uint32_t>(length), log)) return false;
    if (progress != nullptr) {
      bool abort = false;
      progress->setDone64(static_cast<int64_t>(length), abort);
    }
    return true;
  }
  if (chunked) {
    if (n == 0) log.addError("Getting chunked response. (dataLen=0)");
    FireChunkedNotification(progress);
    if (!ReadChunkedTls(inHand, settings, result, channel, sink, log, progress)) {
      LogTlsBodyFailure(result, log);
      return false;
    }
    return true;
  }
  if (length == 0 && header.hasContentLength) {
    log.addError("Already have entire response.");
    return true;
  }

  // By length, or (without one) until the session ends, never past maxContentLength.
  uint64_t total = 0;
  auto append = [&](const uint8_t* bytes, uint32_t count) {
    if (length > 0 && total + count > length) count = static_cast<uint32_t>(length - total);
    if (length == 0 && limit != 0 && total + count > limit) {
      LogLimitPassed(settings, log);
      log.addTagInt64("receivedSoFar", static_cast<int64_t>(total));
      return false;
    }
    if (!sink.writeBytes(bytes, count, log)) return false;
    total += count;
    return true;
  };
  if (!append(extra, n)) return false;
  // Into a memory sink the records are decrypted in place; bytes past the length are cut off
  // and a read that passes the limit is taken back.
  DataBuffer* direct = sink.dataBuffer();
  DataBuffer block;
  while (length == 0 || total < length) {
    DataBuffer& target = direct != nullptr ? *direct : block;
    const uint32_t before = direct != nullptr ? direct->length() : 0;
    if (direct == nullptr) block.clear();
    bool timedOut = false;
    bool aborted = false;
    bool error = false;
    bool endOfSession = false;
    bool closed = false;
    const bool ok = channel.ReceiveBytes(target, settings.abortCheckMs, log, progress, timedOut,
                                         aborted, error, endOfSession, closed);
    result.socketFlags.timedOut = timedOut;
    result.socketFlags.aborted = aborted;
    result.socketFlags.error = error;
    result.socketFlags.closedByPeer = closed;
    uint32_t count = target.length() - before;
    if (direct != nullptr) {
      direct->setLength(before);
      sink.takeEndAsPosition();
    }
    if (!ok || endOfSession) {
      if (length == 0 && !aborted) {
        log.addError("Finished reading response where content-length was unknown.");
        return true;
      }
      log.addError("Failed to get complete HTTPS response");
      LogTlsBodyFailure(result, log);
      return false;
    }
    bool taken;
    if (direct != nullptr) {
      if (length > 0 && total + count > length) count = static_cast<uint32_t>(length - total);
      taken = length != 0 || limit == 0 || total + count <= limit;
      if (taken) {
        direct->setLength(before + count);
        sink.takeEndAsPosition();
        total += count;
      } else {
        LogLimitPassed(settings, log);
        log.addTagInt64("receivedSoFar", static_cast<int64_t>(total));
      }
    } else {
      taken = append(block.data(), count);
    }
    if (!taken) {
      LogNull quiet;
      if (channel.HasSession()) channel.ShutdownChannel(true, quiet);
      return false;
    }
  }
  return true;
}

}  // namespace quillon
