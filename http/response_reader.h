// Reading a response body over a plain socket once its head is parsed: the rules that delimit it
// (content length, chunked, until the peer closes, no body), the maxContentLength bound on every
// path, and the gzip decoding of a finished body. The head itself is read by the request driver
// with QuillonSocket::ReceiveHeaderBlock (over TLS by the driver's block reads) and parsed by
// HttpResponseHeader. Over TLS the head arrives in blocks, so the body's first bytes come in hand.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon {

class HttpControl;
class HttpResult;
class LogBase;
class Output;
class ProgressMonitor;
class QuillonSocket;
class SChannel;

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

// A chunk size line (with any extension) longer than this is refused.
inline constexpr uint32_t kMaxChunkSizeLine = 4096;

// Reads the body of the response whose head is in result.header from a TLS channel into sink;
// inHand are the bytes that arrived after the head's blank line. Delimited by Content-Length
// (bytes past it are dropped), by chunks (ReadChunkedTls), else by the end of the session or a
// failing read. 1xx answers and HEAD requests have no body: true without reading. Every path
// holds at most maxContentLength. False with the story in log; the sink keeps what arrived.
bool ReadBodyTls(HttpControl& settings, HttpResult& result, Output& sink, std::string_view inHand,
                 SChannel& channel, LogBase& log, ProgressMonitor* progress);

// Decodes a chunked body as it arrives over channel, starting with the bytes in hand, into sink:
// it ends after the last chunk, its trailer lines and the empty line. Bytes after that end are
// ignored. False on a malformed chunk, a session that ends early, a failed read or a body past
// maxContentLength.
bool ReadChunkedTls(std::string_view inHand, HttpControl& settings, HttpResult& result,
                    SChannel& channel, Output& sink, LogBase& log, ProgressMonitor* progress);

// Replaces a finished body with its decoded form when it is longer than 10 bytes, begins with
// 1F 8B and Content-Encoding is "gzip"; a body that does not decode stays as received. False only
// when the decoded body would pass maxContentLength (logged as "Content length more than the
// maximum allowed...") or memory runs out; the sink then holds the compressed body.
bool DecodeGzipBody(HttpControl& settings, HttpResult& result, Output& sink, LogBase& log);

}  // namespace quillon
