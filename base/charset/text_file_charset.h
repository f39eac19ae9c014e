// Saving a text to a file in a named charset, as the output files of the application are
// written. Only whole-file writes; appending and reading back are not here.
#pragma once

#include "base/xstring.h"

namespace quillon {

// Writes text to path in the named charset (null means "ansi"). "ansi" (any case) writes the
// ANSI form unchanged; any other name converts the UTF-16 form (or, when that is not current,
// the UTF-8 form) with its byte-order mark ("utf-8" starts EF BB BF, "unicode" FF FE); an
// unrecognised name keeps the source form and writes its mark. False when the charset has no
// converter (nothing is written) or the file cannot be written; no log is kept.
bool SaveTextInCharset(XString& text, const char* charset, const char* path);

}  // namespace quillon
