// Base64 encoding and decoding throughput (MB/s of raw bytes), for credential-sized inputs and
// for a 1 MB block; quoted-printable encoding of text for comparison.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "base/content_coding.h"
#include "base/data_buffer.h"
#include "base/string_buffer.h"

namespace {

std::string RandomBytes(size_t size) {
  std::mt19937 rng(99);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

void BM_Base64Encode(benchmark::State& state) {
  const std::string data = RandomBytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    quillon::StringBuffer out;
    quillon::ContentCoding::encodeBase64(data.data(), static_cast<uint32_t>(data.size()), out);
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Base64Decode(benchmark::State& state) {
  const std::string data = RandomBytes(static_cast<size_t>(state.range(0)));
  quillon::StringBuffer text;
  quillon::ContentCoding::encodeBase64(data.data(), static_cast<uint32_t>(data.size()), text);
  for (auto _ : state) {
    quillon::DataBuffer out;
    quillon::ContentCoding::decodeBase64(text.getString(), text.length(), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_QuotedPrintableEncode(benchmark::State& state) {
  std::string text;
  while (text.size() < static_cast<size_t>(state.range(0))) {
    text += "From the crawler: caf\xc3\xa9 = ok.\r\n";
  }
  for (auto _ : state) {
    quillon::StringBuffer out;
    quillon::ContentCoding::encodeQuotedPrintable(text.data(), static_cast<uint32_t>(text.size()),
                                                  out);
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_Base64Encode)->Arg(48)->Arg(1 << 20);
BENCHMARK(BM_Base64Decode)->Arg(48)->Arg(1 << 20);
BENCHMARK(BM_QuotedPrintableEncode)->Arg(1 << 20);

}  // namespace
