// Growable arrays: of pointers to QuillonObjects, and of 32-bit integers. ExtPtrArray does not
// own its elements except in removeAllAndDelete; OwningPtrArray deletes them with itself.
#pragma once

#include <cstdint>

#include "base/quillon_object.h"

namespace quillon {

class ExtPtrArray {
 public:
  static constexpr int kInitialIncrement = 5;
  static constexpr int kMaxIncrement = 100000;

  ExtPtrArray() = default;
  ExtPtrArray(const ExtPtrArray&) = delete;
  ExtPtrArray& operator=(const ExtPtrArray&) = delete;
  virtual ~ExtPtrArray();

  int count() const { return count_; }
  bool isEmpty() const { return count_ == 0; }
  // False when memory runs out (the array unchanged).
  bool append(QuillonObject* element);
  // Null when out of range (negative indexes included).
  QuillonObject* get(int index) const;
  QuillonObject* last() const;
  // Removes and returns the element (not deleted); later ones shift down.
  QuillonObject* removeAt(int index);
  QuillonObject* pop();
  // Deletes every element through its virtual destructor; count 0.
  void removeAllAndDelete();
  // Count 0, nothing deleted.
  void clear() { count_ = 0; }

  template <class T>
  T* at(int index) const {
    return static_cast<T*>(get(index));
  }

 private:
  QuillonObject** items_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
  int increment_ = kInitialIncrement;
};

// An ExtPtrArray that deletes its elements when it is destroyed.
class OwningPtrArray : public ExtPtrArray {
 public:
  ~OwningPtrArray() override { removeAllAndDelete(); }
};

class ExtIntArray {
 public:
  static constexpr int kInitialIncrement = 5;
  static constexpr int kMaxIncrement = 100000;

  ExtIntArray() = default;
  ExtIntArray(const ExtIntArray&) = delete;
  ExtIntArray& operator=(const ExtIntArray&) = delete;
  ~ExtIntArray();

  int count() const { return count_; }
  bool append(int32_t value);
  // 0 when out of range.
  int32_t get(int index) const;
  bool removeAt(int index);
  void clear() { count_ = 0; }

 private:
  int32_t* items_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
  int increment_ = kInitialIncrement;
};

}  // namespace quillon
