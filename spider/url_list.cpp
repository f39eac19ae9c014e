#include "spider/url_list.h"

#include <cstring>
#include <new>

#include "base/memory.h"

namespace quillon {

namespace {
// The array grows by half its size (at least this many slots) so appends stay amortised O(1).
constexpr uint32_t kMinGrowth = 16;
}  // namespace

UrlList::~UrlList() {
  clear();
  FreeBytes(items_);
}

bool UrlList::append(std::unique_ptr<StringBuffer> url) {
  if (!url) return false;
  if (end_ == capacity_) {
    // The slots freed at the front are reused once they are at least as many as the URLs that
    // move down: each URL moved is paid for by a slot freed, so appends stay amortised O(1).
    if (head_ > 0 && head_ >= end_ - head_) {
      std::memmove(items_, items_ + head_, (end_ - head_) * sizeof(StringBuffer*));
      end_ -= head_;
      head_ = 0;
    }
    if (end_ == capacity_) {
      uint64_t grown = static_cast<uint64_t>(capacity_) + capacity_ / 2 + kMinGrowth;
      if (grown > UINT32_MAX / sizeof(StringBuffer*)) return false;
      void* block = ReallocBytes(items_, static_cast<size_t>(grown) * sizeof(StringBuffer*));
      if (block == nullptr) return false;
      items_ = static_cast<StringBuffer**>(block);
      capacity_ = static_cast<uint32_t>(grown);
    }
  }
  items_[end_++] = url.release();
  return true;
}

bool UrlList::appendCopy(std::string_view text) {
  std::unique_ptr<StringBuffer> copy(new (std::nothrow) StringBuffer());
  if (!copy) return false;
  if (!copy->assign(text)) return false;
  // Queues can hold a million URLs: keep each string at its own size.
  copy->shrink();
  return append(std::move(copy));
}

std::unique_ptr<StringBuffer> UrlList::takeFront() {
  if (head_ == end_) return nullptr;
  std::unique_ptr<StringBuffer> front(items_[head_]);
  items_[head_++] = nullptr;
  if (head_ == end_) head_ = end_ = 0;
  return front;
}

const StringBuffer* UrlList::at(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= end_ - head_) return nullptr;
  return items_[head_ + static_cast<uint32_t>(index)];
}

void UrlList::clear() {
  for (uint32_t i = head_; i < end_; ++i) delete items_[i];
  head_ = end_ = 0;
}

}  // namespace quillon
