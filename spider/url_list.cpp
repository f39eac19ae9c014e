#include "spider/url_list.h"

#include <cstring>

#include "base/memory.h"

namespace quillon {

namespace {
// The array grows by half its size (at least this many slots) so appends stay amortised O(1).
constexpr uint32_t kMinGrowth = 16;
}  // namespace

UrlList::~UrlList() { FreeBytes(items_); }

bool UrlList::append(const char* storedUrl) {
  if (storedUrl == nullptr) return false;
  if (end_ == capacity_) {
    // The slots freed at the front are reused once they are at least as many as the URLs that
    // move down: each URL moved is paid for by a slot freed, so appends stay amortised O(1).
    if (head_ > 0 && head_ >= end_ - head_) {
      std::memmove(items_, items_ + head_, (end_ - head_) * sizeof(const char*));
      end_ -= head_;
      head_ = 0;
    }
    if (end_ == capacity_) {
      uint64_t grown = static_cast<uint64_t>(capacity_) + capacity_ / 2 + kMinGrowth;
      if (grown > UINT32_MAX / sizeof(const char*)) return false;
      void* block = ReallocBytes(items_, static_cast<size_t>(grown) * sizeof(const char*));
      if (block == nullptr) return false;
      items_ = static_cast<const char**>(block);
      capacity_ = static_cast<uint32_t>(grown);
    }
  }
  items_[end_++] = storedUrl;
  return true;
}

bool UrlList::appendCopy(std::string_view text) {
  bool added = false;
  return append(store_.storeKey(text, added));
}

const char* UrlList::takeFront() {
  if (head_ == end_) return nullptr;
  const char* front = items_[head_++];
  if (head_ == end_) head_ = end_ = 0;
  return front;
}

const char* UrlList::at(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= end_ - head_) return nullptr;
  return items_[head_ + static_cast<uint32_t>(index)];
}

void UrlList::clear() {
  FreeBytes(items_);
  items_ = nullptr;
  head_ = end_ = capacity_ = 0;
}

}  // namespace quillon
