// Base class of nearly every library object: a virtual destructor and a serial number taken
// from a process-wide counter, so objects can be told apart in logs and debugging.
#pragma once

#include <cstdint>

namespace quillon {

class QuillonObject {
 public:
  QuillonObject();
  QuillonObject(const QuillonObject& other);
  QuillonObject& operator=(const QuillonObject&) { return *this; }  // serial stays the object's own
  virtual ~QuillonObject() = default;

  uint32_t serial() const { return serial_; }

 private:
  uint32_t serial_;
};

}  // namespace quillon
