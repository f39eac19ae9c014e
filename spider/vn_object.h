// Base of the facade classes the application holds (VnSpider, VnString): a QuillonObject that
// marks the boundary where the application's ANSI text meets the library's internal text.
// It carries no state of its own.
#pragma once

#include "base/quillon_object.h"

namespace quillon {

class VnObject : public QuillonObject {
 public:
  VnObject() = default;
  VnObject(const VnObject&) = delete;
  VnObject& operator=(const VnObject&) = delete;
  ~VnObject() override = default;
};

}  // namespace quillon
