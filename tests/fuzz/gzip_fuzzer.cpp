// Feeds arbitrary bytes to the gzip container reader and the raw inflater, with an output limit
// so that bombs stay small.
#include <cstddef>
#include <cstdint>

#include "base/data_buffer.h"
#include "base/gzip.h"
#include "base/log_base.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  quillon::LogNull log;
  quillon::DataBuffer in(data, static_cast<uint32_t>(size));
  quillon::DataBuffer out;
  quillon::Gzip::uncompress(in, out, 1u << 20, log);
  quillon::DataBuffer raw;
  quillon::InflateRaw(data, static_cast<uint32_t>(size), &raw, 1u << 20, log);
  return 0;
}
