// JSON texts read in place and written by hand: enough for the messages of a browser's
// debugging protocol. Nothing builds a tree; a value is found by member name and decoded on
// demand. Every reader checks its bounds and nests at most kMaxDepth levels, so a damaged or
// hostile text is a false result, never a crash or a deep recursion.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/string_buffer.h"

namespace quillon {

class JsonText {
 public:
  static constexpr int kMaxDepth = 64;

  // True when text is one JSON value, with white space around it at most.
  static bool IsValid(std::string_view text);
  // The text of member name of the object text (leading white space allowed) in value, as a
  // view into text. False when text is no object or has no such member; names are compared
  // as written, escapes and all.
  static bool Member(std::string_view object, std::string_view name, std::string_view& value);
  // A string value decoded to UTF-8 (escapes, surrogate pairs; a lone surrogate becomes
  // U+FFFD). False when value is no string or memory runs out; out then holds a prefix.
  static bool ReadString(std::string_view value, StringBuffer& out);
  // An integer value that fits 64 bits; false for anything else (fractions, exponents too).
  static bool ReadInt(std::string_view value, int64_t& out);
  // true or false.
  static bool ReadBool(std::string_view value, bool& out);

  // Appends text as a JSON string, quotes included. Bytes from 0x80 on are copied as they are
  // (the caller's text is UTF-8); control characters are escaped. False on no memory.
  static bool AppendString(StringBuffer& out, std::string_view text);

 private:
  // Moves pos past one value (and the white space before it); false when it is not valid.
  static bool SkipValue(std::string_view text, size_t& pos);
  static bool SkipString(std::string_view text, size_t& pos);
  static bool SkipNumber(std::string_view text, size_t& pos);
};

}  // namespace quillon
