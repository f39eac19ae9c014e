#include "http/http_result.h"

#include "base/html_help.h"
#include "base/parse_engine.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

constexpr const char* kFallbackCharset = "windows-1252";

bool HasHighByte(const DataBuffer& body) {
  for (char c : body.view()) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// Whether the code page reads every byte below 0x80 as ASCII (UTF-8, US-ASCII, the Windows
// 125x and ISO 8859 pages): a body without a higher byte is then UTF-8 as it stands.
bool IsAsciiCompatible(int codePage) {
  return codePage == kCodePageUtf8 || codePage == kCodePageUsAscii ||
         (codePage >= 1250 && codePage <= 1258) || (codePage >= 28591 && codePage <= 28605);
}

}  // namespace

void HttpResult::reset() {
  redirected = false;
  redirectStatus = 0;
  redirectHops = 0;
  answerMs = 0;
  fromCache = false;
  needsReconnect = false;
  loginOffered = false;
  socketFlags = SocketFlags();
  finalUrl.clear();
  cacheState = 0;
  busyAnswers = 0;
  bodyDropped = false;
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
  const bool highByte = HasHighByte(body);
  if (charset.isEmpty() && highByte &&
      result.header.fieldContains("content-type", "text/html")) {
    if (!HtmlHelp::GetMetaCharset(body.view(), charset)) return false;
    charset.trim();
  }
  if (charset.isEmpty() && !charset.assign(kFallbackCharset)) return false;

  const int codePage = CodePageForCharsetName(charset.getString());
  // Most pages are plain ASCII: converting them byte by byte would change nothing.
  if (!highByte && IsAsciiCompatible(codePage)) {
    return text.append(reinterpret_cast<const char*>(body.data()), body.length());
  }
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
