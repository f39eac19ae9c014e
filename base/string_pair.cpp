#include "base/string_pair.h"

#include <new>

namespace quillon {

namespace {

std::string_view TextView(const char* text) {
  return text == nullptr ? std::string_view() : std::string_view(text);
}

}  // namespace

StringPair::~StringPair() = default;

StringPair* StringPair::Create(const char* first, const char* second) {
  std::unique_ptr<StringPair> pair(new (std::nothrow) StringPair());
  if (pair == nullptr || !pair->setFirst(first) || !pair->setSecond(second)) return nullptr;
  return pair.release();
}

bool StringPair::Set(std::unique_ptr<StringBuffer>& side, std::string_view text) {
  // The new text is copied before the old one goes: it may be the old one (or a piece of it).
  std::unique_ptr<StringBuffer> buffer;
  if (!text.empty()) {
    buffer.reset(new (std::nothrow) StringBuffer());
    // A buffer whose own allocation failed holds the shared empty text: the append says so.
    if (buffer == nullptr || !buffer->append(text)) {
      side.reset();
      return false;
    }
  }
  side = std::move(buffer);
  return true;
}

bool StringPair::setFirst(const char* text) { return Set(first_, TextView(text)); }
bool StringPair::setFirst(std::string_view text) { return Set(first_, text); }
bool StringPair::setSecond(const char* text) { return Set(second_, TextView(text)); }
bool StringPair::setSecond(std::string_view text) { return Set(second_, text); }

const char* StringPair::firstText() const { return first_ ? first_->getString() : ""; }
const char* StringPair::secondText() const { return second_ ? second_->getString() : ""; }

}  // namespace quillon
