#include "base/charset/codec_table.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "base/memory.h"

namespace quillon {

// Decoding: single bytes and two-byte sequences through arrays indexed by byte (a block of 256
// units per lead byte that has any), three-byte sequences through a sorted list. Encoding:
// a block of 256 entries per high byte of the unit. Every array comes from AllocBytes and
// lives until the process ends.
struct CodeTable {
  bool asciiCompatible = false;
  bool multiByte = false;
  char16_t single[256] = {};    // 0 = no one-byte mapping (byte 0 is handled apart)
  char16_t* lead[256] = {};     // multi-byte: units of the two-byte sequences lead+trail
  uint32_t* triples = nullptr;  // multi-byte: sorted three-byte sequences, then their units
  uint32_t tripleCount = 0;
  bool tripleLead[256] = {};
  uint8_t* singleEncode[256] = {};  // single-byte encoder blocks, byte 0 = none
  uint32_t* multiEncode[256] = {};  // multi-byte encoder blocks, the sequence, 0 = none
};

namespace {

constexpr int kCodePageIso88596 = 28596;

std::atomic<size_t> g_tableBytes{0};
std::mutex g_buildMutex;
// One slot per row of kCodePageData, filled on first use.
std::atomic<CodeTable*> g_tables[256];

void* TableAlloc(size_t size) {
  void* block = AllocBytes(size);
  if (block != nullptr) {
    std::memset(block, 0, size);
    g_tableBytes.fetch_add(size, std::memory_order_relaxed);
  }
  return block;
}

int RowFor(int codePage) {
  size_t low = 0;
  size_t high = kCodePageDataCount;
  while (low < high) {
    size_t mid = (low + high) / 2;
    if (kCodePageData[mid].codePage < codePage) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (low < kCodePageDataCount && kCodePageData[low].codePage == codePage) {
    return static_cast<int>(low);
  }
  return -1;
}

// A half-built table's arrays stay allocated when memory runs out midway; they are few and
// the process keeps its tables anyway.
bool SetSingleEncode(CodeTable& table, uint32_t unit, uint8_t byte, bool overwrite) {
  uint8_t*& block = table.singleEncode[unit >> 8];
  if (block == nullptr) {
    if (byte == 0) return true;
    block = static_cast<uint8_t*>(TableAlloc(256));
    if (block == nullptr) return false;
  }
  if (overwrite || block[unit & 0xFF] == 0) block[unit & 0xFF] = byte;
  return true;
}

bool SetMultiEncode(CodeTable& table, uint32_t unit, uint32_t code, bool overwrite) {
  uint32_t*& block = table.multiEncode[unit >> 8];
  if (block == nullptr) {
    if (code == 0) return true;
    block = static_cast<uint32_t*>(TableAlloc(256 * sizeof(uint32_t)));
    if (block == nullptr) return false;
  }
  if (overwrite || block[unit & 0xFF] == 0) block[unit & 0xFF] = code;
  return true;
}

bool BuildSingleByte(const CodePageData& data, CodeTable& table) {
  uint32_t first = data.asciiCompatible ? 0x80 : 0;
  for (uint32_t b = 0; b < first; ++b) table.single[b] = static_cast<char16_t>(b);
  for (uint32_t b = first; b < 256; ++b) table.single[b] = data.decode[b - first];
  for (uint32_t b = 1; b < 256; ++b) {
    uint32_t unit = table.single[b];
    if (unit == 0 || (data.asciiCompatible && unit < 0x80)) continue;
    if (!SetSingleEncode(table, unit, static_cast<uint8_t>(b), false)) return false;
  }
  for (uint32_t k = 0; k < data.extraCount; ++k) {
    uint32_t unit = data.extra[2 * k];
    if (!SetSingleEncode(table, unit, static_cast<uint8_t>(data.extra[2 * k + 1]), true)) {
      return false;
    }
  }
  return true;
}

// Reads one varint of the packed entry list; false past the end.
bool ReadVarint(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
  value = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (p == end) return false;
    uint8_t byte = *p++;
    value |= uint32_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

// The packed form: entry count, per entry the code delta and the zigzag unit delta, then the
// encoder override count and per override the unit delta and the code (0 = not encoded).
bool BuildMultiByte(const CodePageData& data, CodeTable& table) {
  uint8_t* unpacked = static_cast<uint8_t*>(AllocBytes(data.unpackedLength));
  if (unpacked == nullptr) return false;
  struct Freer {
    uint8_t* block;
    ~Freer() { FreeBytes(block); }
  } freer{unpacked};
  uLongf unpackedLength = data.unpackedLength;
  if (uncompress(unpacked, &unpackedLength, data.packed, data.packedLength) != Z_OK ||
      unpackedLength != data.unpackedLength) {
    return false;
  }
  const uint8_t* end = unpacked + unpackedLength;

  // Two passes over the entries: count the three-byte ones, then fill.
  for (int pass = 0; pass < 2; ++pass) {
    const uint8_t* p = unpacked;
    uint32_t count = 0;
    if (!ReadVarint(p, end, count)) return false;
    uint32_t code = 0;
    uint32_t unit = 0;
    uint32_t triples = 0;
    for (uint32_t k = 0; k < count; ++k) {
      uint32_t codeDelta;
      uint32_t zig;
      if (!ReadVarint(p, end, codeDelta) || !ReadVarint(p, end, zig)) return false;
      code += codeDelta;
      unit += (zig & 1) ? ~(zig >> 1) : (zig >> 1);
      unit &= 0xFFFF;
      if (code >= 0x10000) {
        if (pass == 1) {
          table.triples[triples] = code;
          table.triples[table.tripleCount + triples] = unit;
          table.tripleLead[code >> 16] = true;
        }
        ++triples;
      } else if (pass == 1) {
        if (code < 0x100) {
          table.single[code] = static_cast<char16_t>(unit);
        } else {
          char16_t*& block = table.lead[code >> 8];
          if (block == nullptr) {
            block = static_cast<char16_t*>(TableAlloc(256 * sizeof(char16_t)));
            if (block == nullptr) return false;
          }
          block[code & 0xFF] = static_cast<char16_t>(unit);
        }
      }
      if (pass == 1 && !SetMultiEncode(table, unit, code, false)) return false;
    }
    if (pass == 0) {
      table.tripleCount = triples;
      if (triples != 0) {
        // Keys first, then their units, in one block.
        table.triples = static_cast<uint32_t*>(TableAlloc(size_t{triples} * 2 * sizeof(uint32_t)));
        if (table.triples == nullptr) return false;
      }
      continue;
    }
    uint32_t overrides = 0;
    if (!ReadVarint(p, end, overrides)) return false;
    unit = 0;
    for (uint32_t k = 0; k < overrides; ++k) {
      uint32_t unitDelta;
      uint32_t value;
      if (!ReadVarint(p, end, unitDelta) || !ReadVarint(p, end, value)) return false;
      unit += unitDelta;
      if (unit > 0xFFFF || !SetMultiEncode(table, unit, value, true)) return false;
    }
  }
  if (data.asciiCompatible) {
    for (uint32_t b = 0; b < 0x80; ++b) table.single[b] = static_cast<char16_t>(b);
  }
  return true;
}

CodeTable* Build(const CodePageData& data) {
  void* block = TableAlloc(sizeof(CodeTable));
  if (block == nullptr) return nullptr;
  CodeTable* table = new (block) CodeTable();
  table->asciiCompatible = data.asciiCompatible;
  table->multiByte = data.kind == TableKind::kMultiByte;
  bool built = table->multiByte ? BuildMultiByte(data, *table) : BuildSingleByte(data, *table);
  return built ? table : nullptr;
}

char16_t LookupTriple(const CodeTable& table, uint32_t code) {
  const uint32_t* keys = table.triples;
  const uint32_t* found = std::lower_bound(keys, keys + table.tripleCount, code);
  if (found == keys + table.tripleCount || *found != code) return 0;
  return static_cast<char16_t>(table.triples[table.tripleCount + (found - keys)]);
}

constexpr size_t kBlockUnits = 4096;

bool DecodeSingle(const CodeTable& table, const uint8_t* bytes, uint32_t length, UnitSink& sink) {
  char16_t units[kBlockUnits];
  bool mapped = true;
  for (uint32_t done = 0; done < length;) {
    uint32_t take = std::min<uint32_t>(length - done, kBlockUnits);
    size_t count = 0;
    for (uint32_t i = 0; i < take; ++i) {
      uint8_t b = bytes[done + i];
      char16_t unit = table.single[b];
      if (unit != 0 || b == 0) {
        units[count++] = unit;
      } else {
        mapped = false;
      }
    }
    if (count != 0 && !sink.put(units, count)) return false;
    done += take;
  }
  return mapped;
}

bool DecodeMulti(const CodeTable& table, const uint8_t* bytes, uint32_t length, UnitSink& sink) {
  char16_t units[kBlockUnits];
  size_t count = 0;
  bool mapped = true;
  uint32_t i = 0;
  while (i < length) {
    if (count == kBlockUnits) {
      if (!sink.put(units, count)) return false;
      count = 0;
    }
    uint8_t b = bytes[i];
    if (b < 0x80 && table.asciiCompatible) {
      units[count++] = b;
      ++i;
      continue;
    }
    if (i + 1 < length && table.lead[b] != nullptr) {
      char16_t unit = table.lead[b][bytes[i + 1]];
      if (unit != 0) {
        units[count++] = unit;
        i += 2;
        continue;
      }
    }
    if (i + 2 < length && table.tripleLead[b]) {
      char16_t unit = LookupTriple(table, (uint32_t{b} << 16) | (bytes[i + 1] << 8) | bytes[i + 2]);
      if (unit != 0) {
        units[count++] = unit;
        i += 3;
        continue;
      }
    }
    ++i;
    if (b == 0 || table.single[b] != 0) {
      units[count++] = table.single[b];
    } else {
      mapped = false;
    }
  }
  if (count != 0 && !sink.put(units, count)) return false;
  return mapped;
}

}  // namespace

bool HasCodeTable(int codePage) { return RowFor(codePage) >= 0; }

const CodeTable* CodeTableFor(int codePage) {
  int row = RowFor(codePage);
  if (row < 0 || row >= 256) return nullptr;
  CodeTable* table = g_tables[row].load(std::memory_order_acquire);
  if (table != nullptr) return table;
  std::lock_guard<std::mutex> lock(g_buildMutex);
  table = g_tables[row].load(std::memory_order_relaxed);
  if (table == nullptr) {
    table = Build(kCodePageData[row]);
    g_tables[row].store(table, std::memory_order_release);
  }
  return table;
}

size_t CodeTableMemoryBytes() { return g_tableBytes.load(std::memory_order_relaxed); }

bool DecodeWithTable(const CodeTable& table, const uint8_t* bytes, uint32_t length,
                     UnitSink& sink) {
  return table.multiByte ? DecodeMulti(table, bytes, length, sink)
                         : DecodeSingle(table, bytes, length, sink);
}

TableEncoder::TableEncoder(const CodeTable& table, int codePage, DataBuffer& out)
    : table_(table), arabicDigits_(codePage == kCodePageIso88596), writer_(out) {}

bool TableEncoder::put(const char16_t* units, size_t count) {
  uint8_t* p = writer_.room(count * (table_.multiByte ? 3 : 1));
  if (p == nullptr) return false;
  const bool ascii = table_.asciiCompatible;
  for (size_t i = 0; i < count; ++i) {
    uint32_t unit = units[i];
    if (arabicDigits_) {
      if (unit >= 0x0660 && unit <= 0x0669) unit = '0' + (unit - 0x0660);
      if (unit >= 0x06F0 && unit <= 0x06F9) unit = '0' + (unit - 0x06F0);
    }
    if ((unit < 0x80 && ascii) || unit == 0) {
      *p++ = static_cast<uint8_t>(unit);
      continue;
    }
    if (!table_.multiByte) {
      const uint8_t* block = table_.singleEncode[unit >> 8];
      uint8_t byte = block != nullptr ? block[unit & 0xFF] : 0;
      if (byte != 0) {
        *p++ = byte;
      } else {
        mapped_ = false;
      }
      continue;
    }
    const uint32_t* block = table_.multiEncode[unit >> 8];
    uint32_t code = block != nullptr ? block[unit & 0xFF] : 0;
    if (code == 0) {
      mapped_ = false;
    } else if (code < 0x100) {
      *p++ = static_cast<uint8_t>(code);
    } else if (code < 0x10000) {
      *p++ = static_cast<uint8_t>(code >> 8);
      *p++ = static_cast<uint8_t>(code);
    } else {
      *p++ = static_cast<uint8_t>(code >> 16);
      *p++ = static_cast<uint8_t>(code >> 8);
      *p++ = static_cast<uint8_t>(code);
    }
  }
  writer_.commit(p);
  return true;
}

}  // namespace quillon
