#include "http/response_reader.h"

#include <string_view>

#include "base/ascii.h"
#include "base/data_buffer.h"
#include "base/gzip.h"
#include "base/log_base.h"
#include "base/output.h"
#include "base/progress.h"
#include "base/string_buffer.h"
#include "http/http_control.h"
#include "http/http_result.h"
#include "net/byte_stream.h"
#include "net/quillon_socket.h"

namespace quillon {

namespace {

constexpr const char* kLimitPassed = "Content length more than the maximum allowed...";

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
      HexValue(line[at + 2]) >= 0) {
    at += 2;
  }
  bool any = false;
  for (; at < line.size(); ++at) {
    int digit = HexValue(line[at]);
    if (digit < 0) break;
    if (size > (UINT64_MAX >> 4)) return SizeLine::kTooLarge;
    size = (size << 4) | static_cast<uint64_t>(digit);
    any = true;
  }
  return any ? SizeLine::kSize : SizeLine::kNoNumber;
}

// Names a body past maxContentLength as the fetch's failure.
bool FailTooLarge(const HttpControl& settings, HttpResult& result) {
  result.error.set(FetchErrorKind::kBodyTooLarge);
  result.error.limit = settings.maxContentLength;
  return false;
}

// After a body read failed without naming why: the socket's report tells.
bool FailFromFlags(HttpResult& result) {
  const SocketFlags& flags = result.socketFlags;
  return result.error.set(flags.aborted    ? FetchErrorKind::kStopped
                          : flags.timedOut ? FetchErrorKind::kBodyTimedOut
                                           : FetchErrorKind::kBodyCutOff);
}

void LogLimitPassed(const HttpControl& settings, LogBase& log) {
  log.addError(kLimitPassed);
  log.addTagInt64("maxContentLength", static_cast<int64_t>(settings.maxContentLength));
}

void LogTlsBodyFailure(const HttpResult& result, LogBase& log) {
  log.addError("Failed to get response data for HTTPS");
  log.addTagInt64("ContentLength", static_cast<int64_t>(result.header.contentLength));
  log.addTagInt("ResponseCode", result.header.statusCode);
}

void FireChunkedNotification(ProgressMonitor* progress) {
  if (progress != nullptr && progress->applicationSink() != nullptr) {
    progress->applicationSink()->OnChunked();
  }
}

// The body bytes one read hands on: written to the sink and counted as progress.
class BodyOut {
 public:
  BodyOut(Output& sink, HttpResult& result, LogBase& log, ProgressMonitor* progress)
      : sink_(sink), error_(result.error), flags_(result.socketFlags), log_(log),
        progress_(progress) {}

  // False when the sink refuses the bytes or the application asks to abort (flags.aborted).
  bool deliver(const uint8_t* bytes, uint32_t count) {
    if (count == 0) return true;
    if (!sink_.writeBytes(bytes, count, log_)) return error_.set(FetchErrorKind::kFailed);
    delivered_ += count;
    if (progress_ == nullptr) return true;
    bool abort = false;
    progress_->consumeAndCheck(count, abort);
    if (abort) flags_.aborted = true;
    return !abort;
  }
  uint64_t size() const { return sink_.size(); }
  uint64_t delivered() const { return delivered_; }

  // The next arrival on stream: into a sink in memory straight (direct counts what was
  // delivered that way, at most maxBytes), otherwise into the stream's buffer.
  ByteStream::Fill receive(ByteStream& stream, uint64_t maxBytes, uint32_t heartbeatMs,
                           ProgressMonitor* progress, uint32_t& direct) {
    direct = 0;
    DataBuffer* memory = sink_.dataBuffer();
    if (memory == nullptr || stream.size() != 0) {
      return stream.fill(heartbeatMs, log_, progress, flags_);
    }
    const ByteStream::Fill fill =
        stream.fillInto(*memory, maxBytes, heartbeatMs, log_, progress, flags_, direct);
    sink_.takeEndAsPosition();
    delivered_ += direct;
    if (direct > 0 && progress_ != nullptr) {
      bool abort = false;
      progress_->consumeAndCheck(direct, abort);
      if (abort) {
        flags_.aborted = true;
        return ByteStream::Fill::kFailed;
      }
    }
    return fill;
  }

 private:
  Output& sink_;
  FetchError& error_;
  SocketFlags& flags_;
  LogBase& log_;
  ProgressMonitor* progress_;
  uint64_t delivered_ = 0;
};

// How a body is delimited, as the policy of the connection's kind decides it.
struct Framing {
  enum Kind { kNone, kLength, kChunked, kUntilClose } kind = kNone;
  bool noBodyOk = true;        // kNone: the outcome of a body that is not read
  uint32_t untilCloseMs = 0;   // kUntilClose: the idle time-out meanwhile
};

bool IsChunked(const StringBuffer& te) { return te.equalsIgnoreCase("chunked"); }

// Plain connections: the status code decides whether a body is read at all.
Framing PlainFraming(const HttpControl& settings, const HttpResult& result, bool chunked,
                     LogBase& log) {
  const HttpResponseHeader& header = result.header;
  const int status = header.statusCode;
  Framing f;
  if (result.verb.equalsIgnoreCase("HEAD")) {
    log.addError("No response body to fetch...");
    return f;
  }
  const bool hasLength = header.hasContentLength || header.contentLength > 0;
  const bool byRule = (status >= 200 && status <= 299 && status != 204) || status == 301 ||
                      status == 302 || status == 303 || status == 307 || status == 308 ||
                      (status >= 400 && (hasLength || chunked));
  if (byRule) {
    if (chunked) {
      log.addError("Reading chunked response");
      f.kind = Framing::kChunked;
    } else if (header.contentLength > 0) {
      f.kind = Framing::kLength;
    } else if (header.hasContentLength) {
      f.kind = Framing::kNone;
    } else if (status >= 300) {
      log.addError(
          "Skipping response body because Content-Length header is missing and response code "
          ">= 300");
    } else {
      log.addError("Read max non-chunked response");
      f.kind = Framing::kUntilClose;
      f.untilCloseMs = SecondsToMs(settings.readTimeout);
    }
    return f;
  }
  log.addTagInt("response_code", status);
  if (status == 500) {
    if (header.contentLength > 0) {
      log.addTagInt64("ContentLength", static_cast<int64_t>(header.contentLength));
      f.kind = Framing::kLength;
    } else if (!header.hasContentLength) {
      log.addError("Read max non-chunked response.");
      f.kind = Framing::kUntilClose;
      f.untilCloseMs = SecondsToMs(settings.readTimeout < kServerErrorShortTimeoutLimitSec
                                       ? settings.readTimeout
                                       : kServerErrorReadTimeoutSec);
    }
    return f;
  }
  log.addError("No response body to fetch...");
  // Interim answers (the driver reads the next head) and revalidations carry no body.
  f.noBodyOk = (status >= 100 && status <= 199) || status == 304;
  return f;
}

// TLS connections: every answer but an interim one or a HEAD's is read by its framing.
Framing TlsFraming(const HttpControl& settings, const HttpResult& result, bool hasTe,
                   const StringBuffer& te, uint32_t inHand, LogBase& log) {
  const HttpResponseHeader& header = result.header;
  const int status = header.statusCode;
  Framing f;
  if ((status >= 100 && status <= 199) || result.verb.equalsIgnoreCase("HEAD")) {
    log.addError("No response body to fetch...");
    return f;
  }
  if (!header.hasContentLength) log.addError("No content-length header field.");
  if (hasTe) {
    log.addTag("transferEncoding", te.getString());
  } else {
    log.addError("No transfer-encoding header field.");
  }
  log.addTagInt64("sslContentLength", static_cast<int64_t>(header.contentLength));
  log.addTagInt("extraLen", static_cast<int32_t>(inHand));
  if (hasTe && IsChunked(te)) {
    if (inHand == 0) log.addError("Getting chunked response. (dataLen=0)");
    f.kind = Framing::kChunked;
  } else if (header.contentLength > 0) {
    if (inHand >= header.contentLength) log.addError("Already have entire response.");
    f.kind = Framing::kLength;
  } else if (header.hasContentLength) {
    log.addError("Already have entire response.");
  } else {
    f.kind = Framing::kUntilClose;
    f.untilCloseMs = SecondsToMs(settings.readTimeout);
  }
  return f;
}

// Reads length bytes and forgets them, so that the connection can carry the next request.
// False when the stream fails or ends first (the flags tell).
bool DropBytes(HttpControl& settings, HttpResult& result, ByteStream& stream, uint64_t length,
               LogBase& log, ProgressMonitor* progress) {
  for (;;) {
    const uint32_t take = stream.size() < length ? stream.size() : static_cast<uint32_t>(length);
    stream.consume(take);
    length -= take;
    if (length == 0) return true;
    if (stream.fill(settings.abortCheckMs, log, progress, result.socketFlags) !=
        ByteStream::Fill::kData) {
      return false;
    }
  }
}

// Exactly length bytes, checked against maxContentLength before any is read. Bytes past the
// length stay in the stream. A body over the limit but within kMaxDroppedBody is read and
// dropped, so the kept-alive connection survives it.
bool ReadByLength(HttpControl& settings, HttpResult& result, BodyOut& out, ByteStream& stream,
                  uint64_t length, LogBase& log, ProgressMonitor* progress) {
  if (settings.maxContentLength != 0 && length > settings.maxContentLength) {
    log.addError("Content length more than the maximum allowed.");
    log.addTagInt64("maxContentLength", static_cast<int64_t>(settings.maxContentLength));
    result.bodyDropped = length <= kMaxDroppedBody &&
                         DropBytes(settings, result, stream, length, log, progress);
    return FailTooLarge(settings, result);
  }
  uint64_t remaining = length;
  for (;;) {
    const uint32_t take =
        stream.size() < remaining ? stream.size() : static_cast<uint32_t>(remaining);
    const bool delivered = out.deliver(stream.data(), take);
    stream.consume(take);
    if (!delivered) return false;
    remaining -= take;
    if (remaining == 0) return true;
    uint32_t direct = 0;
    const ByteStream::Fill fill =
        out.receive(stream, remaining, settings.abortCheckMs, progress, direct);
    remaining -= direct;
    if (fill == ByteStream::Fill::kData && remaining == 0) return true;
    if (fill != ByteStream::Fill::kData) {
      if (stream.tls()) {
        log.addError("Failed to get complete HTTPS response");
        LogTlsBodyFailure(result, log);
      }
      return false;
    }
  }
}

// Everything until the peer closes (or the read times out), never past maxContentLength.
bool ReadUntilClose(HttpControl& settings, HttpResult& result, BodyOut& out, ByteStream& stream,
                    uint32_t timeoutMs, LogBase& log, ProgressMonitor* progress) {
  IdleTimeoutScope timeout(stream.socket(), timeoutMs);
  const uint64_t limit = settings.maxContentLength;
  const uint64_t start = out.size();
  for (;;) {
    const uint32_t take = stream.size();
    if (limit != 0 && out.size() + take > limit) {
      // The sink is filled up to the limit, never past it.
      // A sink that already held the limit (a page sent without a head) takes nothing more.
      out.deliver(stream.data(),
                  static_cast<uint32_t>(limit > out.size() ? limit - out.size() : 0));
      LogLimitPassed(settings, log);
      log.addTagInt64("receivedSoFar", static_cast<int64_t>(out.size() - start));
      stream.close(log);
      return FailTooLarge(settings, result);
    }
    const bool delivered = out.deliver(stream.data(), take);
    stream.consume(take);
    if (!delivered) return false;
    const uint64_t room = limit != 0 ? limit - out.size() : UINT64_MAX;
    uint32_t direct = 0;
    const ByteStream::Fill fill =
        out.receive(stream, room, settings.abortCheckMs, progress, direct);
    if (fill == ByteStream::Fill::kData) continue;
    if (result.socketFlags.aborted) {
      if (stream.tls()) {
        log.addError("Failed to get complete HTTPS response");
        LogTlsBodyFailure(result, log);
      }
      return false;
    }
    if (stream.tls()) {
      log.addError("Finished reading response where content-length was unknown.");
      return true;
    }
    // A plain read that timed out ends the body when something came.
    return fill == ByteStream::Fill::kEnded || out.delivered() > 0;
  }
}

// A chunked body decoded as its bytes arrive (RFC 9112 section 7.1): size line, data, CR LF,
// ..., the last chunk, trailer lines and the empty line. What follows stays in the stream.
class ChunkedReader {
 public:
  ChunkedReader(HttpControl& settings, HttpResult& result, BodyOut& out, ByteStream& stream,
                LogBase& log, ProgressMonitor* progress)
      : settings_(settings), result_(result), out_(out), stream_(stream), log_(log),
        progress_(progress) {}

  bool run() {
    for (;;) {
      const Step step = decodeHeld();
      if (step == Step::kDone) return true;
      if (step == Step::kFailed) return fail(nullptr);
      const ByteStream::Fill fill =
          stream_.fill(settings_.abortCheckMs, log_, progress_, result_.socketFlags);
      if (fill != ByteStream::Fill::kData) return fail(LostText(fill == ByteStream::Fill::kEnded));
    }
  }

 private:
  enum class State { kSizeLine, kData, kDataEnd, kTrailer, kDone };
  enum class Step { kMore, kDone, kFailed };

  // Decodes what the stream holds; kMore when it needs more bytes.
  Step decodeHeld() {
    while (state_ != State::kDone) {
      Step step = Step::kMore;
      bool progressed = false;
      switch (state_) {
        case State::kSizeLine:
        case State::kTrailer:
          step = takeLine(progressed);
          break;
        case State::kData: {
          const uint32_t take =
              stream_.size() < remaining_ ? stream_.size() : static_cast<uint32_t>(remaining_);
          const bool delivered = out_.deliver(stream_.data(), take);
          stream_.consume(take);
          if (!delivered) return Step::kFailed;
          remaining_ -= take;
          progressed = take > 0;
          if (remaining_ == 0) {
            state_ = State::kDataEnd;
            dataEndLeft_ = 2;
          }
          break;
        }
        case State::kDataEnd: {
          // The two bytes after the data (CR LF) are passed over, whatever they are.
          const uint32_t take = stream_.size() < dataEndLeft_ ? stream_.size() : dataEndLeft_;
          stream_.consume(take);
          dataEndLeft_ -= take;
          progressed = take > 0;
          if (dataEndLeft_ == 0) state_ = State::kSizeLine;
          break;
        }
        case State::kDone:
          break;
      }
      if (step != Step::kMore) return step;
      if (!progressed && state_ != State::kDone) return Step::kMore;
    }
    return Step::kDone;
  }

  // Takes one complete line (a size line or a trailer line) off the stream.
  Step takeLine(bool& progressed) {
    const std::string_view held = stream_.view();
    const size_t lf = held.find('\n', scanned_);
    if (lf == std::string_view::npos) {
      scanned_ = static_cast<uint32_t>(held.size());
      if (state_ == State::kSizeLine && held.size() > kMaxChunkSizeLine) {
        return failWith(stream_.tls() ? "Failed to parse chunked SSL response data. (3)"
                                      : "Chunk size line too long.");
      }
      if (state_ == State::kTrailer && trailerBytes_ + held.size() > kMaxTrailerBytes) {
        return failWith("Chunked response trailer too large.");
      }
      return Step::kMore;
    }
    // The line's length decides, not how much of it arrived before its LF.
    if (state_ == State::kSizeLine && lf > kMaxChunkSizeLine) {
      return failWith(stream_.tls() ? "Failed to parse chunked SSL response data. (3)"
                                    : "Chunk size line too long.");
    }
    std::string_view line = held.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const uint32_t taken = static_cast<uint32_t>(lf + 1);
    scanned_ = 0;
    progressed = true;
    if (state_ == State::kTrailer) {
      trailerBytes_ += taken;
      if (trailerBytes_ > kMaxTrailerBytes) return failWith("Chunked response trailer too large.");
      if (line.empty()) state_ = State::kDone;
      stream_.consume(taken);
      return state_ == State::kDone ? Step::kDone : Step::kMore;
    }
    uint64_t size = 0;
    const SizeLine parsed = ParseChunkSize(line, size);
    stream_.consume(taken);
    switch (parsed) {
      case SizeLine::kNoNumber:
        // A plain reader reads "%x": a line without a number ends the body.
        if (!stream_.tls()) {
          state_ = State::kDone;
          return Step::kDone;
        }
        return failWith("Failed to parse chunked SSL response data. (2)");
      case SizeLine::kTooLarge:
        return failWith("Chunk size does not fit 64 bits.");
      case SizeLine::kSize:
        break;
    }
    if (size == 0) {
      state_ = State::kTrailer;
      return Step::kMore;
    }
    // Checked before the chunk arrives: its announced size is never held beyond the limit.
    const uint64_t limit = settings_.maxContentLength;
    if (limit != 0 && (size > limit || out_.size() > limit - size)) {
      log_.addError("Chunked response is too large.");
      log_.addTagInt64("maxContentLength", static_cast<int64_t>(limit));
      log_.addTagInt64("receivedSoFar", static_cast<int64_t>(out_.size()));
      FailTooLarge(settings_, result_);
      return Step::kFailed;
    }
    remaining_ = size;
    state_ = State::kData;
    return Step::kMore;
  }

  // The text for bytes that never came, by where the body stood; null when none is due.
  const char* LostText(bool ended) const {
    if (stream_.tls()) {
      if (!ended) return "Failed to get SSL chunked response data (1)";
      return state_ == State::kData || state_ == State::kDataEnd
                 ? "Failed to parse chunked SSL response data. (4)"
                 : "Failed to parse chunked SSL response data. (1)";
    }
    switch (state_) {
      case State::kSizeLine: return "Failed to get response data (a)";
      case State::kData: return "Failed to get response data (b)";
      case State::kDataEnd: return "Failed to get response data (c)";
      default: return nullptr;
    }
  }

  // A framing fault: the body cannot be read on.
  Step failWith(const char* text) {
    log_.addError(text);
    result_.error.set(FetchErrorKind::kBodyInvalid);
    return Step::kFailed;
  }

  // A failed chunked read closes the connection: its framing is lost.
  bool fail(const char* text) {
    LogNull quiet;
    stream_.close(stream_.tls() ? quiet : log_);
    if (text != nullptr) log_.addError(text);
    return false;
  }

  HttpControl& settings_;
  HttpResult& result_;
  BodyOut& out_;
  ByteStream& stream_;
  LogBase& log_;
  ProgressMonitor* progress_;
  State state_ = State::kSizeLine;
  uint32_t scanned_ = 0;  // bytes of the held line searched for its LF so far
  uint64_t remaining_ = 0;
  uint32_t dataEndLeft_ = 0;
  uint32_t trailerBytes_ = 0;
};

}  // namespace

bool ReadResponseHead(ByteStream& stream, const HttpControl& settings, HttpResult& result,
                      DataBuffer& head, LogBase& log, ProgressMonitor* progress) {
  SocketFlags& flags = result.socketFlags;
  flags.clear();
  bool started = false;
  uint32_t scanned = 0;
  uint32_t lineChars = 0;  // characters other than CR since the last LF
  for (;;) {
    if (!started) {
      // Empty lines before the status line are passed over (RFC 9112 section 2.2).
      uint32_t skip = 0;
      while (skip < stream.size() && (stream.data()[skip] == '\r' || stream.data()[skip] == '\n')) {
        ++skip;
      }
      stream.consume(skip);
      started = stream.size() > 0;
    }
    const uint8_t* held = stream.data();
    const uint32_t end = stream.size() < kMaxHeadBlock ? stream.size() : kMaxHeadBlock;
    for (; scanned < end; ++scanned) {
      const uint8_t c = held[scanned];
      if (c == '\n') {
        if (lineChars == 0) {
          const bool kept = head.append(held, scanned + 1);
          stream.consume(scanned + 1);
          if (!kept) {
            log.addError("Out of memory");
            return result.error.set(FetchErrorKind::kOutOfMemory);
          }
          return true;
        }
        lineChars = 0;
      } else if (c != '\r') {
        ++lineChars;
      }
    }
    if (scanned >= kMaxHeadBlock) {
      log.addError("Response header too large.");
      log.addTagInt("maxHeaderSize", static_cast<int32_t>(kMaxHeadBlock));
      result.error.limit = kMaxHeadBlock;
      return result.error.set(FetchErrorKind::kHeadTooLarge);
    }
    const ByteStream::Fill fill = stream.fill(settings.abortCheckMs, log, progress, flags);
    if (fill == ByteStream::Fill::kData) continue;
    head.append(stream.data(), stream.size());
    if (fill == ByteStream::Fill::kEnded) {
      flags.closedByPeer = true;
      log.addError("HTTP server closed the connection before the response head could be read.");
    } else if (flags.aborted) {
      log.addError("Application aborted prior to reading the response header.");
      return result.error.set(FetchErrorKind::kStopped);
    } else if (flags.timedOut) {
      log.addError("Timeout trying to read HTTP response header");
      log.addTagInt("readTimeout", static_cast<int32_t>(settings.readTimeout));
      return result.error.set(FetchErrorKind::kHeadTimedOut);
    }
    return result.error.set(FetchErrorKind::kHeadCutOff);
  }
}

bool ReadBody(HttpControl& settings, HttpResult& result, Output& sink, ByteStream& stream,
              LogBase& log, ProgressMonitor* progress) {
  const HttpResponseHeader& header = result.header;
  if (header.contentLengthInvalid) {
    log.addError("Invalid Content-Length.");
    return result.error.set(FetchErrorKind::kHeadInvalid);
  }
  StringBuffer te;
  const bool hasTe = header.fields.getFieldValue("Transfer-Encoding", te);
  const Framing framing = stream.tls()
                              ? TlsFraming(settings, result, hasTe, te, stream.size(), log)
                              : PlainFraming(settings, result, hasTe && IsChunked(te), log);
  BodyOut out(sink, result, log, progress);
  bool read = false;
  switch (framing.kind) {
    case Framing::kNone:
      read = framing.noBodyOk;
      break;
    case Framing::kLength:
      read = ReadByLength(settings, result, out, stream, header.contentLength, log, progress);
      break;
    case Framing::kChunked: {
      FireChunkedNotification(progress);
      ChunkedReader reader(settings, result, out, stream, log, progress);
      read = reader.run();
      if (!read && stream.tls()) LogTlsBodyFailure(result, log);
      break;
    }
    case Framing::kUntilClose:
      read = ReadUntilClose(settings, result, out, stream, framing.untilCloseMs, log, progress);
      break;
  }
  return read || FailFromFlags(result);
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
    if (!sink.copyTo(copy, log)) return result.error.set(FetchErrorKind::kOutOfMemory);
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
      return FailTooLarge(settings, result);
    }
    return true;
  }
  DataBuffer* target = sink.dataBuffer();
  if (target != nullptr) {
    target->moveFrom(decoded);
  } else if (!sink.clear(log) || !sink.writeBytes(decoded.data(), decoded.length(), log)) {
    return result.error.set(FetchErrorKind::kFailed);
  }
  sink.takeEndAsPosition();
  return true;
}

}  // namespace quillon
