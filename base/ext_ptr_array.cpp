#include "base/ext_ptr_array.h"

#include <cstring>

#include "base/memory.h"

namespace quillon {

namespace {

// Grows a block of `Element`s to hold one more; the shared growth rule of both arrays: the
// capacity grows by the increment (at least to count + 2), the new block is zero-filled, and the
// increment then follows the capacity up to its cap.
template <class Element>
bool GrowForOne(Element*& items, int count, int& capacity, int& increment, int maxIncrement) {
  if (count < capacity) return true;
  int newCount = count + 1;
  int64_t newCapacity = int64_t{capacity} + increment;
  if (newCapacity <= newCount) newCapacity = newCount + 1;
  if (newCapacity > INT32_MAX / static_cast<int64_t>(sizeof(Element))) return false;
  auto* block =
      static_cast<Element*>(AllocBytes(static_cast<size_t>(newCapacity) * sizeof(Element)));
  if (!block) return false;
  std::memset(block, 0, static_cast<size_t>(newCapacity) * sizeof(Element));
  if (count) std::memcpy(block, items, static_cast<size_t>(count) * sizeof(Element));
  FreeBytes(items);
  items = block;
  capacity = static_cast<int>(newCapacity);
  if (increment < maxIncrement) increment = capacity < maxIncrement ? capacity : maxIncrement;
  return true;
}

}  // namespace

ExtPtrArray::~ExtPtrArray() { FreeBytes(items_); }

bool ExtPtrArray::append(QuillonObject* element) {
  if (!GrowForOne(items_, count_, capacity_, increment_, kMaxIncrement)) return false;
  items_[count_++] = element;
  return true;
}

QuillonObject* ExtPtrArray::get(int index) const {
  return (index >= 0 && index < count_) ? items_[index] : nullptr;
}

QuillonObject* ExtPtrArray::last() const { return get(count_ - 1); }

QuillonObject* ExtPtrArray::removeAt(int index) {
  if (index < 0 || index >= count_) return nullptr;
  QuillonObject* element = items_[index];
  std::memmove(items_ + index, items_ + index + 1,
               static_cast<size_t>(count_ - index - 1) * sizeof(QuillonObject*));
  --count_;
  return element;
}

QuillonObject* ExtPtrArray::pop() { return removeAt(count_ - 1); }

void ExtPtrArray::removeAllAndDelete() {
  for (int i = 0; i < count_; ++i) delete items_[i];
  count_ = 0;
}

ExtIntArray::~ExtIntArray() { FreeBytes(items_); }

bool ExtIntArray::append(int32_t value) {
  if (!GrowForOne(items_, count_, capacity_, increment_, kMaxIncrement)) return false;
  items_[count_++] = value;
  return true;
}

int32_t ExtIntArray::get(int index) const {
  return (index >= 0 && index < count_) ? items_[index] : 0;
}

bool ExtIntArray::removeAt(int index) {
  if (index < 0 || index >= count_) return false;
  std::memmove(items_ + index, items_ + index + 1,
               static_cast<size_t>(count_ - index - 1) * sizeof(int32_t));
  --count_;
  return true;
}

}  // namespace quillon
