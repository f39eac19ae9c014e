// The library's allocation calls: malloc-style, never throwing, a null result meaning out of
// memory. Tests can make allocations fail to exercise the out-of-memory paths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

void* AllocBytes(size_t size);
void* ReallocBytes(void* block, size_t size);
void FreeBytes(void* block);

// Makes every AllocBytes/ReallocBytes call fail while set (tests only).
void SetAllocationFailureForTests(bool fail);

// Adds two 32-bit sizes (and an optional third); false when the sum would pass 32 bits.
bool AddSizes32(uint64_t a, uint64_t b, uint32_t& sum);

}  // namespace quillon
