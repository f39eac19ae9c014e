#include "base/md_block_hash.h"

#include <cstring>

namespace quillon {

void MdBlockHash::reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  totalBytes_ = 0;
}

void MdBlockHash::mix(const uint8_t block[kBlockLength]) {
  uint32_t words[4] = {state_[0], state_[1], state_[2], state_[3]};
  transform_(words, block);
  for (int i = 0; i < 4; ++i) state_[i] += words[i];
}

void MdBlockHash::update(const void* bytes, size_t length) {
  if (length == 0) return;
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
    mix(pending_);
  }
  for (; length >= kBlockLength; in += kBlockLength, length -= kBlockLength) mix(in);
  if (length != 0) std::memcpy(pending_, in, length);
}

void MdBlockHash::finish(uint8_t digest[kDigestLength]) {
  const uint64_t bitLength = totalBytes_ * 8;
  // Padding: 0x80, zeros up to 56 mod 64, then the message length in bits, little-endian.
  uint8_t padding[kBlockLength + 8] = {0x80};
  const size_t used = totalBytes_ % kBlockLength;
  const size_t padLength = (used < 56 ? 56 : 120) - used;
  update(padding, padLength);
  uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bitLength >> (8 * i));
  update(lengthBytes, sizeof lengthBytes);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  reset();
}

}  // namespace quillon
