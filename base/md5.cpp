#include "base/md5.h"

#include <cstring>

namespace quillon {
namespace {

// RFC 1321 section 3.4: the table T[i] = floor(2^32 * abs(sin(i + 1))) and the shifts.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// RFC 1321 section 3.4: four rounds of sixteen operations over one 64-byte block; round r
// takes the words in the order (start + step * i) mod 16.
void Md5Transform(uint32_t words[4], const uint8_t block[MdBlockHash::kBlockLength]) {
  uint32_t x[16];
  LoadBlockWords(block, x);
  uint32_t &a = words[0], &b = words[1], &c = words[2], &d = words[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int word;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        word = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        word = (1 + 5 * i) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        word = (5 + 3 * i) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        word = (7 * i) % 16;
        break;
    }
    const uint32_t t = b + RotateLeft32(a + f + x[word] + kSine[i], kShift[round][i % 4]);
    a = d, d = c, c = b, b = t;
  }
}

}  // namespace

Md5::Md5() : MdBlockHash(&Md5Transform) {}

void Md5::digest(const void* bytes, size_t length, uint8_t digest[kDigestLength]) {
  Md5().finishWith(bytes, length, digest);
}

void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[Md5::kDigestLength]) {
  uint8_t block[Md5::kBlockLength] = {};
  if (keyLength > Md5::kBlockLength) {
    Md5::digest(key, keyLength, block);
  } else if (keyLength != 0) {
    std::memcpy(block, key, keyLength);
  }
  uint8_t pad[Md5::kBlockLength];
  Md5 md5;
  for (size_t i = 0; i < sizeof pad; ++i) pad[i] = block[i] ^ 0x36;
  md5.update(pad, sizeof pad);
  md5.update(message, messageLength);
  uint8_t inner[Md5::kDigestLength];
  md5.finish(inner);
  for (size_t i = 0; i < sizeof pad; ++i) pad[i] = block[i] ^ 0x5c;
  md5.update(pad, sizeof pad);
  md5.update(inner, sizeof inner);
  md5.finish(digest);
}

}  // namespace quillon
