#include "http/http_result.h"

#include "base/html_help.h"
#include "base/parse_engine.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

constexpr const char* kFallbackCharset = "windows-1252";

bool HasHighByte(const DataBuffer& body) {
  const uint8_t* bytes = body.data();
  for (uint32_t i = 0; i < body.length(); ++i) {
    if (bytes[i] >= 0x80) return true;
  }
  return false;
}

}  // namespace

void HttpResult::reset() {
  redirected = false;
  fromCache = false;
  needsReconnect = false;
  socketFlags = SocketFlags();
  finalUrl.clear();
  cacheState = 0;
  header.reset();
  error.clear();
}

bool CharsetOfResponse(const HttpResult& result, StringBuffer& charset) {
  uint32_t before = charset.length();
  if (!result.header.getAttribute("content-type", "charset", charset)) {
    return charset.length() == before;  // absent: nothing appended, not a failure
  }
  return true;
}

bool DecodeTextBody(HttpResult& result, const DataBuffer& body, StringBuffer& text) {
  StringBuffer charset;
  if (!CharsetOfResponse(result, charset)) return false;
  charset.trim();
  if (charset.isEmpty() && HasHighByte(body) &&
      result.header.fieldContains("content-type", "text/html")) {
    if (!HtmlHelp::GetMetaCharset(body.view(), charset)) return false;
    charset.trim();
  }
  if (charset.isEmpty() && !charset.assign(kFallbackCharset)) return false;

  const int codePage = CodePageForCharsetName(charset.getString());
  if (codePage != kCodePageUtf8 && codePage != kCodePageUsAscii) {
    DataBuffer utf8;
    if (ConvertCodePage(codePage, kCodePageUtf8, body.data(), body.length(), utf8) &&
        !utf8.isEmpty()) {
      return text.append(reinterpret_cast<const char*>(utf8.data()), utf8.length());
    }
    if (codePage == 0) result.warnings.add(FetchWarningKind::kCharsetUnknown);
  }
  return text.append(reinterpret_cast<const char*>(body.data()), body.length());
}

}  // namespace quillon
