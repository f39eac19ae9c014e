#include "base/md4.h"

#include <cstring>

namespace quillon {
namespace {

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); }
uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

uint32_t LoadLittleEndian(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreLittleEndian(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

Md4::Md4() { reset(); }

void Md4::reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  totalBytes_ = 0;
}

// RFC 1320 section 3.4: three rounds of sixteen operations over one 64-byte block.
void Md4::transform(const uint8_t block[kBlockLength]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

  static constexpr int kShift1[4] = {3, 7, 11, 19};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = RotateLeft(a + F(b, c, d) + x[i], kShift1[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int kShift2[4] = {3, 5, 9, 13};
  for (int i = 0; i < 16; ++i) {
    const int k = (i % 4) * 4 + i / 4;  // 0, 4, 8, 12, 1, 5, ...
    const uint32_t t = RotateLeft(a + G(b, c, d) + x[k] + 0x5a827999, kShift2[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int kShift3[4] = {3, 9, 11, 15};
  static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = RotateLeft(a + H(b, c, d) + x[kOrder3[i]] + 0x6ed9eba1, kShift3[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md4::update(const void* bytes, size_t length) {
  const auto* in = static_cast<const uint8_t*>(bytes);
  size_t used = totalBytes_ % kBlockLength;
  totalBytes_ += length;
  if (used != 0) {
    const size_t take = length < kBlockLength - used ? length : kBlockLength - used;
    std::memcpy(pending_ + used, in, take);
    in += take;
    length -= take;
    used += take;
    if (used < kBlockLength) return;
    transform(pending_);
  }
  for (; length >= kBlockLength; in += kBlockLength, length -= kBlockLength) transform(in);
  if (length != 0) std::memcpy(pending_, in, length);
}

void Md4::finish(uint8_t digest[kDigestLength]) {
  const uint64_t bitLength = totalBytes_ * 8;
  // Padding: 0x80, zeros up to 56 mod 64, then the message length in bits, little-endian.
  uint8_t padding[kBlockLength + 8] = {0x80};
  const size_t used = totalBytes_ % kBlockLength;
  const size_t padLength = (used < 56 ? 56 : 120) - used;
  update(padding, padLength);
  uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bitLength >> (8 * i));
  update(lengthBytes, sizeof lengthBytes);
  for (int i = 0; i < 4; ++i) StoreLittleEndian(state_[i], digest + 4 * i);
  reset();
}

void Md4::digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]) {
  Md4 md4;
  md4.update(bytes, length);
  md4.finish(digest);
}

}  // namespace quillon
