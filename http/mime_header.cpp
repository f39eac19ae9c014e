#include "http/mime_header.h"

#include <new>

#include "base/ascii.h"
#include "base/content_coding.h"
#include "base/log_base.h"

namespace quillon {

namespace {

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Writes a 7-bit value with "\r\n\t" after each ";" (and, for long address lists, ",") that
// stands outside double quotes once the line has grown past kFoldAfterColumn characters.
bool AppendFolded(std::string_view value, uint32_t column, StringBuffer& head) {
  const bool foldCommas =
      value.size() > MimeHeader::kFoldCommaMinLength && value.find('@') != std::string_view::npos;
  bool inQuotes = false;
  size_t pieceStart = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    ++column;
    if (c == '"') {
      inQuotes = !inQuotes;
      continue;
    }
    if (inQuotes || column <= MimeHeader::kFoldAfterColumn) continue;
    if (c == ';' || (c == ',' && foldCommas)) {
      if (!head.append(value.substr(pieceStart, i + 1 - pieceStart)) || !head.append("\r\n\t")) {
        return false;
      }
      pieceStart = i + 1;
      column = 1;  // the tab
    }
  }
  return head.append(value.substr(pieceStart));
}

}  // namespace

bool MimeField::setValue(std::string_view text) {
  StringBuffer work;
  if (!work.assign(text)) return false;
  if ((work.contains("?Q?") || work.contains("?B?") || work.contains("?q?") ||
       work.contains("?b?")) &&
      !ContentCoding::decodeWords(work)) {
    return false;
  }
  if (work.contains("\n")) {
    work.replaceAll("\r\n\t", "");
    work.replaceAll("\r\n ", "");
  }
  return value.assign(work);
}

bool MimeHeader::IsNoFoldName(std::string_view name) {
  return EqualsNoCase(name, "user-agent") || EqualsNoCase(name, "accept") ||
         EqualsNoCase(name, "accept-charset");
}

bool MimeHeader::append(std::string_view name, std::string_view value) {
  MimeField* field = new (std::nothrow) MimeField();
  if (field == nullptr) return false;
  if (!field->name.assign(name) || !field->setValue(value)) {
    delete field;
    return false;
  }
  field->noFold = IsNoFoldName(name);
  if (!fields_.append(field)) {
    delete field;
    return false;
  }
  return true;
}

bool MimeHeader::setField(std::string_view name, std::string_view value) {
  removeField(name);
  if (Trimmed(value).empty()) return true;
  return append(name, value);
}

bool MimeHeader::addField(std::string_view name, std::string_view value) {
  return append(name, value);
}

void MimeHeader::removeField(std::string_view name) {
  for (int i = fields_.count() - 1; i >= 0; --i) {
    if (EqualsNoCase(fields_.at<MimeField>(i)->name.view(), name)) delete fields_.removeAt(i);
  }
}

void MimeHeader::clear() {
  fields_.removeAllAndDelete();
  codePage_ = kCodePageUtf8;
}

bool MimeHeader::copyFrom(const MimeHeader& other) {
  if (&other == this) return true;
  clear();
  codePage_ = other.codePage_;
  for (int i = 0; i < other.count(); ++i) {
    const MimeField* source = other.fieldAt(i);
    MimeField* field = new (std::nothrow) MimeField();
    if (field == nullptr || !field->name.assign(source->name) ||
        !field->value.assign(source->value) || !fields_.append(field)) {
      delete field;
      return false;
    }
    field->noFold = source->noFold;
  }
  return true;
}

const MimeField* MimeHeader::getField(std::string_view name) const {
  for (int i = 0; i < fields_.count(); ++i) {
    const MimeField* field = fields_.at<MimeField>(i);
    if (EqualsNoCase(field->name.view(), name)) return field;
  }
  return nullptr;
}

bool MimeHeader::getFieldValue(std::string_view name, StringBuffer& out) const {
  const MimeField* field = getField(name);
  return field != nullptr && out.append(field->value);
}

bool MimeHeader::renderLines(StringBuffer& out) const {
  for (int i = 0; i < fields_.count(); ++i) {
    const MimeField* field = fields_.at<MimeField>(i);
    if (!out.append(field->name) || !out.append(": ") || !out.append(field->value) ||
        !out.append("\r\n")) {
      return false;
    }
  }
  return true;
}

bool MimeHeader::appendRequestLines(StringBuffer& head, LogBase& log) const {
  for (int i = 0; i < fields_.count(); ++i) {
    const MimeField* field = fields_.at<MimeField>(i);
    std::string_view value = field->value.view();
    const bool sevenBit = IsSevenBit(value);
    // A bare line break would let a value smuggle in header lines of its own; encoded words
    // carry CR and LF escaped, so only 7-bit values can do that.
    if (HoldsLineBreak(field->name.view()) || (sevenBit && HoldsLineBreak(value))) {
      log.addError("Header field holds a CR or LF character.");
      log.addTag("fieldName", field->name.getString());
      return false;
    }
    if (!head.append(field->name) || !head.append(": ")) return false;
    bool ok;
    if (!sevenBit) {
      ok = ContentCoding::encodeWordsQ(value.data(), static_cast<uint32_t>(value.size()), "utf-8",
                                       head);
    } else if (field->noFold) {
      ok = head.append(value);
    } else {
      ok = AppendFolded(value, field->name.length() + 2, head);
    }
    if (!ok || !head.append("\r\n")) return false;
  }
  return true;
}

}  // namespace quillon
