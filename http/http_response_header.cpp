#include "http/http_response_header.h"

#include <climits>

#include "base/ascii.h"
#include "base/data_buffer.h"
#include "base/parse_engine.h"
#include "base/platform.h"
#include "base/charset/text_conversion.h"

namespace quillon {

namespace {

constexpr int kCodePageIso2022Jp = 50222;
constexpr int kCodePageLatin2 = 28592;
// Longer charset names in an encoded word are not names.
constexpr size_t kMaxCharsetName = 64;

// Charset names looked for in an 8-bit head, in this order; the first that occurs in the head
// and converts it without loss decides. The second run repeats names on purpose: it is the
// order the library has always used.
struct NamedCodePage {
  const char* name;
  int codePage;
};
constexpr NamedCodePage kHeaderCharsets[] = {
    {"windows-1250", 1250},  {"windows-1251", 1251},   {"windows-1252", 1252},
    {"windows-1253", 1253},  {"windows-1254", 1254},   {"windows-1255", 1255},
    {"windows-1256", 1256},  {"windows-1257", 1257},   {"windows-1258", 1258},
    {"iso-8859-1", 28591},   {"iso-8859-2", 28592},    {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},   {"iso-8859-5", 28595},    {"iso-8859-6", 28596},
    {"iso-8859-7", 28597},   {"iso-8859-8", 28598},    {"koi8-r", 20866},
    {"koi8-u", 21866},       {"GB2312", 936},          {"shift_jis", 932},
    {"ks_c_5601-1987", 949}, {"windows-874", 874},     {"big5", 950},
    {"iso-8859-2", 28592},   {"iso-8859-3", 28593},    {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},   {"iso-8859-6", 28596},    {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},   {"iso-8859-9", 28599},    {"windows-1250", 1250},
    {"windows-1251", 1251},  {"windows-1252", 1252},   {"windows-1253", 1253},
    {"windows-1254", 1254},  {"windows-1255", 1255},   {"windows-1256", 1256},
    {"windows-1257", 1257},  {"koi8-r", 20866},        {"koi8-u", 21866},
};

bool ConvertsCleanly(int codePage, std::string_view block) {
  DataBuffer scratch;
  bool lossless = false;
  // Into UTF-16: a conversion to the same code page would copy the bytes without checking them.
  return ConvertCodePage(codePage, kCodePageUtf16Le, block.data(),
                         static_cast<uint32_t>(block.size()), scratch, &lossless) &&
         lossless;
}

// The charset of the first well-formed encoded word ("=?charset?Q?" or "?B?"), or 0.
int EncodedWordCodePage(std::string_view block) {
  for (size_t open = block.find("=?"); open != std::string_view::npos;
       open = block.find("=?", open + 2)) {
    size_t question = block.find('?', open + 2);
    if (question == std::string_view::npos) return 0;
    if (question - open - 2 > kMaxCharsetName || question + 2 >= block.size()) continue;
    char kind = LowerAscii(block[question + 1]);
    if ((kind != 'q' && kind != 'b') || block[question + 2] != '?') continue;
    StringBuffer name;
    if (!name.assign(block.substr(open + 2, question - open - 2))) return 0;
    int codePage = CodePageForCharsetName(name.getString());
    if (codePage != 0) return codePage;
  }
  return 0;
}

// Chooses the code page of the head's 8-bit values (0: none needed or none found). A 7-bit
// head in ISO-2022-JP is converted whole into converted, which then replaces the block.
int ChooseHeaderCodePage(std::string_view block, DataBuffer& converted, bool& useConverted) {
  useConverted = false;
  int codePage = EncodedWordCodePage(block);
  if (codePage != 0) return codePage;
  if (IsSevenBit(block)) {
    if (block.find("\x1b$B") != std::string_view::npos ||
        block.find("\x1b(B") != std::string_view::npos) {
      if (ConvertCodePage(kCodePageIso2022Jp, kCodePageUtf8, block.data(),
                          static_cast<uint32_t>(block.size()), converted)) {
        useConverted = true;
        return kCodePageUtf8;
      }
    }
    return 0;
  }
  for (const NamedCodePage& candidate : kHeaderCharsets) {
    if (FindNoCase(block, candidate.name) != nullptr &&
        ConvertsCleanly(candidate.codePage, block)) {
      return candidate.codePage;
    }
  }
  for (size_t i = 0; i + 1 < block.size(); ++i) {
    uint8_t c = static_cast<uint8_t>(block[i]);
    if ((c == 0xC2 || c == 0xC3) && static_cast<uint8_t>(block[i + 1]) >= 0x80) {
      return kCodePageUtf8;
    }
  }
  if (ConvertsCleanly(AnsiCodePage(), block)) return AnsiCodePage();
  if (ConvertsCleanly(kCodePageLatin1, block)) return kCodePageLatin1;
  return kCodePageLatin2;
}

// Calls visit(line) for each line of block split at CR LF, at most kMaxHeaderLines of them.
template <class Visit>
void ForEachLine(std::string_view block, Visit visit) {
  size_t pos = 0;
  for (uint32_t n = 0; n < HttpResponseHeader::kMaxHeaderLines; ++n) {
    size_t end = block.find("\r\n", pos);
    visit(block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    if (end == std::string_view::npos) return;
    pos = end + 2;
  }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The name of the field a line starts, or an empty view for skipped, continuation and
// colon-less lines.
std::string_view FieldNameOf(std::string_view line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t' || StartsWith(line, "From ")) return {};
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  return Trimmed(line.substr(0, colon));
}

// Reads the Content-Length value: blanks skipped, an optional "+", decimal digits. No digits
// give 0; a "-" or a number past 64 bits is invalid.
bool ReadContentLength(std::string_view text, uint64_t& length) {
  length = 0;
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '-') return false;
  if (i < text.size() && text[i] == '+') ++i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (length > (UINT64_MAX - digit) / 10) return false;
    length = length * 10 + digit;
  }
  return true;
}

}  // namespace

void HttpResponseHeader::reset() {
  statusCode = 0;
  reasonText.clear();
  statusLine.clear();
  fields.clear();
  contentLength = 0;
  hasContentLength = false;
  contentLengthInvalid = false;
}

bool HttpResponseHeader::copyFrom(const HttpResponseHeader& other) {
  if (&other == this) return true;
  statusCode = other.statusCode;
  contentLength = other.contentLength;
  hasContentLength = other.hasContentLength;
  contentLengthInvalid = other.contentLengthInvalid;
  return reasonText.assign(other.reasonText) && statusLine.assign(other.statusLine) &&
         fields.copyFrom(other.fields);
}

bool HttpResponseHeader::parse(std::string_view head) {
  reset();
  const size_t cr = head.find('\r');
  std::string_view line = head.substr(0, cr);
  if (!statusLine.assign(line)) return false;
  if (!StartsWith(head, "HTTP")) return true;

  // The code is the number after the first space of the status line.
  size_t pos = line.find(' ');
  if (pos == std::string_view::npos) return true;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  int code = 0;
  size_t digits = pos;
  for (; digits < line.size() && line[digits] >= '0' && line[digits] <= '9'; ++digits) {
    if (code > (INT_MAX - 9) / 10) return true;  // not a number that can be read
    code = code * 10 + (line[digits] - '0');
  }
  if (digits == pos) return true;
  statusCode = code;

  // Without a reason phrase (or a CR ending the line) the fields are not read.
  size_t space = line.find(' ', digits);
  if (space == std::string_view::npos || cr == std::string_view::npos) return true;
  if (!reasonText.assign(Trimmed(line.substr(space + 1)))) return false;

  if (const char* found = FindNoCase(head, "\r\nContent-Length:")) {
    hasContentLength = true;
    size_t valueStart = static_cast<size_t>(found - head.data()) + 17;
    size_t valueEnd = head.find("\r\n", valueStart);
    if (!ReadContentLength(head.substr(valueStart, valueEnd == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : valueEnd - valueStart),
                           contentLength)) {
      contentLengthInvalid = true;
      contentLength = 0;
    }
  }

  size_t start = cr;
  while (start < head.size() && IsBlankOrLineEnd(head[start])) ++start;
  std::string_view block = head.substr(start);
  size_t end = block.find("\r\n\r\n");
  if (end == std::string_view::npos) end = block.find("\n\r\n");
  if (end == std::string_view::npos) end = block.find("\r\n\r");
  if (end != std::string_view::npos) block = block.substr(0, end);
  if (!parseFields(block)) return false;
  return !contentLengthInvalid;
}

bool HttpResponseHeader::parseFields(std::string_view block) {
  DataBuffer converted;
  bool useConverted = false;
  const int codePage = ChooseHeaderCodePage(block, converted, useConverted);
  if (useConverted) block = converted.view();
  fields.setCodePage(codePage == 0 ? kCodePageUtf8 : codePage);

  // Of several Content-Type fields only the last survives, where it stood.
  uint32_t contentTypes = 0;
  ForEachLine(block, [&](std::string_view line) {
    if (EqualsNoCase(FieldNameOf(line), "content-type")) ++contentTypes;
  });

  bool ok = true;
  bool pending = false;
  uint32_t contentTypeSeen = 0;
  std::string_view name;
  StringBuffer value;
  auto flush = [&]() {
    if (!pending || !ok) return;
    pending = false;
    std::string_view text = Trimmed(value.view());
    if (EqualsNoCase(name, "content-type")) {
      if (++contentTypeSeen != contentTypes || text.empty()) return;
    }
    DataBuffer utf8;
    if (!IsSevenBit(text) && codePage != 0 && codePage != kCodePageUtf8 &&
        ConvertCodePage(codePage, kCodePageUtf8, text.data(), static_cast<uint32_t>(text.size()),
                        utf8)) {
      text = utf8.view();
    }
    ok = fields.addField(name, text);
  };

  ForEachLine(block, [&](std::string_view line) {
    if (!ok) return;
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      if (!pending) return;
      std::string_view rest = line.substr(1);
      std::string_view unindented = rest;
      while (!unindented.empty() && (unindented[0] == ' ' || unindented[0] == '\t')) {
        unindented.remove_prefix(1);
      }
      if (StartsWith(unindented, "=?")) rest = unindented;
      ok = value.append(rest);
      return;
    }
    flush();
    name = FieldNameOf(line);
    if (name.empty()) return;
    pending = true;
    ok = value.assign(line.substr(line.find(':') + 1));
  });
  flush();
  return ok;
}

bool HttpResponseHeader::getField(std::string_view name, StringBuffer& out) const {
  return fields.getFieldValue(name, out);
}

bool HttpResponseHeader::getAttribute(std::string_view name, std::string_view attr,
                                      StringBuffer& out) const {
  const MimeField* field = fields.getField(name);
  if (field == nullptr) return false;
  std::string_view value = field->value.view();
  size_t partStart = 0;
  bool inQuotes = false;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size()) {
      char c = value[i];
      if (c == '\\' && i + 1 < value.size()) {
        ++i;
        continue;
      }
      if (c == '"') inQuotes = !inQuotes;
      if (c != ';' || inQuotes) continue;
    }
    std::string_view part = value.substr(partStart, i - partStart);
    partStart = i + 1;
    size_t equals = part.find('=');
    if (equals == std::string_view::npos || !EqualsNoCase(Trimmed(part.substr(0, equals)), attr)) {
      continue;
    }
    std::string_view result = Trimmed(part.substr(equals + 1));
    if (result.size() >= 2 && result.front() == '"' && result.back() == '"') {
      result = result.substr(1, result.size() - 2);
    }
    return out.append(result);
  }
  return false;
}

bool HttpResponseHeader::fieldContains(std::string_view name, const char* text) const {
  const MimeField* field = fields.getField(name);
  return field != nullptr && FindNoCase(field->value.getString(), text) != nullptr;
}

bool HttpResponseHeader::renderFields(StringBuffer& out) const { return fields.renderLines(out); }

bool HttpResponseHeader::LooksLikeBareHtml(std::string_view received) {
  std::string_view probe = received.substr(0, kBareHtmlProbe);
  return StartsWith(probe, "<!---") || FindNoCase(probe, "<html") != nullptr;
}

void HttpResponseHeader::markBareHtml() {
  reset();
  statusCode = 200;
}

}  // namespace quillon
