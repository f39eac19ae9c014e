#include "base/charset/text_conversion.h"

#include "base/charset/charset.h"
#include "base/charset/encoding_convert.h"

namespace quillon {

bool ConvertCodePage(int fromCodePage, int toCodePage, const void* bytes, uint32_t length,
                     DataBuffer& out, bool* lossless) {
  EncodingConvert converter;
  bool result = converter.convert(fromCodePage, toCodePage, bytes, length, out);
  bool ok = !converter.unsupported() && !converter.outOfMemory();
  if (lossless != nullptr) *lossless = ok && result && !converter.droppedAny();
  return ok;
}

int CodePageForCharsetName(const char* name) { return codePageForName(name); }

}  // namespace quillon
