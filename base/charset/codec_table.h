// The table-driven codecs: the built-in mapping data of the single- and multi-byte code pages,
// the tables built from it on first use (once per process, thread-safe, kept until exit) and
// the decoder and encoder that run on them. Algorithmic code pages are not here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/charset/codec_unicode.h"

namespace quillon {

enum class TableKind : uint8_t { kSingleByte, kMultiByte };

// One code page's mapping data as the generator stores it (base/charset/charset_tables.cpp).
struct CodePageData {
  int codePage;
  TableKind kind;
  bool asciiCompatible;
  // Single-byte: the units of bytes 0x80-0xFF (ASCII-compatible) or 0x00-0xFF; 0 = none.
  const uint16_t* decode;
  // Single-byte: encoder entries that differ from the decoder's inverse, as (unit, byte)
  // pairs; byte 0 means the unit is not encoded.
  const uint16_t* extra;
  uint32_t extraCount;
  // Multi-byte: the zlib-compressed entry list and its unpacked length.
  const uint8_t* packed;
  uint32_t packedLength;
  uint32_t unpackedLength;
};

extern const CodePageData kCodePageData[];
extern const size_t kCodePageDataCount;

struct CodeTable;

// Whether the code page has built-in mapping data.
bool HasCodeTable(int codePage);
// The tables of a code page, built on the first call; null when the code page has no data or
// memory ran out while building (a later call tries again).
const CodeTable* CodeTableFor(int codePage);
// Bytes held by all tables built so far.
size_t CodeTableMemoryBytes();

// Decodes bytes of a table code page into UTF-16 units; false when a byte or sequence had no
// mapping (it is dropped) or the sink failed.
bool DecodeWithTable(const CodeTable& table, const uint8_t* bytes, uint32_t length, UnitSink& sink);

// Encodes UTF-16 units into a table code page, appending to a DataBuffer. Units without a
// mapping are dropped and make result() false. For ISO-8859-6 the Arabic-Indic digits are
// written as ASCII digits.
class TableEncoder : public UnitSink {
 public:
  TableEncoder(const CodeTable& table, int codePage, DataBuffer& out);
  bool put(const char16_t* units, size_t count) override;
  // False when a unit was dropped; outOfMemory() tells a failed write apart.
  bool result() const { return mapped_ && !writer_.failed(); }
  bool outOfMemory() const { return writer_.failed(); }

 private:
  const CodeTable& table_;
  bool arabicDigits_;
  ByteWriter writer_;
  bool mapped_ = true;
};

}  // namespace quillon
