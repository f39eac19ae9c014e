// Gzip body decoding through Gzip::uncompress against zlib's own inflate of the same bytes in the
// same run; the two MB/s figures (of uncompressed output) should be close.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>

#include "base/data_buffer.h"
#include "base/gzip.h"
#include "base/log_base.h"

namespace {

constexpr size_t kBodySize = 20u << 20;

// A deterministic page of about 20 MB: markup, links and prose from a small vocabulary, so it
// compresses about as well as real HTML.
std::string MakeHtml(size_t size) {
  static const char* const kWords[] = {
      "the",     "site",   "map",      "crawler", "page",   "links",   "robots", "index",
      "content", "server", "response", "request", "header", "gzip",    "cache",  "cookie",
      "proxy",   "title",  "keywords", "about",   "news",   "contact", "search", "products"};
  constexpr size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
  std::mt19937 rng(1234);
  std::string html = "<!DOCTYPE html>\r\n<html><head><title>Generated</title></head><body>\r\n";
  int article = 0;
  while (html.size() < size) {
    html += "<div class=\"article\" id=\"a" + std::to_string(article++) + "\">\r\n<h2>";
    for (int w = 0; w < 4; ++w) html += std::string(kWords[rng() % kWordCount]) + " ";
    html += "</h2>\r\n<p>";
    int words = 40 + rng() % 80;
    for (int w = 0; w < words; ++w) {
      if (rng() % 15 == 0) {
        html += "<a href=\"/" + std::string(kWords[rng() % kWordCount]) + "/" +
                std::to_string(rng() % 5000) + ".html\">" + kWords[rng() % kWordCount] + "</a> ";
      } else {
        html += kWords[rng() % kWordCount];
        html += ' ';
      }
    }
    html += "</p>\r\n</div>\r\n";
  }
  html.resize(size);
  return html;
}

std::string GzipCompress(const std::string& data) {
  z_stream zs{};
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

const std::string& Body() {
  static const std::string body = MakeHtml(kBodySize);
  return body;
}

const std::string& GzipBody() {
  static const std::string gz = GzipCompress(Body());
  return gz;
}

void ReportSizes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(Body().size()));
  state.counters["ratio"] = static_cast<double>(Body().size()) / GzipBody().size();
}

void BM_GzipUncompress(benchmark::State& state) {
  const std::string& gz = GzipBody();
  quillon::DataBuffer in(gz.data(), static_cast<uint32_t>(gz.size()));
  for (auto _ : state) {
    quillon::DataBuffer out;
    quillon::LogNull log;
    if (!quillon::Gzip::uncompress(in, out, log) || out.length() != Body().size()) {
      state.SkipWithError("Gzip::uncompress failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  ReportSizes(state);
}

// The baselines: one zlib inflate call into a buffer of the known size, allocated per run as
// the decoder's output is. The gzip form also computes the CRC32 that Gzip::uncompress skips;
// the raw form decodes exactly the bytes Gzip::uncompress hands to zlib.
void InflateOnce(benchmark::State& state, int windowBits, const Bytef* in, size_t n) {
  for (auto _ : state) {
    auto* out = static_cast<Bytef*>(std::malloc(Body().size()));
    z_stream zs{};
    inflateInit2(&zs, windowBits);
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = static_cast<uInt>(n);
    zs.next_out = out;
    zs.avail_out = static_cast<uInt>(Body().size());
    int rc = inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    benchmark::DoNotOptimize(out);
    std::free(out);
    if (rc != Z_STREAM_END) {
      state.SkipWithError("inflate failed");
      return;
    }
  }
  ReportSizes(state);
}

void BM_ZlibInflateGzip(benchmark::State& state) {
  const std::string& gz = GzipBody();
  InflateOnce(state, 31, reinterpret_cast<const Bytef*>(gz.data()), gz.size());
}

void BM_ZlibInflateRaw(benchmark::State& state) {
  // zlib writes a plain 10-byte header; the trailer is 8 bytes.
  const std::string& gz = GzipBody();
  InflateOnce(state, -15, reinterpret_cast<const Bytef*>(gz.data()) + 10, gz.size() - 18);
}

BENCHMARK(BM_GzipUncompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateGzip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateRaw)->Unit(benchmark::kMillisecond);

}  // namespace
