#include "base/md4.h"

#include <cstring>

namespace quillon {
namespace {

uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); }
uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

// RFC 1320 section 3.4: three rounds of sixteen operations over one 64-byte block.
void Md4Transform(uint32_t words[4], const uint8_t block[MdBlockHash::kBlockLength]) {
  uint32_t x[16];
  LoadBlockWords(block, x);
  uint32_t &a = words[0], &b = words[1], &c = words[2], &d = words[3];

  static constexpr int kShift1[4] = {3, 7, 11, 19};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = RotateLeft32(a + F(b, c, d) + x[i], kShift1[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int kShift2[4] = {3, 5, 9, 13};
  for (int i = 0; i < 16; ++i) {
    const int k = (i % 4) * 4 + i / 4;  // 0, 4, 8, 12, 1, 5, ...
    const uint32_t t = RotateLeft32(a + G(b, c, d) + x[k] + 0x5a827999, kShift2[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int kShift3[4] = {3, 9, 11, 15};
  static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = RotateLeft32(a + H(b, c, d) + x[kOrder3[i]] + 0x6ed9eba1, kShift3[i % 4]);
    a = d, d = c, c = b, b = t;
  }
}

}  // namespace

Md4::Md4() : MdBlockHash(&Md4Transform) {}

void Md4::digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]) {
  Md4().finishWith(bytes, length, digest);
}

}  // namespace quillon
