// Feeds arbitrary text to every decoder of the content codings and round-trips the encoders.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/content_coding.h"
#include "base/data_buffer.h"
#include "base/string_buffer.h"

using quillon::ContentCoding;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  auto length = static_cast<uint32_t>(size);
  const char* text = reinterpret_cast<const char*>(data);

  quillon::DataBuffer decoded;
  ContentCoding::decodeBase64(text, length, decoded);
  ContentCoding::decodeQuotedPrintable(text, length, decoded);
  ContentCoding::decodeQ(text, length, decoded);
  quillon::StringBuffer words(text, length);
  ContentCoding::decodeWords(words);

  // Base64 must give back exactly what it was given.
  quillon::StringBuffer encoded;
  ContentCoding::encodeBase64(data, length, encoded);
  quillon::DataBuffer back;
  ContentCoding::decodeBase64(encoded.getString(), encoded.length(), back);
  if (back.length() != length || (length && back.view() != std::string_view(text, length))) {
    std::abort();
  }
  quillon::StringBuffer qp;
  ContentCoding::encodeQuotedPrintable(data, length, qp);
  return 0;
}
