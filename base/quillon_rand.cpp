#include "base/quillon_rand.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/platform.h"

namespace quillon {

namespace {

// SplitMix64's finaliser: a bijection with full avalanche, used to absorb seed material.
uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t RotateLeft(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// xoshiro256** over a state absorbed from the seed bytes.
class Generator {
 public:
  Generator() {
    uint8_t seed[QuillonRand::kSeedBytes];
    fromCrypto_ = CryptoRandomBytes(seed, sizeof seed);
    if (!fromCrypto_) {
      unsigned int state = TickCount();
      for (uint8_t& byte : seed) byte = static_cast<uint8_t>(rand_r(&state) >> 4);
    }
    for (int lane = 0; lane < 4; ++lane) {
      uint64_t h = Mix64(static_cast<uint64_t>(lane));
      for (size_t i = 0; i < sizeof seed; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, seed + i, sizeof seed - i < 8 ? sizeof seed - i : 8);
        h = Mix64(h ^ word);
      }
      s_[lane] = h;
    }
    fixAllZero();
  }

  uint32_t next() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint32_t>(step() >> 32);
  }

  void reseed(uint32_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int lane = 0; lane < 4; ++lane) {
      s_[lane] = Mix64(s_[lane] ^ Mix64((static_cast<uint64_t>(lane) << 32) | seed));
    }
    fixAllZero();
  }

  bool fromCrypto() const { return fromCrypto_; }

 private:
  uint64_t step() {
    uint64_t result = RotateLeft(s_[1] * 5, 7) * 9;
    uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = RotateLeft(s_[3], 45);
    return result;
  }

  // The all-zero state is the one fixed point of xoshiro.
  void fixAllZero() {
    if ((s_[0] | s_[1] | s_[2] | s_[3]) == 0) s_[0] = 1;
  }

  std::mutex mutex_;
  uint64_t s_[4] = {};
  bool fromCrypto_ = false;
};

Generator& Instance() {
  static Generator generator;  // thread-safe one-time initialisation
  return generator;
}

}  // namespace

uint32_t QuillonRand::next() { return Instance().next(); }

uint32_t QuillonRand::uniform(uint32_t bound) {
  if (bound == 0) return 0;
  // Reject the low values that would make some results more likely than others.
  uint32_t threshold = (0u - bound) % bound;
  for (;;) {
    uint32_t r = next();
    if (r >= threshold) return r % bound;
  }
}

void QuillonRand::reseed(uint32_t seed) { Instance().reseed(seed); }

void QuillonRand::reseedWithTickCount() { reseed(TickCount()); }

bool QuillonRand::seededFromCryptoSource() { return Instance().fromCrypto(); }

}  // namespace quillon
