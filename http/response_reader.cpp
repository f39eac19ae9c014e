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

}  // namespace quillon
