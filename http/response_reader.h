// Reading a response from a connection's byte stream, plain or TLS alike: one head reader, one
// body reader (content length, chunked, until the peer closes, no body) with the
// maxContentLength bound on every path, and the gzip decoding of a finished body. Where the two
// kinds of connection give different outcomes (which statuses carry a body, a chunk size line
// without a number, the failure texts), that is the reader's policy for the stream's kind.
#pragma once

#include <cstdint>

namespace quillon {

class ByteStream;
class DataBuffer;
class HttpControl;
class HttpResult;
class LogBase;
class Output;
class ProgressMonitor;

// The read-until-close time-out of a 500 answer without length on a plain connection:
// readTimeout when below this many seconds, else kServerErrorReadTimeoutSec.
inline constexpr uint32_t kServerErrorShortTimeoutLimitSec = 4;
inline constexpr uint32_t kServerErrorReadTimeoutSec = 3;
// A response head longer than this fails ("Response header too large."), so a peer trickling
// an endless head holds neither the connection nor memory for ever.
inline constexpr uint32_t kMaxHeadBlock = 64 * 1024;
// A chunk size line (with any extension) longer than this is refused.
inline constexpr uint32_t kMaxChunkSizeLine = 4096;
// Trailer lines after the last chunk are consumed up to this many bytes in all.
inline constexpr uint32_t kMaxTrailerBytes = 64 * 1024;
// A body of known length over the limit is still read, and dropped, up to this size, so that
// the kept-alive connection serves the next request; a longer one ends the connection.
inline constexpr uint64_t kMaxDroppedBody = 8 * 1024 * 1024;
// A gzip body is decoded only when longer than this.
inline constexpr uint32_t kMinGzipBodyLength = 10;

// Takes one response head off the stream into head: the bytes up to and including the empty
// line that ends it (an LF with nothing but CRs since the previous LF); what follows stays in
// the stream. Empty lines before the head are passed over. False on a close before the end,
// a time-out, an abort (result.socketFlags tell which) or a head past kMaxHeadBlock; head then
// holds what arrived.
bool ReadResponseHead(ByteStream& stream, const HttpControl& settings, HttpResult& result,
                      DataBuffer& head, LogBase& log, ProgressMonitor* progress);

// Reads the body of the response whose head is in result.header from stream into sink, by the
// status code, Transfer-Encoding and Content-Length, and counts its bytes as progress. Bytes
// after the body stay in the stream. False with the story in log; the sink keeps what arrived.
// Plain: 1xx and 304 succeed without a body, other codes without one (204 among them) fail.
// TLS: 1xx and HEAD have no body, every other answer is read by its framing (without one,
// until the session ends or the read times out).
bool ReadBody(HttpControl& settings, HttpResult& result, Output& sink, ByteStream& stream,
              LogBase& log, ProgressMonitor* progress);

// Replaces a finished body with its decoded form when it is longer than 10 bytes, begins with
// 1F 8B and Content-Encoding is "gzip"; a body that does not decode stays as received. False only
// when the decoded body would pass maxContentLength (logged as "Content length more than the
// maximum allowed...") or memory runs out; the sink then holds the compressed body.
bool DecodeGzipBody(HttpControl& settings, HttpResult& result, Output& sink, LogBase& log);

}  // namespace quillon
