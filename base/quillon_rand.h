// The process-wide random generator behind unique file names. Seeded once, on first use, from
// 1000 bytes of the kernel's random source (from the C library generator seeded with the tick
// count when that source fails). Re-seeding mixes a value into the state instead of replacing
// it, so a re-seed with the tick count never makes the output guessable. Not for keys or secrets.
#pragma once

#include <cstdint>

namespace quillon {

class QuillonRand {
 public:
  static constexpr uint32_t kSeedBytes = 1000;

  QuillonRand() = delete;

  // The next 32 random bits. Thread-safe, like every member.
  static uint32_t next();
  // A number in [0, bound), every value equally likely; 0 when bound is 0.
  static uint32_t uniform(uint32_t bound);
  // Mixes seed into the state; what the state held before is kept.
  static void reseed(uint32_t seed);
  // reseed(TickCount()), as makeUniqueFileName does before it draws a name.
  static void reseedWithTickCount();
  // Whether the first seed came from the kernel's random source (false: the fallback).
  static bool seededFromCryptoSource();
};

}  // namespace quillon
