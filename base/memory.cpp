#include "base/memory.h"

#include <atomic>
#include <cstdlib>

namespace quillon {

namespace {
std::atomic<bool> g_failAllocations{false};
}

void* AllocBytes(size_t size) {
  if (g_failAllocations.load(std::memory_order_relaxed)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* ReallocBytes(void* block, size_t size) {
  if (g_failAllocations.load(std::memory_order_relaxed)) return nullptr;
  return std::realloc(block, size == 0 ? 1 : size);
}

void FreeBytes(void* block) { std::free(block); }

void SetAllocationFailureForTests(bool fail) { g_failAllocations.store(fail); }

bool AddSizes32(uint64_t a, uint64_t b, uint32_t& sum) {
  uint64_t total = a + b;  // both operands are at most 2^33, so this cannot wrap
  if (a > UINT32_MAX || b > UINT32_MAX || total > UINT32_MAX) return false;
  sum = static_cast<uint32_t>(total);
  return true;
}

}  // namespace quillon
