#include "base/data_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memory.h"

namespace quillon {

DataBuffer::DataBuffer() = default;

DataBuffer::DataBuffer(const void* bytes, uint32_t length) { append(bytes, length); }

DataBuffer::DataBuffer(const DataBuffer& other) : QuillonObject(other) { append(other); }

DataBuffer& DataBuffer::operator=(const DataBuffer& other) {
  if (this != &other) {
    clear();
    append(other);
  }
  return *this;
}

DataBuffer::~DataBuffer() {
  checkMarker();
  release();
  // Volatile, so the optimiser keeps this store into an object that is ending its life.
  *static_cast<volatile uint8_t*>(&marker_) = 0;
}

void DataBuffer::MarkerDamaged() {
  std::fputs("DataBuffer: integrity marker damaged (object destroyed or overwritten)\n", stderr);
  std::abort();
}

void DataBuffer::release() {
  if (!borrowed_) FreeBytes(data_);
  data_ = nullptr;
  borrowed_ = false;
  length_ = 0;
  capacity_ = 0;
}

uint32_t DataBuffer::capacity() const {
  checkMarker();
  return capacity_;
}

bool DataBuffer::isBorrowed() const {
  checkMarker();
  return borrowed_;
}

std::string_view DataBuffer::view() const {
  checkMarker();
  return data_ ? std::string_view(reinterpret_cast<const char*>(data_), length_)
               : std::string_view();
}

uint8_t DataBuffer::byteAt(uint32_t index) const {
  checkMarker();
  return index < length_ ? data_[index] : 0;
}

bool DataBuffer::grownCapacity(uint32_t length, uint64_t extra, uint32_t& capacity) {
  // Large appends get exactly what they need; small ones a 20,000-byte step for the next reads.
  uint64_t wanted = uint64_t{length} + (extra >= kGrowthStep ? extra : kGrowthStep);
  if (extra > UINT32_MAX || wanted > UINT32_MAX) return false;
  capacity = static_cast<uint32_t>(wanted);
  return true;
}

bool DataBuffer::growFor(uint64_t extra) {
  if (uint64_t{length_} + extra <= capacity_) return true;
  uint32_t newCapacity = 0;
  if (!grownCapacity(length_, extra, newCapacity)) {
    release();
    return false;
  }
  return reserve(newCapacity);
}

bool DataBuffer::reserve(uint32_t capacity) {
  checkMarker();
  if (capacity <= capacity_ && !borrowed_) return true;
  if (capacity < length_) capacity = length_;
  uint8_t* block;
  if (borrowed_ || !data_) {
    block = static_cast<uint8_t*>(AllocBytes(capacity));
    if (block && length_) std::memcpy(block, data_, length_);
  } else {
    block = static_cast<uint8_t*>(ReallocBytes(data_, capacity));
  }
  if (!block) {
    release();
    return false;
  }
  data_ = block;
  capacity_ = capacity;
  borrowed_ = false;
  return true;
}

bool DataBuffer::append(const void* bytes, uint32_t length) {
  checkMarker();
  if (!bytes || length == 0) return true;
  // The bytes may lie inside this buffer; remember their offset across a reallocation.
  auto* source = static_cast<const uint8_t*>(bytes);
  bool inside = data_ && source >= data_ && source < data_ + capacity_;
  size_t offset = inside ? static_cast<size_t>(source - data_) : 0;
  if (!growFor(length)) return false;
  if (inside) source = data_ + offset;
  std::memmove(data_ + length_, source, length);
  length_ += length;
  return true;
}

bool DataBuffer::append(std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) return false;
  return append(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool DataBuffer::append(const DataBuffer& other) {
  other.checkMarker();
  return append(other.data_, other.length_);
}

bool DataBuffer::appendByte(uint8_t byte) { return append(&byte, 1); }

bool DataBuffer::appendWideText(const char16_t* text) {
  static constexpr char16_t kTerminator = 0;
  if (!text) text = &kTerminator;
  size_t units = 0;
  while (text[units]) ++units;
  uint64_t bytes = (uint64_t{units} + 1) * sizeof(char16_t);
  if (bytes > UINT32_MAX) return false;
  // The text may lie in this buffer's own bytes, which growing would free: copy it first.
  const uint8_t* own = data_;
  if (own != nullptr && reinterpret_cast<const uint8_t*>(text) >= own &&
      reinterpret_cast<const uint8_t*>(text) < own + length_) {
    std::u16string copy(text, units);
    return appendWideText(copy.c_str());
  }
  // Written unit by unit so that the bytes are little-endian whatever the host.
  if (!growFor(bytes)) return false;
  for (size_t i = 0; i <= units; ++i) {
    data_[length_++] = static_cast<uint8_t>(text[i] & 0xFF);
    data_[length_++] = static_cast<uint8_t>(text[i] >> 8);
  }
  return true;
}

void DataBuffer::clear() {
  checkMarker();
  if (borrowed_) {
    release();
    return;
  }
  length_ = 0;
}

bool DataBuffer::setLength(uint32_t length) {
  checkMarker();
  if (length > capacity_) return false;
  length_ = length;
  return true;
}

void DataBuffer::borrow(const void* bytes, uint32_t size) {
  checkMarker();
  release();
  // The buffer never writes to borrowed memory: every write first makes an owned copy.
  data_ = static_cast<uint8_t*>(const_cast<void*>(bytes));
  borrowed_ = data_ != nullptr;
  length_ = capacity_ = data_ ? size : 0;
}

void DataBuffer::takeOwnership(void* block, uint32_t length, uint32_t capacity) {
  checkMarker();
  release();
  data_ = static_cast<uint8_t*>(block);
  capacity_ = block ? capacity : 0;
  length_ = block ? (length <= capacity ? length : capacity) : 0;
}

void* DataBuffer::releaseBlock(uint32_t& length, uint32_t& capacity) {
  checkMarker();
  if (borrowed_ || !data_) return nullptr;
  void* block = data_;
  length = length_;
  capacity = capacity_;
  data_ = nullptr;
  length_ = capacity_ = 0;
  return block;
}

void DataBuffer::moveFrom(DataBuffer& other) {
  checkMarker();
  other.checkMarker();
  if (this == &other) return;
  release();
  data_ = other.data_;
  length_ = other.length_;
  capacity_ = other.capacity_;
  borrowed_ = other.borrowed_;
  other.data_ = nullptr;
  other.length_ = other.capacity_ = 0;
  other.borrowed_ = false;
}

void DataBuffer::swapByteOrder32() {
  checkMarker();
  if (length_ < 4) return;
  if (borrowed_ && !reserve(capacity_)) return;
  for (uint32_t i = 0; i + 4 <= length_; i += 4) {
    std::swap(data_[i], data_[i + 3]);
    std::swap(data_[i + 1], data_[i + 2]);
  }
}

bool DataBuffer::equals(const DataBuffer& other) const { return view() == other.view(); }

}  // namespace quillon
