// Appending single bytes: the growth step that doubles up to 500,000 bytes keeps this amortised.
#include <benchmark/benchmark.h>

#include <string>

#include "base/string_buffer.h"

namespace {

void BM_StringBufferAppendMillionBytes(benchmark::State& state) {
  for (auto _ : state) {
    quillon::StringBuffer text;
    for (int i = 0; i < 1000000; ++i) text.appendChar(static_cast<char>('a' + (i & 15)));
    benchmark::DoNotOptimize(text.getString());
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_StringBufferAppendMillionBytes)->Unit(benchmark::kMillisecond);

// The same with std::string, for scale.
void BM_StdStringAppendMillionBytes(benchmark::State& state) {
  for (auto _ : state) {
    std::string text;
    for (int i = 0; i < 1000000; ++i) text.push_back(static_cast<char>('a' + (i & 15)));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_StdStringAppendMillionBytes)->Unit(benchmark::kMillisecond);

}  // namespace
