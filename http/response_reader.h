// Reading a response body over a plain socket once its head is parsed: the rules that delimit it
// (content length, chunked, until the peer closes, no body), the maxContentLength bound on every
// path, and the gzip decoding of a finished body. The head itself is read by the request driver
// with QuillonSocket::ReceiveHeaderBlock and parsed by HttpResponseHeader. The TLS readers
// (ReadBodyTls, ReadChunkedTls) join this unit with the TLS channel.
#pragma once

#include <cstdint>

namespace quillon {

class HttpControl;
class HttpResult;
class LogBase;
class Output;
class ProgressMonitor;
class QuillonSocket;

// The read-until-close time-out of a 500 answer without length: readTimeout when below this many
// seconds, else kServerErrorReadTimeoutSec.
inline constexpr uint32_t kServerErrorShortTimeoutLimitSec = 4;
inline constexpr uint32_t kServerErrorReadTimeoutSec = 3;
// Reads of a body delimited by the peer's close.
inline constexpr uint32_t kReadUntilCloseBlock = 4096;
// Trailer lines after the last chunk are consumed up to this many bytes in all.
inline constexpr uint32_t kMaxTrailerBytes = 64 * 1024;
// A gzip body is decoded only when longer than this.
inline constexpr uint32_t kMinGzipBodyLength = 10;

// Reads the body of the response whose head is in result.header from socket into sink, by the
// status code and Transfer-Encoding/Content-Length. False with the story in log; the sink keeps
// what arrived before a failure. Succeeds without a body for 1xx and 304 (the driver reads the
// next head or revalidates), fails for other codes that carry no body (204 among them).
bool ReadBodyPlain(HttpControl& settings, HttpResult& result, Output& sink, QuillonSocket& socket,
                   LogBase& log, ProgressMonitor* progress);

// Replaces a finished body with its decoded form when it is longer than 10 bytes, begins with
// 1F 8B and Content-Encoding is "gzip"; a body that does not decode stays as received. False only
// when the decoded body would pass maxContentLength (logged as "Content length more than the
// maximum allowed...") or memory runs out; the sink then holds the compressed body.
bool DecodeGzipBody(HttpControl& settings, HttpResult& result, Output& sink, LogBase& log);

}  // namespace quillon
