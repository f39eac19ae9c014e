// Two texts held together (a name and a value, say), each an owned StringBuffer that may be
// absent: an empty or null text creates none. Encoding is the owner's business.
#pragma once

#include <memory>
#include <string_view>

#include "base/quillon_object.h"
#include "base/string_buffer.h"

namespace quillon {

class StringPair : public QuillonObject {
 public:
  StringPair() = default;
  StringPair(const StringPair&) = delete;
  StringPair& operator=(const StringPair&) = delete;
  ~StringPair() override;

  // A new pair of the two texts, or null when memory runs out.
  static StringPair* Create(const char* first, const char* second);

  // Replaces one text; an empty or null text leaves that side absent. False when memory runs
  // out (that side then absent).
  bool setFirst(const char* text);
  bool setFirst(std::string_view text);
  bool setSecond(const char* text);
  bool setSecond(std::string_view text);

  // The buffers, owned by the pair; null when absent.
  StringBuffer* first() const { return first_.get(); }
  StringBuffer* second() const { return second_.get(); }
  // The texts; "" when absent.
  const char* firstText() const;
  const char* secondText() const;

 private:
  static bool Set(std::unique_ptr<StringBuffer>& side, std::string_view text);

  std::unique_ptr<StringBuffer> first_;
  std::unique_ptr<StringBuffer> second_;
};

}  // namespace quillon
