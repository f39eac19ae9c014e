// Plays the input as a server's answer through an in-memory connection and reads it the way the
// request driver does: heads (interim ones skipped), a page sent without a head, the body by its
// framing, then gzip decoding. Three leading bytes choose the arrival piece size, the
// connection's kind, how the peer ends, the verb and the body limit. The answer must not depend
// on how the bytes were split: it is read once more in one piece and both readings must agree.
// Bodies never pass the limit, and nothing comes out that did not come in.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/data_buffer.h"
#include "base/log_base.h"
#include "http/http_control.h"
#include "http/http_response_header.h"
#include "http/http_result.h"
#include "http/output.h"
#include "http/response_reader.h"
#include "net/byte_stream.h"
#include "net/memory_transport.h"

namespace {

using quillon::MemoryTransport;

// The driver gives up after this many interim answers.
constexpr int kMaxHeads = 11;
// A zero limit byte stands for a limit far above any input.
constexpr uint64_t kLargeLimit = 1u << 20;

struct Options {
  uint32_t piece = 0;  // 0: everything in one arrival
  MemoryTransport::Kind kind = MemoryTransport::Kind::kPlain;
  MemoryTransport::Ending ending = MemoryTransport::Ending::kPeerCloses;
  bool headVerb = false;
  uint64_t limit = kLargeLimit;
};

struct Reading {
  bool ok = false;
  int status = -1;
  quillon::DataBuffer body;
};

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "response_reader_fuzzer: %s\n", what);
  std::abort();
}

Reading Read(std::string_view answer, const Options& options) {
  MemoryTransport transport(answer, {options.piece, options.piece, options.ending, options.kind});
  quillon::ByteStream stream(transport);
  quillon::HttpControl settings;
  settings.maxContentLength = options.limit;
  settings.readTimeout = 1;
  quillon::HttpResult result;
  if (options.headVerb) result.verb.assign("HEAD");
  quillon::LogNull log;
  Reading reading;
  quillon::OutputDataBuffer sink(reading.body);
  uint64_t taken = 0;  // head bytes and body bytes read off the connection
  for (int heads = 0; heads < kMaxHeads; ++heads) {
    quillon::DataBuffer head;
    if (!quillon::ReadResponseHead(stream, settings, result, head, log, nullptr)) break;
    Check(head.length() <= quillon::kMaxHeadBlock, "a head longer than the head limit");
    taken += head.length();
    if (!result.header.parse(head.view())) break;
    if (result.header.statusCode == 0) {
      const std::string_view probe =
          head.view().substr(0, quillon::HttpResponseHeader::kBareHtmlProbe);
      if (!quillon::HttpResponseHeader::LooksLikeBareHtml(probe)) break;
      result.header.markBareHtml();
      if (!sink.writeBytes(head.data(), head.length(), log)) break;
    }
    const uint64_t bodyStart = sink.size();
    const bool ok = quillon::ReadBody(settings, result, sink, stream, log, nullptr);
    Check(sink.size() - bodyStart <= options.limit, "a body past the limit");
    taken += sink.size() - bodyStart;
    Check(taken + stream.size() + transport.left() <= answer.size(),
          "more bytes read than the peer sent");
    reading.status = result.header.statusCode;
    if (!ok) break;
    if (reading.status >= 100 && reading.status <= 199) continue;
    reading.ok = quillon::DecodeGzipBody(settings, result, sink, log);
    break;
  }
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > UINT32_MAX) return 0;
  Options options;
  options.piece = data[0];
  options.kind = (data[1] & 1) != 0 ? MemoryTransport::Kind::kTls : MemoryTransport::Kind::kPlain;
  options.ending = (data[1] & 2) != 0 ? MemoryTransport::Ending::kTimesOut
                                      : MemoryTransport::Ending::kPeerCloses;
  options.headVerb = (data[1] & 4) != 0;
  if (data[2] != 0) options.limit = data[2];
  const std::string_view answer(reinterpret_cast<const char*>(data + 3), size - 3);

  const Reading split = Read(answer, options);
  options.piece = 0;
  const Reading whole = Read(answer, options);
  Check(split.ok == whole.ok, "the outcome depends on how the bytes arrived");
  Check(split.status == whole.status, "the status depends on how the bytes arrived");
  Check(split.body.view() == whole.body.view(), "the body depends on how the bytes arrived");
  return 0;
}
