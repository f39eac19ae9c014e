// Charset conversion throughput (MB/s of input) on a 10 MB text: windows-1252 to UTF-8, UTF-8
// to windows-1252 and shift_jis (932) to UTF-8, each beside glibc iconv (CP1252, CP932) on the
// same bytes in the same run; and the memory of the tables once every table code page is used.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>

#include "base/charset/codec_table.h"
#include "base/data_buffer.h"
#include "base/charset/encoding_convert.h"

namespace {

constexpr size_t kTextBytes = 10 * 1024 * 1024;

std::string IconvAll(const char* to, const char* from, const std::string& input) {
  iconv_t cd = iconv_open(to, from);
  std::string out(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char* o = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string Repeat(const std::string& unit, size_t size) {
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text += unit;
  return text;
}

// Mostly ASCII markup and words with accented letters and typographic punctuation.
const std::string& Text1252() {
  static const std::string text = Repeat(
      IconvAll("CP1252", "UTF-8",
               "<p class=\"intro\">Caf\xC3\xA9 cr\xC3\xA8me \xE2\x80\x93 \xE2\x80\x9C"
               "Sm\xC3\xB6rg\xC3\xA5sbord\xE2\x80\x9D co\xC3\xBBte 12\xE2\x82\xAC\xE2\x80\xA6 "
               "na\xC3\xAFve Stra\xC3\x9F"
               "e, \xC5\x92uvre \xE2\x84\xA2 and plain words.</p>\n"),
      kTextBytes);
  return text;
}

const std::string& TextUtf8() {
  static const std::string text = IconvAll("UTF-8", "CP1252", Text1252());
  return text;
}

// Japanese prose with markup, kana (full and half width) and kanji.
const std::string& Text932() {
  static const std::string text = Repeat(
      IconvAll("CP932", "UTF-8",
               "<p>\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x9A\xE3\x83\xBC"
               "\xE3\x82\xB8\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\xE6\x9D\xB1\xE4\xBA\xAC\xE9"
               "\x83\xBD\xE5\x8D\x83\xE4\xBB\xA3\xE7\x94\xB0\xE5\x8C\xBA \xEF\xBD\xB6\xEF\xBE"
               "\x80\xEF\xBD\xB6\xEF\xBE\x85 \xE2\x91\xA0 \xEF\xBD\x9E abc</p>\n"),
      kTextBytes);
  return text;
}

void RunQuillon(benchmark::State& state, int from, int to, const std::string& input) {
  for (auto _ : state) {
    quillon::EncodingConvert converter;
    quillon::DataBuffer out;
    converter.convert(from, to, input.data(), static_cast<uint32_t>(input.size()), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void RunIconv(benchmark::State& state, const char* to, const char* from, const std::string& input) {
  std::string out(input.size() * 3 + 16, '\0');
  for (auto _ : state) {
    iconv_t cd = iconv_open(to, from);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* o = out.data();
    size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Quillon_1252ToUtf8(benchmark::State& s) { RunQuillon(s, 1252, 65001, Text1252()); }
void BM_Iconv_1252ToUtf8(benchmark::State& s) { RunIconv(s, "UTF-8", "CP1252", Text1252()); }
void BM_Quillon_Utf8To1252(benchmark::State& s) { RunQuillon(s, 65001, 1252, TextUtf8()); }
void BM_Iconv_Utf8To1252(benchmark::State& s) { RunIconv(s, "CP1252", "UTF-8", TextUtf8()); }
void BM_Quillon_932ToUtf8(benchmark::State& s) { RunQuillon(s, 932, 65001, Text932()); }
void BM_Iconv_932ToUtf8(benchmark::State& s) { RunIconv(s, "UTF-8", "CP932", Text932()); }

// Builds the tables of every table code page (one short conversion each) and reports the
// memory they hold.
void BM_TableMemoryEveryCodePage(benchmark::State& state) {
  for (auto _ : state) {
    for (size_t i = 0; i < quillon::kCodePageDataCount; ++i) {
      quillon::EncodingConvert converter;
      quillon::DataBuffer out;
      converter.convert(quillon::kCodePageData[i].codePage, 1200, "A", 1, out);
      converter.convert(1200, quillon::kCodePageData[i].codePage, "A\0", 2, out);
    }
  }
  state.counters["tables"] = static_cast<double>(quillon::kCodePageDataCount);
  state.counters["table_bytes"] = static_cast<double>(quillon::CodeTableMemoryBytes());
}

BENCHMARK(BM_Quillon_1252ToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Iconv_1252ToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quillon_Utf8To1252)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Iconv_Utf8To1252)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quillon_932ToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Iconv_932ToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableMemoryEveryCodePage)->Iterations(1);

}  // namespace
