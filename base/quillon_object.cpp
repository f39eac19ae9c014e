#include "base/quillon_object.h"

#include <atomic>

namespace quillon {

namespace {
std::atomic<uint32_t> g_nextSerial{0};
}

QuillonObject::QuillonObject() : serial_(++g_nextSerial) {}

QuillonObject::QuillonObject(const QuillonObject&) : serial_(++g_nextSerial) {}

}  // namespace quillon
