// The framing MD4 and MD5 share (RFC 1320 and RFC 1321, sections 3.1 to 3.5): 64-byte blocks,
// the same initial state, padding with 0x80 and zeros, the message length in bits and the
// digest, both little-endian. Each hash supplies the transform of one block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

class MdBlockHash {
 public:
  static constexpr size_t kDigestLength = 16;
  static constexpr size_t kBlockLength = 64;
  // Mixes one block into a copy of the four state words, which is then added to the state.
  using Transform = void (*)(uint32_t state[4], const uint8_t block[kBlockLength]);

  void update(const void* bytes, size_t length);
  // Writes the 16-byte digest and starts over.
  void finish(uint8_t digest[kDigestLength]);
  // Adds the bytes and finishes.
  void finishWith(const void* bytes, size_t length, uint8_t digest[kDigestLength]) {
    update(bytes, length);
    finish(digest);
  }

 protected:
  explicit MdBlockHash(Transform transform) : transform_(transform) { reset(); }

 private:
  void reset();
  void mix(const uint8_t block[kBlockLength]);

  Transform transform_;
  uint32_t state_[4];
  uint64_t totalBytes_;
  uint8_t pending_[kBlockLength];
};

inline uint32_t RotateLeft32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The sixteen little-endian words of a block.
inline void LoadBlockWords(const uint8_t block[MdBlockHash::kBlockLength], uint32_t words[16]) {
  for (int i = 0; i < 16; ++i) {
    const uint8_t* p = block + 4 * i;
    words[i] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
}

}  // namespace quillon
