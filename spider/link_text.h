// Character references in attribute values: "&amp;" "&lt;" "&gt;" "&quot;" "&apos;", "&#N;" and
// "&#xH;" become the characters they name (UTF-8), so an href reads as the browser reads it.
// Other named entities, references without ";" and references to invalid code points stay.
#pragma once

#include "base/string_buffer.h"

namespace quillon {

// Decodes the references of text in place; false when memory runs out (the text may then be
// empty).
bool DecodeCharacterReferences(StringBuffer& text);

}  // namespace quillon
